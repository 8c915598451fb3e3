#include "DemoWindow.h"

#include <QDir>
#include <QFile>
#include <QTime>

#include "LumoCtl.h"
#include "ui_DemoWindow.h"

namespace {
constexpr int kRecordSeconds = 5;
}

DemoWindow::DemoWindow(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::DemoWindow>()) {
  ui_->setupUi(this);
  // Every update is logged: keep the last few thousand lines.
  ui_->txtLog->setMaximumBlockCount(2000);
  LumoCtl* m = ui_->lumo1;
  m->setQuality(LumoCtl::qc44S16);
  fillDevices();
  ui_->cboStyle->setCurrentIndex(m->Style());
  ui_->cboOrientation->setCurrentIndex(m->Orientation());
  ui_->spnNumVUs->setValue(m->NumVUs());
  ui_->lblState->setText(QString::number(m->State()));

  connect(ui_->cboDevice, &QComboBox::currentIndexChanged, this,
          [m](int index) { m->setSoundDriver(index + 1); });
  connect(ui_->cmdStartVU, &QPushButton::clicked, m, &LumoCtl::StartVU);
  connect(ui_->cmdStopVU, &QPushButton::clicked, m, &LumoCtl::StopVU);
  connect(ui_->cmdRecord, &QPushButton::clicked, this, [this, m] {
    const QString file = takeFile();
    QFile::remove(file);
    m->setFileName(file);
    m->StartRecording(kRecordSeconds);
  });
  connect(ui_->cmdPlay, &QPushButton::clicked, this, [this, m] {
    m->setFileName(takeFile());
    m->StartPlaying(false);
  });
  connect(ui_->cboStyle, &QComboBox::currentIndexChanged, m, &LumoCtl::setStyle);
  connect(ui_->cboOrientation, &QComboBox::currentIndexChanged, m, &LumoCtl::setOrientation);
  connect(ui_->spnNumVUs, &QSpinBox::valueChanged, m, [m](int n) { m->setNumVUs(qint16(n)); });

  connect(m, &LumoCtl::StateChanged, this, [this](int s) {
    ui_->lblState->setText(QString::number(s));
    log(QString("StateChanged %1").arg(s));
  });
  connect(m, &LumoCtl::Error, this, [this](int number, const QString& message) {
    log(QString("Error 0x%1 %2").arg(uint32_t(number), 8, 16, QChar('0')).arg(message));
  });
  connect(m, &LumoCtl::SavedBytes, this,
          [this](double bytes) { log(QString("SavedBytes %1").arg(bytes, 0, 'f', 0)); });
  connect(m, &LumoCtl::PeakValues, this, [this](const QByteArray& values, int from, int to) {
    log(QString("PeakValues %1 bytes, %2 … %3").arg(values.size()).arg(from).arg(to));
  });
  connect(m, &LumoCtl::Click, this, [this] { log("Click"); });
  connect(m, &LumoCtl::DblClick, this, [this] { log("DblClick"); });
  const auto mouse = [this](const char* what) {
    return [this, what](qint16 button, qint16 shift, float x, float y) {
      log(QString("%1 %2 %3 (%4, %5)").arg(what).arg(button).arg(shift).arg(x).arg(y));
    };
  };
  connect(m, &LumoCtl::MouseDown, this, mouse("MouseDown"));
  connect(m, &LumoCtl::MouseMove, this, mouse("MouseMove"));
  connect(m, &LumoCtl::MouseUp, this, mouse("MouseUp"));
  connect(m, &LumoCtl::PropertyChanged, this,
          [this](const QString& name) { log("PropertyChanged " + name); });
}

DemoWindow::~DemoWindow() = default;

void DemoWindow::fillDevices() {
  LumoCtl* m = ui_->lumo1;
  for (int i = 1; i <= m->SoundDriversCount(); ++i)
    ui_->cboDevice->addItem(QString("%1 (%2)").arg(
        m->SoundDriverName(i),
        m->SoundDriverType(i) == LumoCtl::sdtcInput ? tr("capture") : tr("output")));
  const int preferred = m->DefaultSoundDriver();
  if (preferred >= 1 && preferred <= m->SoundDriversCount()) {
    ui_->cboDevice->setCurrentIndex(preferred - 1);
    m->setSoundDriver(preferred);
  }
}

QString DemoWindow::takeFile() const {
  return QDir(QDir::tempPath()).filePath("lumodemo.wav");
}

void DemoWindow::log(const QString& line) {
  ui_->txtLog->appendPlainText(QTime::currentTime().toString("HH:mm:ss.zzz ") + line);
}
