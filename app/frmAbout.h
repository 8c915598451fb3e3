// The about window: the program's name and version, and the libraries it stands on.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

class frmAbout : public QWidget {
  Q_OBJECT
 public:
  explicit frmAbout(QWidget* owner);
  QLabel* lblAbout;
  QPushButton* cmdOK;
};

// The text of the about window.
QString aboutText();
