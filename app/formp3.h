// The help window: the program's manual (in Italian) in a read-only text box, and a button that
// closes the window.
#pragma once

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

class formp3 : public QWidget {
  Q_OBJECT
 public:
  explicit formp3(QWidget* owner);
  QPlainTextEdit* Text2;
  QPushButton* Command1;
  void Form_Load();
  void Command1_Click();
};

// The manual's text.
QString manualText();
