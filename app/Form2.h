// The warning window the program opens with: the user accepts the terms ("Accetto") and the
// main window opens, or declines ("Non Accetto", Escape) and the program ends.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;
class frmMain;

class Form2 : public QDialog {
  Q_OBJECT
 public:
  explicit Form2(QWidget* parent = nullptr);
  frmMain* mainWindow() const { return main_; }

  QPlainTextEdit* Text2;
  QPushButton* Command1;  // "Accetto"
  QPushButton* Command2;  // "Non Accetto"

  void Command1_Click();
  void Command2_Click();

 protected:
  void reject() override;

 private:
  frmMain* main_ = nullptr;
};

// The disclaimer shown in Text2.
extern const char* const kDisclaimer;
