// The main window's level meter: the meter control lumo1 set up when the window loads, the
// "Vmeter" item that switches it off, the calibration slider and the two needle meters drawn
// from the bytes lumo1 meters.
#include <QAction>
#include <QLabel>
#include <QSlider>

#include "LumoCtl.h"
#include "NeedleMeter.h"
#include "frmMain.h"

void frmMain::connectMeterHandlers() {
  connect(vmet, &QAction::triggered, this, &frmMain::vmet_Click);
  connect(hsCalibration, &QSlider::valueChanged, this, &frmMain::hsCalibration_Change);
  connect(lumo1, &LumoCtl::PeakValues, this, &frmMain::lumo1_PeakValues);
}

void frmMain::meterSetup() {
  lumo1->setSoundDriver(3);
  // The needles turn about one pivot, a little left of the middle and near the bottom of the
  // left picture.
  const QPointF pivot(picanalogl->width() / 2.0 - 3, picanalogl->height() - 22);
  picanalogl->setPivot(pivot);
  picanalogr->setPivot(pivot);
  lumo1->setStyle(LumoCtl::scVU);
  lumo1->setQuality(LumoCtl::qc44S16);
  lumo1->setCalibration(3.5f);
  lumo1->setResolution(LumoCtl::rcBest);
  // The meter starts on the system's default microphone (device 0 is no device of the list).
  lumo1->setSoundDriver(lumo1->DefaultSoundDriver());
  if (vmet->isChecked()) lumo1->StartVU();
}

void frmMain::vmet_Click() {
  // A checkable action has already toggled itself when this runs.
  if (!vmet->isChecked()) {
    vmet->setEnabled(false);
    lumo1->StopVU();
  }
}

void frmMain::hsCalibration_Change() {
  calibrationFactor = float(hsCalibration->value()) / 10;
  lumo1->setCalibration(calibrationFactor);
  lblFactor->setText(QString("(x%1)").arg(double(calibrationFactor)));
}

void frmMain::lumo1_PeakValues(const QByteArray& Values, int FromPos, int ToPos) {
  const auto bytes =
      std::span(reinterpret_cast<const uint8_t*>(Values.constData()), size_t(Values.size()));
  const auto values =
      needle::needleValues(bytes, FromPos, ToPos, lumo1->Quality(), calibrationFactor);
  picanalogl->setShown(needleLeft.push(values[0]));
  picanalogr->setShown(needleRight.push(values[1]));
}
