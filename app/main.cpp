// orivelR: the karaoke workstation. The warning window comes first; accepting it opens the
// main window.
#include <QApplication>

#include "Form2.h"
#include "ScreenshotTour.h"
#include "Services.h"
#include "SignalExit.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("orivelR");
  // A logout or Ctrl+C ends the program as its own exit does: the engine stops first.
  app::endOnSignals([](int) { app::services().exit->end(0); });
  Form2 warning;
  warning.show();
  startScreenshotTour(warning);
  return app.exec();
}
