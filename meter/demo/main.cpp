// lumodemo: the meter control in a small window of its own.
//
//   lumodemo                     the window; press "Start VU" and sing
//   lumodemo --screenshot FILE   starts the meter, saves a picture of the window after 1.5 s
#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <cstring>

#include "DemoWindow.h"
#include "LumoCtl.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  DemoWindow window;
  window.show();
  if (argc == 3 && !std::strcmp(argv[1], "--screenshot")) {
    const QString file = QString::fromLocal8Bit(argv[2]);
    window.findChild<LumoCtl*>("lumo1")->StartVU();
    QTimer::singleShot(1500, &window,
                       [&window, file] { QApplication::exit(window.grab().save(file) ? 0 : 1); });
  }
  return app.exec();
}
