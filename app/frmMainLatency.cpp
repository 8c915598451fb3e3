// Options > Measure Latency: a few clicks played through the speakers and looked for in the
// microphone measure how much later than the sound server says the singer is heard. The figure
// is kept in the settings and moves every take (and so its score) by that much; when the
// microphone hears nothing (headphones) the server's figures stay alone.
#include <QAction>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QMenu>
#include <QSettings>
#include <cmath>

#include "LatencyProbe.h"
#include "VRMixer.h"
#include "frmMain.h"

Q_LOGGING_CATEGORY(lcLatency, "orivelR.latency")

namespace {

constexpr char kMessageTitle[] = "orivelR";
constexpr char kRoundTripSetting[] = "latency/roundTripMs";

}  // namespace

void frmMain::latencySetup() {
  actMeasureLatency = new QAction("Measure Latency", this);
  actMeasureLatency->setObjectName("actMeasureLatency");
  mnutil->addAction(actMeasureLatency);
  connect(actMeasureLatency, &QAction::triggered, this, &frmMain::actMeasureLatency_Click);
}

void frmMain::actMeasureLatency_Click() {
  if (!session.allows(player::Session::Control::Record)) return;
  const std::string source =
      VRMixer1 ? VRMixer1->recordSourceName() : std::string(audiolib::kDefaultSource);
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  const recorder::LatencyProbeResult r =
      recorder::measureRoundTrip(source, [] { QCoreApplication::processEvents(); });
  QGuiApplication::restoreOverrideCursor();
  if (!r.roundTripMs) {
    qCWarning(lcLatency) << "no round trip measured:" << QString::fromStdString(r.why);
    app::services().messages->show(
        app::kStyleInformation, kMessageTitle,
        "Il microfono non ha sentito i click (cuffie?): restano le latenze del server.");
    return;
  }
  QSettings().setValue(kRoundTripSetting, *r.roundTripMs);
  app::services().messages->show(
      app::kStyleInformation, kMessageTitle,
      QString("Latenza misurata: %1 ms").arg(std::lround(*r.roundTripMs)));
}

int64_t frmMain::roundTripNs() {
  return std::llround(QSettings().value(kRoundTripSetting, 0.0).toDouble() * 1e6);
}
