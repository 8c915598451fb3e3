#include "LumoCtlPlugin.h"

#include <QIcon>
#include <QPainter>
#include <QPixmap>

#include "LumoCtl.h"

LumoCtlPlugin::LumoCtlPlugin(QObject* parent) : QObject(parent) {}

QString LumoCtlPlugin::name() const {
  return QStringLiteral("LumoCtl");
}
QString LumoCtlPlugin::group() const {
  return QStringLiteral("LumoMeter");
}
QString LumoCtlPlugin::toolTip() const {
  return QStringLiteral("Sound level meter");
}
QString LumoCtlPlugin::whatsThis() const {
  return QStringLiteral(
      "A sound level meter: LED rows or an oscilloscope of a capture device, recording to and "
      "playing back WAV files.");
}
// The installed package puts include/LumoMeter on the include path.
QString LumoCtlPlugin::includeFile() const {
  return QStringLiteral("LumoCtl.h");
}

// The toolbox icon: two short LED rows, green below, yellow and red on top.
QIcon LumoCtlPlugin::icon() const {
  QPixmap pix(16, 15);
  pix.fill(Qt::transparent);
  QPainter p(&pix);
  for (int i = 0; i < 5; ++i) {
    const QColor c = i < 3 ? QColor(0, 255, 0) : i < 4 ? QColor(255, 255, 0) : QColor(255, 0, 0);
    const int top = 12 - i * 3;
    p.fillRect(1, top, 6, 2, c);
    p.fillRect(9, top, 6, 2, c);
  }
  return QIcon(pix);
}

bool LumoCtlPlugin::isContainer() const {
  return false;
}
QWidget* LumoCtlPlugin::createWidget(QWidget* parent) {
  return new LumoCtl(parent);
}
bool LumoCtlPlugin::isInitialized() const {
  return initialized_;
}
void LumoCtlPlugin::initialize(QDesignerFormEditorInterface*) {
  initialized_ = true;
}

QString LumoCtlPlugin::domXml() const {
  return QStringLiteral(
      "<ui language=\"c++\">\n"
      " <widget class=\"LumoCtl\" name=\"lumoCtl\">\n"
      "  <property name=\"geometry\">\n"
      "   <rect><x>0</x><y>0</y><width>64</width><height>160</height></rect>\n"
      "  </property>\n"
      " </widget>\n"
      "</ui>\n");
}
