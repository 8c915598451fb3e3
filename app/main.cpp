// orivelR: the karaoke workstation. The warning window comes first; accepting it opens the
// main window. "orivelR SONG" (as a file manager starts it) then opens SONG as its menu would.
#include <QApplication>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>

#include "Form2.h"
#include "ScreenshotTour.h"
#include "Services.h"
#include "SignalExit.h"
#include "frmMain.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("orivelR");
  // A logout or Ctrl+C ends the program as its own exit does: the engine stops first.
  app::endOnSignals([](int) { app::services().exit->end(0); });
  Form2 warning;
  warning.show();
  const QStringList args = QApplication::arguments();
  if (args.size() > 1 && !args[1].startsWith('-')) {
    const QString song = QFileInfo(args[1]).absoluteFilePath();  // before start-up moves away
    // Connected after the warning's own handler: the main window is up when this runs.
    QObject::connect(warning.Command1, &QPushButton::clicked, &warning, [&warning, song] {
      QTimer::singleShot(0, &warning, [&warning, song] {
        if (frmMain* w = warning.mainWindow(); w && w->isVisible()) w->openFromCommandLine(song);
      });
    });
  }
  startScreenshotTour(warning);
  return app.exec();
}
