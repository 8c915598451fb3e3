#include <QApplication>

#include "DemoWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  DemoWindow window;
  window.show();
  return app.exec();
}
