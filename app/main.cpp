// orivelR: the karaoke workstation. The warning window comes first; accepting it opens the
// main window.
#include <QApplication>

#include "Form2.h"
#include "ScreenshotTour.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("orivelR");
  Form2 warning;
  warning.show();
  startScreenshotTour(warning);
  return app.exec();
}
