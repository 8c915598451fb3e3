// LumoCtl: the control's properties, methods and state machine, the notification handler
// that meters, records and refills on the engine's capture and playback notifications, the
// play monitor, the LED rows and the oscilloscope picture. The engine (modDXAPI) owns the
// devices, buffers and the open file; modRender does the arithmetic of what is drawn.
#include "LumoCtl.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QSettings>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <system_error>

#include "modDXAPI.h"
#include "modRender.h"

namespace {

Q_LOGGING_CATEGORY(lcLumo, "lumometer", QtWarningMsg)

constexpr int32_t kErrNotRunning = int32_t(0x80040001);
constexpr int32_t kErrRecordWhilePlaying = int32_t(0x80040002);
constexpr int32_t kErrRecordNotRunning = int32_t(0x80040003);
constexpr int32_t kErrNotSaving = int32_t(0x80040004);
constexpr int32_t kErrPlayWhileRecording = int32_t(0x80040005);
constexpr int32_t kErrNotPlaying = int32_t(0x80040006);
constexpr int32_t kErrQuality = int32_t(0x80040007);
constexpr int32_t kErrStyle = int32_t(0x80040008);
constexpr int32_t kErrResolution = int32_t(0x80040009);
constexpr int32_t kErrTargetExists = int32_t(0x8004000F);
constexpr int32_t kErrCanNotRecord = int32_t(0x80040010);
constexpr int32_t kErrNoWavFile = int32_t(0x80040012);

constexpr qint64 kButtonFace = 0x8000000FLL;
constexpr int kPlayMonitorMs = 10;
// At most this many notifications per wake-up, so that the window never starves.
constexpr int kDrainBatch = 256;

// The control whose tables the engine's notifications belong to (the one that last started
// capture or playback), and whether this thread is inside the drain already: the handler
// lets window events run, and a nested drain would run notifications out of order.
thread_local LumoCtl* notificationOwner = nullptr;
thread_local bool draining = false;
// A level computation is running (it lets window events run, so a monitor tick or a
// notification can arrive inside it).
thread_local bool busy = false;

std::string codeOf(int quality) {
  const auto& codes = lumo::QualityCodes();
  if (quality < 1 || size_t(quality) > codes.size()) return {};
  return codes[size_t(quality - 1)];
}

// Copies `count` bytes from a looping buffer of `size` bytes, starting at `start`, in at most
// two pieces, so that no read runs past the buffer's end.
template <typename Buffer>
void readLooping(const Buffer& buffer, uint32_t start, uint32_t count, uint8_t* out) {
  const uint32_t size = buffer.size();
  if (size == 0 || count == 0) return;
  start %= size;
  const uint32_t first = std::min(count, size - start);
  buffer.read(start, first, out);
  if (count > first) buffer.read(0, std::min(count - first, size), out + first);
}

void writeLooping(lumo::OutputBuffer& buffer, uint32_t start, uint32_t count,
                  const uint8_t* bytes) {
  const uint32_t size = buffer.size();
  if (size == 0 || count == 0) return;
  start %= size;
  const uint32_t first = std::min(count, size - start);
  buffer.write(start, first, bytes);
  if (count > first) buffer.write(0, std::min(count - first, size), bytes + first);
}

// VB-style mouse button and shift masks: 1 left, 2 right, 4 middle; 1 Shift, 2 Ctrl, 4 Alt.
qint16 buttonMask(Qt::MouseButtons b) {
  return qint16(((b & Qt::LeftButton) ? 1 : 0) | ((b & Qt::RightButton) ? 2 : 0) |
                ((b & Qt::MiddleButton) ? 4 : 0));
}
qint16 shiftMask(Qt::KeyboardModifiers m) {
  return qint16(((m & Qt::ShiftModifier) ? 1 : 0) | ((m & Qt::ControlModifier) ? 2 : 0) |
                ((m & Qt::AltModifier) ? 4 : 0));
}

// The oscilloscope surface: the scaled background as its persistent picture and the traces
// of the last update over it. It lets mouse events through to the control.
class OscPicture : public QWidget {
 public:
  explicit OscPicture(QWidget* parent) : QWidget(parent) {
    setObjectName("picOsc");
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }
  void setPicture(const QPixmap& picture) {
    picture_ = picture;
    update();
  }
  void setTraces(const lumo::OscTrace& trace, const QColor& left, const QColor& right) {
    trace_ = trace;
    left_ = left;
    right_ = right;
    update();
  }
  // Clearing brings the background back.
  void clear() {
    if (trace_.left.isEmpty() && trace_.right.isEmpty()) return;
    trace_ = {};
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    if (picture_.isNull())
      p.fillRect(rect(), Qt::black);
    else
      p.drawPixmap(0, 0, picture_);
    if (trace_.left.size() > 1) {
      p.setPen(left_);
      p.drawPolyline(trace_.left);
    }
    if (trace_.right.size() > 1) {
      p.setPen(right_);
      p.drawPolyline(trace_.right);
    }
  }

 private:
  QPixmap picture_;
  lumo::OscTrace trace_;
  QColor left_, right_;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// The property bag on QSettings

LumoSettingsBag::LumoSettingsBag(QSettings& settings, const QString& group)
    : settings_(settings), group_(group) {}

QVariant LumoSettingsBag::read(const QString& name, const QVariant& fallback) const {
  return settings_.value(group_ + "/" + name, fallback);
}

void LumoSettingsBag::write(const QString& name, const QVariant& value) {
  settings_.setValue(group_ + "/" + name, value);
}

void LumoSettingsBag::remove(const QString& name) {
  settings_.remove(group_ + "/" + name);
}

// ---------------------------------------------------------------------------------------

class LumoCtlPrivate {
 public:
  enum class Metered { Done, Failed, Busy };
  enum class Source { Work, Monitor };

  struct Led {
    QRect rect;
    QColor colour;
  };

  explicit LumoCtlPrivate(LumoCtl* control) : q(control) {}

  LumoCtl* q;
  bool running = false;
  bool saving = false;
  bool playing = false;
  bool stoppingPlayback = false;
  bool destroying = false;
  int32_t secondsLimit = 0;
  int Orientation = LumoCtl::ocVertical;
  int previousOrientation = LumoCtl::ocVertical;
  int Quality = LumoCtl::qc11S08;
  int Style = LumoCtl::scVU;
  QString FileName;
  bool EnableRendering = true;
  int Resolution = LumoCtl::rcGood;
  int State = LumoCtl::scIdle;
  QString Background;
  lumo::MeterColours colours;
  int SoundDriver = 1;
  float Calibration = 1.0f;
  qint16 NumVUs = 32;
  qint64 BackgroundColor = kButtonFace;
  QString FileQualityCode;
  int32_t lastReportedError = 0;
  // The Values of PeakValues, kept from one update to the next so that its memory is reused
  // (a host that keeps an update's array gets its own copy on the next one).
  QByteArray values;
  int32_t playRemaining = 0;
  int32_t playDecrement = 0;
  std::vector<lumo::DriverEntry> drivers;

  // The LED rows and what the meter paints with.
  std::vector<Led> vuL, vuR;
  lumo::ColourTables colourTables;
  lumo::LevelHistory history;
  OscPicture* picOsc = nullptr;
  QPixmap tmpPic;
  QTimer* tmrPlayMon = nullptr;
  QSocketNotifier* notifier = nullptr;

  lumo::DXEngine& eng() const { return lumo::engine(); }
  std::string qualityCode() const { return codeOf(Quality); }
  lumo::DriverEntry driverEntry() const {
    if (SoundDriver >= 1 && size_t(SoundDriver) <= drivers.size())
      return drivers[size_t(SoundDriver - 1)];
    return {};  // the system's default device
  }

  void markChanged(const char* name) {
    if (!destroying) emit q->PropertyChanged(QString::fromLatin1(name));
  }
  void raiseError(int32_t number, const QString& message) {
    qCDebug(lcLumo) << "Error" << Qt::hex << uint32_t(number) << message;
    emit q->Error(number, message);
  }
  void raiseEngineError() {
    raiseError(eng().LastErrorNumber, QString::fromStdString(eng().LastErrorMessage));
  }
  void letEventsRun() {
    if (!destroying) QCoreApplication::processEvents();
  }

  void SetState(int s) {
    if (s == LumoCtl::scStopPlaying) {
      emit q->StateChanged(LumoCtl::scStopPlaying);
      letEventsRun();
      s = running ? LumoCtl::scRunning : LumoCtl::scIdle;
    }
    State = s;
    markChanged("State");
    emit q->StateChanged(s);
  }

  void ensureNotifier() {
    if (notifier) return;
    const int fd = eng().notificationFd();
    if (fd < 0) return;
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, q);
    QObject::connect(notifier, &QSocketNotifier::activated, q, [] { drainNotifications(); });
  }

  // Hands every waiting notification to the control that owns the tables; the queue is
  // emptied even when no control owns them, so that the descriptor goes quiet.
  static void drainNotifications() {
    if (draining) return;
    draining = true;
    int32_t id = 0;
    for (int n = 0; n < kDrainBatch && lumo::engine().takeNotification(id); ++n)
      if (notificationOwner) notificationOwner->DXCallback(id);
    draining = false;
  }

  // ---- rendering

  void buildLedRows() {
    const size_t n = size_t(std::max<int>(NumVUs, 0));
    vuL.assign(n, Led{});
    vuR.assign(n, Led{});
  }

  void setColour(qint64& field, qint64 colour, const char* name) {
    field = colour;
    markChanged(name);
    buildColourTables();
  }

  void buildColourTables() {
    colourTables = lumo::buildColourTables(NumVUs, colours);
    resetLeds();
  }

  void paintLed(std::vector<Led>& row, int i, const QColor& colour) {
    Led& led = row[size_t(i)];
    if (led.colour == colour) return;
    led.colour = colour;
    q->update(led.rect);
  }

  void resetLeds() {
    for (size_t i = 0; i < vuL.size() && i < colourTables.off.size(); ++i) {
      paintLed(vuL, int(i), colourTables.off[i]);
      paintLed(vuR, int(i), colourTables.off[i]);
    }
  }

  // All LEDs off and the oscilloscope back to its background.
  void resetMeter() {
    resetLeds();
    if (picOsc) picOsc->clear();
  }

  void applyRun(std::vector<Led>& row, const lumo::LedRun& run) {
    for (int i = run.from; i <= run.to && size_t(i) < row.size(); ++i)
      paintLed(row, i, run.on ? colourTables.on[size_t(i)] : colourTables.off[size_t(i)]);
  }

  void layout() {
    if (Style == LumoCtl::scVU) {
      if (vuL.size() < size_t(std::max<int>(NumVUs, 0))) {
        buildLedRows();
        buildColourTables();
      }
      const lumo::LedGeometry g = lumo::layoutLeds(q->width(), q->height(), NumVUs, Orientation);
      for (size_t i = 0; i < vuL.size() && i < g.vuL.size(); ++i) {
        vuL[i].rect = g.vuL[i];
        vuR[i].rect = g.vuR[i];
      }
    } else {
      const int id = lumo::oscBackgroundId(qualityCode());
      picOsc->setGeometry(q->rect());
      QImage picture;
      if (!Background.isEmpty() && QFileInfo(Background).isFile()) picture.load(Background);
      if (picture.isNull()) picture = lumo::oscBackground(id);
      tmpPic = QPixmap(q->size().expandedTo(QSize(1, 1)));
      QPainter p(&tmpPic);
      p.drawImage(QRect(0, 0, tmpPic.width(), tmpPic.height()), picture);
      p.end();
      picOsc->setPicture(tmpPic);
    }
    q->update();
  }

  // ---- metering

  std::vector<uint8_t>& sourceArray(Source s) {
    return s == Source::Work ? eng().workArray : eng().monitorArray;
  }

  // The level computation over FromPos … ToPos of the work or monitor array: LED levels or
  // the oscilloscope trace.
  Metered ComputeLevels(Source source, const std::string& code, int32_t FromPos, int32_t ToPos,
                        bool skip) {
    if (skip) return Metered::Done;
    if (eng().PeakStep == 0) {
      eng().LastErrorMessage = "Rendering Engine: Precision Error";
      eng().LastErrorNumber = lumo::kErrPrecision;
      return Metered::Failed;
    }
    if (busy) return Metered::Busy;
    busy = true;
    letEventsRun();
    // The events may have stopped capture or resized the arrays: take the bytes only now.
    const std::vector<uint8_t>& array = sourceArray(source);
    const std::span<const uint8_t> bytes(array.data(), array.size());
    if (Style == LumoCtl::scVU) {
      if (auto levels =
              lumo::vuLevels(bytes, code, FromPos, ToPos, eng().PeakStep, NumVUs, Calibration)) {
        const lumo::LedUpdate u = lumo::ShowLevels(history, levels->left, levels->right, NumVUs);
        applyRun(vuL, u.left);
        applyRun(vuR, u.right);
      }
    } else if (picOsc) {
      if (auto trace = lumo::oscTrace(bytes, code, FromPos, ToPos, eng().PeakStep, Calibration,
                                      picOsc->width(), picOsc->height()))
        picOsc->setTraces(*trace, colourTables.traceLeft, colourTables.traceRight);
    }
    busy = false;
    return Metered::Done;
  }

  // Meters the stretch of capture notification i: everything captured so far in this pass is
  // copied out, and the stretch since the previous notification is metered.
  Metered captureMeterStep(int i, int32_t& FromPos, int32_t& ToPos) {
    const auto& table = eng().CaptureNotifyTable;
    const lumo::SampleLayout layout = lumo::layoutOfCode(qualityCode());
    FromPos = lumo::alignToFrame(int32_t(table[size_t(i - 1)].offset) + i + 1,
                                 std::max(layout.blockAlign(), 1));
    ToPos = int32_t(table[size_t(i)].offset);
    lumo::CaptureBuffer* buffer = eng().captureBuffer.get();
    if (!buffer) return Metered::Done;
    int32_t capture = 0, read = 0;
    buffer->getCurrentPosition(capture, read);
    if (read <= 0) return Metered::Done;
    const uint32_t count = std::min(uint32_t(read), buffer->size());
    eng().workArray.resize(count);
    buffer->read(0, count, eng().workArray.data(), false);
    return ComputeLevels(Source::Work, qualityCode(), FromPos, ToPos, !EnableRendering);
  }

  const QByteArray& valuesOf(const std::vector<uint8_t>& bytes) {
    values.resize(qsizetype(bytes.size()));  // detaches first when a host still holds it
    if (!bytes.empty()) std::memcpy(values.data(), bytes.data(), bytes.size());
    return values;
  }

  void captureNotification(int32_t eventid) {
    auto& table = eng().CaptureNotifyTable;
    if (table.size() < 67) return;
    const bool atWrap = eventid == table[0].event;
    if ((atWrap || eventid == table[66].event) && saving) {
      eng().saveStep(qualityCode(), atWrap, false);
      emit q->SavedBytes(eng().SavedByteCount);
      if (secondsLimit > 0 && q->SavedTime(LumoCtl::rtfcSimple).value(0) >= float(secondsLimit))
        q->StopRecording();
    }
    for (int i = 1; i <= 65; ++i) {
      if (size_t(i) >= table.size() || table[size_t(i)].event != eventid) continue;
      int32_t FromPos = 0, ToPos = 0;
      switch (captureMeterStep(i, FromPos, ToPos)) {
        case Metered::Done: {
          lastReportedError = 0;
          const auto& work = eng().workArray;
          emit q->PeakValues(valuesOf(work), FromPos, ToPos);
          break;
        }
        case Metered::Failed:
          if (eng().LastErrorNumber != lastReportedError) {
            lastReportedError = eng().LastErrorNumber;
            raiseEngineError();
          }
          break;
        case Metered::Busy:  // another computation runs: this stretch is simply not shown
          break;
      }
      break;
    }
  }

  // After a rewind the countdown is spread over the notifications of one pass through the
  // output buffer, so that it runs out one second after the file's last byte has played.
  void rewind() {
    eng().rewind(playRemaining, playDecrement);
    const auto passes = eng().PlaybackNotifyTable.size();
    if (passes > 0) playDecrement = int32_t(std::lround(2.0 * eng().half / double(passes)));
  }

  // Fills `count` bytes of `out` from the playback file; a looped file starts again at its
  // first audio byte when it runs out, so the loop has no gap.
  void readPlayback(uint8_t* out, uint32_t count) {
    if (!eng().playLooped) {
      eng().readFile(out, count);
      return;
    }
    uint32_t got = 0;
    bool rewound = false;
    while (got < count) {
      const size_t n = eng().recordFile.read(out + got, count - got);
      got += uint32_t(n);
      if (got == count) break;
      if (n == 0 && rewound) break;  // a file without audio
      rewind();
      rewound = true;
    }
    std::fill(out + got, out + count, eng().silenceByte());
  }

  void playbackNotification(int32_t eventid) {
    if (stoppingPlayback) return;
    const auto& table = eng().PlaybackNotifyTable;
    const auto entry = std::find_if(table.begin(), table.end(),
                                    [&](const lumo::NotifyEntry& e) { return e.event == eventid; });
    // Only the output buffer's own notifications measure how far the file has played.
    if (entry == table.end()) return;
    const auto index = entry - table.begin();
    playRemaining -= playDecrement;
    if (eng().fileAtEnd() && playRemaining <= 0 && !eng().playLooped) {
      q->StopPlaying();
      return;
    }
    uint32_t refill = 0;
    if (index == 4)
      refill = 0;
    else if (index == 0)
      refill = eng().half;
    else
      return;
    lumo::OutputBuffer* buffer = eng().outputBuffer.get();
    if (!buffer || eng().half == 0) return;
    auto& work = eng().workArray;
    work.resize(eng().half);
    readPlayback(work.data(), eng().half);
    writeLooping(*buffer, refill, eng().half, work.data());
  }

  // The play monitor: meters what the output buffer is about to play.
  void playMonitorTick() {
    lumo::OutputBuffer* buffer = eng().outputBuffer.get();
    if (!playing || !buffer) return;
    int32_t play = 0, write = 0;
    buffer->getCurrentPosition(play, write);
    const int32_t block = eng().monitorBlock;
    auto& monitor = eng().monitorArray;
    monitor.resize(size_t(std::max(block, 0)));
    readLooping(*buffer, uint32_t(std::max(play, 0)), uint32_t(monitor.size()), monitor.data());
    ComputeLevels(Source::Monitor, FileQualityCode.toStdString(), 0, block, !EnableRendering);
    emit q->PeakValues(valuesOf(monitor), 0, block);
  }

  // ---- start and stop

  void closePlaybackQuietly() {
    tmrPlayMon->stop();
    eng().closePlayback();
    playing = false;
  }

  void startRecording(int Seconds) {
    eng().SavedByteCount = 0;
    secondsLimit = Seconds > 0 ? Seconds : 0;
    lumo::CaptureBuffer* buffer = eng().captureBuffer.get();
    if (!buffer) {
      raiseError(kErrCanNotRecord, "Control can not record. Error (" + QString::number(ENODEV) +
                                       ") " + QString::fromLocal8Bit(std::strerror(ENODEV)));
      return;
    }
    buffer->stop();
    int32_t failure = 0;
    if (!eng().recordFile.create(FileName.toStdString(), eng().captureFormat, &failure,
                                 &eng().LastErrorMessage)) {
      eng().LastErrorNumber = lumo::kErrStream;
      raiseEngineError();
      buffer->start(true);
      return;
    }
    eng().saveStep(qualityCode(), false, true);
    buffer->start(true);
    saving = true;
    SetState(LumoCtl::scSaving);
  }
};

// ---------------------------------------------------------------------------------------

LumoCtl::LumoCtl(QWidget* parent) : QWidget(parent), d(std::make_unique<LumoCtlPrivate>(this)) {
  setObjectName("LumoCtl");
  setMouseTracking(true);
  d->drivers = lumo::enumerateDrivers();
  setSoundDriver(1);
  (void)lumo::QualityCodes();
  d->picOsc = new OscPicture(this);
  d->picOsc->hide();
  d->tmrPlayMon = new QTimer(this);
  d->tmrPlayMon->setObjectName("tmrPlayMon");
  d->tmrPlayMon->setInterval(kPlayMonitorMs);
  connect(d->tmrPlayMon, &QTimer::timeout, this, [this] { d->playMonitorTick(); });
  d->buildLedRows();
  d->buildColourTables();
  d->ensureNotifier();
  resize(64, 160);
}

LumoCtl::~LumoCtl() {
  // The host hears nothing more from a control that is going away, and no window events run
  // inside the destructor.
  d->destroying = true;
  blockSignals(true);
  if (d->running) StopVU();
  // Playback without capture would otherwise go on with nobody to refill or end it.
  if (d->playing) StopPlaying();
  d->eng().releaseCaptureNotifications();
  d->eng().releasePlaybackNotifications();
  if (notificationOwner == this) notificationOwner = nullptr;
}

qint64 LumoCtl::BackgroundColor() const {
  return d->BackgroundColor;
}
void LumoCtl::setBackgroundColor(qint64 colour) {
  d->BackgroundColor = colour;
  d->markChanged("BackgroundColor");
  d->layout();
}

qint16 LumoCtl::NumVUs() const {
  return d->NumVUs;
}
void LumoCtl::setNumVUs(qint16 count) {
  d->NumVUs = count;
  d->buildLedRows();
  d->buildColourTables();
  d->layout();
}

QString LumoCtl::Version() const {
  return QStringLiteral("2.0.8");
}

void LumoCtl::StartVU() {
  auto& eng = d->eng();
  eng.releaseCaptureNotifications();
  const std::string code = d->qualityCode();
  if (code.empty()) {
    // A Quality read from a property bag that no let would take: no device takes it.
    eng.LastErrorNumber = lumo::kErrCaptureFormat;
    eng.LastErrorMessage = "Error Initializing the Capture Device";
    d->raiseEngineError();
    return;
  }
  if (!eng.openCapture(d->Quality, code, d->driverEntry())) {
    d->raiseEngineError();
    return;
  }
  d->history.resetShown();
  d->running = true;
  d->ensureNotifier();
  notificationOwner = this;
  eng.setupCaptureNotifications(d->Resolution);
  if (eng.captureBuffer) eng.captureBuffer->start(true);
  d->SetState(scRunning);
}

void LumoCtl::StopVU() {
  if (d->saving) StopRecording();
  if (d->playing) StopPlaying();
  if (!d->running) {
    d->raiseError(kErrNotRunning, "Control is not running");
    return;
  }
  d->eng().closeCapture();
  d->running = false;
  d->resetMeter();
  d->SetState(scIdle);
}

void LumoCtl::StartRecording(int Seconds) {
  if (!d->running) {
    d->raiseError(kErrRecordNotRunning,
                  "Control can not record when is not running. Use StartVU first.");
    return;
  }
  if (d->playing) {
    d->raiseError(kErrRecordWhilePlaying, "Control can not record while playing");
    return;
  }
  try {
    if (!d->FileName.isEmpty() && QFileInfo::exists(d->FileName)) {
      d->raiseError(kErrTargetExists, "Target file already exists");
      return;
    }
    d->startRecording(Seconds);
  } catch (const std::system_error& e) {
    d->raiseError(kErrCanNotRecord, "Control can not record. Error (" +
                                        QString::number(e.code().value()) + ") " + e.what());
  } catch (const std::exception& e) {
    d->raiseError(kErrCanNotRecord, QString("Control can not record. Error (0) ") + e.what());
  }
}

void LumoCtl::StopRecording() {
  if (!d->saving) {
    d->raiseError(kErrNotSaving, "Control is not saving. Use StartSave first");
    return;
  }
  auto& eng = d->eng();
  d->SetState(scStopSaving);
  d->saving = false;
  eng.LastErrorNumber = 0;
  eng.LastErrorMessage.clear();
  errno = 0;
  if (!eng.recordFile.finalise()) {
    if (eng.LastErrorNumber == 0) {
      const int e = errno ? errno : EIO;
      eng.LastErrorNumber = lumo::kErrStream;
      eng.LastErrorMessage =
          "Stream cannot be Created. Error (" + std::to_string(e) + ") " + std::strerror(e);
    }
    d->raiseEngineError();
  }
  d->SetState(scRunning);
}

void LumoCtl::StartPlaying(bool PlayLooped) {
  if (d->saving) {
    d->raiseError(kErrPlayWhileRecording, "Control can not play while recording");
    return;
  }
  auto& eng = d->eng();
  // Playing again while playing starts the new file in place of the old one.
  if (d->playing) d->closePlaybackQuietly();
  eng.releasePlaybackNotifications();
  if (!eng.openPlayback(d->FileName.toStdString(), d->driverEntry())) {
    d->raiseEngineError();
    return;
  }
  d->history.resetShown();
  d->FileQualityCode = QString::fromStdString(lumo::codeOfFormat(eng.fileFormat));
  d->playing = true;
  eng.playLooped = PlayLooped;
  eng.monitorBlock = int32_t(std::nearbyint(eng.fileFormat.avgBytesPerSec / 50.0));
  eng.monitorArray.assign(size_t(std::max(eng.monitorBlock, 0)), 0);
  d->tmrPlayMon->start();
  d->ensureNotifier();
  notificationOwner = this;
  eng.setupPlaybackNotifications(d->Resolution);
  d->rewind();
  // One second of silence first: the refills then run half a buffer ahead of the play cursor.
  eng.workArray.assign(eng.half, eng.silenceByte());
  if (lumo::OutputBuffer* buffer = eng.outputBuffer.get()) {
    writeLooping(*buffer, 0, eng.half, eng.workArray.data());
    writeLooping(*buffer, eng.half, eng.half, eng.workArray.data());
    buffer->setCurrentPosition(0);
    buffer->play(true);
  }
  d->SetState(scPlaying);
}

void LumoCtl::StopPlaying() {
  if (!d->playing) {
    d->raiseError(kErrNotPlaying, "Control is not playing");
    return;
  }
  if (d->stoppingPlayback) return;
  d->stoppingPlayback = true;
  auto& eng = d->eng();
  d->tmrPlayMon->stop();
  if (eng.outputBuffer) eng.outputBuffer->stop();
  d->SetState(scStopPlaying);
  d->playing = false;
  eng.closePlayback();
  d->stoppingPlayback = false;
  d->SetState(d->running ? scRunning : scIdle);
  d->resetMeter();
}

int LumoCtl::Orientation() const {
  return d->Orientation;
}
void LumoCtl::setOrientation(int orientation) {
  d->Orientation = orientation;
  d->markChanged("Orientation");
  if (orientation != d->previousOrientation) resize(height(), width());
  d->previousOrientation = orientation;
  d->layout();
}

void LumoCtl::GetFileQuality() {
  if (d->FileName.isEmpty() || !QFileInfo(d->FileName).isFile()) {
    d->raiseError(kErrNoWavFile, "No WAV file is loaded");
    return;
  }
  const auto& codes = lumo::QualityCodes();
  const std::string wanted = d->FileQualityCode.toStdString();
  for (int q = 1; q <= 2048; q <<= 1)
    if (size_t(q) <= codes.size() && !codes[size_t(q - 1)].empty() &&
        codes[size_t(q - 1)] == wanted)
      d->Quality = q;
}

int LumoCtl::Quality() const {
  return d->Quality;
}
void LumoCtl::setQuality(int quality) {
  if (codeOf(quality).empty()) {
    d->raiseError(kErrQuality, "Quality setting out of range");
    return;
  }
  d->Quality = quality;
  d->markChanged("Quality");
  d->layout();
}

int LumoCtl::Style() const {
  return d->Style;
}
void LumoCtl::setStyle(int style) {
  if (style != scVU && style != scOsc) {
    d->raiseError(kErrStyle, "Style setting out of range");
    return;
  }
  d->Style = style;
  d->markChanged("Style");
  d->picOsc->setVisible(style == scOsc);
  d->layout();
}

int LumoCtl::Resolution() const {
  return d->Resolution;
}
void LumoCtl::setResolution(int resolution) {
  if (resolution >= 1) {
    d->Resolution = resolution;
    d->eng().computePeakStep(resolution, false);
  } else {
    d->raiseError(kErrResolution, "Resolution setting out of range");
  }
  d->markChanged("Resolution");
}

int LumoCtl::State() const {
  return d->State;
}

QString LumoCtl::FileName() const {
  return d->FileName;
}
void LumoCtl::setFileName(const QString& name) {
  d->FileName = name;
  d->markChanged("FileName");
}

void LumoCtl::setEnableRendering(bool enable) {
  d->EnableRendering = enable;
  d->markChanged("EnableRendering");
}
bool LumoCtl::EnableRendering() const {
  return d->EnableRendering;
}

QString LumoCtl::Background() const {
  return d->Background;
}
void LumoCtl::setBackground(const QString& path) {
  d->Background = path;
  d->markChanged("Background");
  d->layout();
}

qint64 LumoCtl::RedOFF() const {
  return d->colours.RedOFF;
}
void LumoCtl::setRedOFF(qint64 colour) {
  d->setColour(d->colours.RedOFF, colour, "RedOFF");
}
qint64 LumoCtl::RedON() const {
  return d->colours.RedON;
}
void LumoCtl::setRedON(qint64 colour) {
  d->setColour(d->colours.RedON, colour, "RedON");
}
qint64 LumoCtl::GreenOFF() const {
  return d->colours.GreenOFF;
}
void LumoCtl::setGreenOFF(qint64 colour) {
  d->setColour(d->colours.GreenOFF, colour, "GreenOFF");
}
qint64 LumoCtl::GreenON() const {
  return d->colours.GreenON;
}
void LumoCtl::setGreenON(qint64 colour) {
  d->setColour(d->colours.GreenON, colour, "GreenON");
}
qint64 LumoCtl::YellowOFF() const {
  return d->colours.YellowOFF;
}
void LumoCtl::setYellowOFF(qint64 colour) {
  d->setColour(d->colours.YellowOFF, colour, "YellowOFF");
}
qint64 LumoCtl::YellowON() const {
  return d->colours.YellowON;
}
void LumoCtl::setYellowON(qint64 colour) {
  d->setColour(d->colours.YellowON, colour, "YellowON");
}

QVector<float> LumoCtl::SavedTime(int TimeFormat) const {
  return lumo::SavedTimeOf(d->eng().SavedByteCount, d->eng().captureFormat, TimeFormat);
}

int LumoCtl::SoundDriversCount() const {
  return int(d->drivers.size());
}
int LumoCtl::SoundDriver() const {
  return d->SoundDriver;
}
void LumoCtl::setSoundDriver(int driver) {
  if (driver >= 1 && driver <= SoundDriversCount()) d->SoundDriver = driver;
}

QString LumoCtl::SoundDriverName(int idx) const {
  if (idx < 1 || idx > SoundDriversCount()) return {};
  return QString::fromStdString(d->drivers[size_t(idx - 1)].Name);
}
int LumoCtl::SoundDriverType(int idx) const {
  if (idx < 1 || idx > SoundDriversCount()) return 0;
  return d->drivers[size_t(idx - 1)].Type;
}
QString LumoCtl::SoundDriverDescription(int idx) const {
  if (idx < 1 || idx > SoundDriversCount()) return {};
  return QString::fromStdString(d->drivers[size_t(idx - 1)].Description);
}

float LumoCtl::Calibration() const {
  return d->Calibration;
}
void LumoCtl::setCalibration(float calibration) {
  if (calibration > 0) d->Calibration = calibration;
}

void LumoCtl::DXCallback(int eventid) {
  if (d->playing)
    d->playbackNotification(eventid);
  else
    d->captureNotification(eventid);
}

void LumoCtl::ReadProperties(const LumoPropertyBag& bag) {
  const lumo::MeterColours defaults;
  d->Calibration = bag.read("Calibration", 1.0).toFloat();
  d->Orientation = bag.read("Orientation", int(ocVertical)).toInt();
  d->Quality = bag.read("Quality", int(qc11S08)).toInt();
  d->Style = bag.read("Style", int(scVU)).toInt();
  d->FileName = bag.read("FileName", QString()).toString();
  d->Resolution = bag.read("Resolution", int(rcGood)).toInt();
  d->Background = bag.read("Background", QString()).toString();
  d->colours.RedOFF = bag.read("RedOFF", defaults.RedOFF).toLongLong();
  d->colours.RedON = bag.read("RedON", defaults.RedON).toLongLong();
  d->colours.GreenOFF = bag.read("GreenOFF", defaults.GreenOFF).toLongLong();
  d->colours.GreenON = bag.read("GreenON", defaults.GreenON).toLongLong();
  d->colours.YellowOFF = bag.read("YellowOFF", defaults.YellowOFF).toLongLong();
  d->colours.YellowON = bag.read("YellowON", defaults.YellowON).toLongLong();
  d->EnableRendering = bag.read("EnableRendering", true).toBool();
  d->NumVUs = qint16(bag.read("NumVUs", 32).toInt());
  d->BackgroundColor = bag.read("BackgroundColor", kButtonFace).toLongLong();
  d->previousOrientation = d->Orientation;
  d->buildLedRows();
  d->buildColourTables();
  d->resetMeter();
  d->picOsc->setVisible(d->Style == scOsc);
  d->layout();
}

void LumoCtl::WriteProperties(LumoPropertyBag& bag) const {
  const lumo::MeterColours defaults;
  const auto put = [&bag](const char* name, const QVariant& value, bool isDefault) {
    if (isDefault)
      bag.remove(QString::fromLatin1(name));
    else
      bag.write(QString::fromLatin1(name), value);
  };
  put("Calibration", double(d->Calibration), d->Calibration == 1.0f);
  put("Orientation", d->Orientation, d->Orientation == ocVertical);
  put("Quality", d->Quality, d->Quality == qc11S08);
  put("Style", d->Style, d->Style == scVU);
  put("FileName", d->FileName, d->FileName.isEmpty());
  put("Resolution", d->Resolution, d->Resolution == rcGood);
  put("Background", d->Background, d->Background.isEmpty());
  put("GreenOFF", d->colours.GreenOFF, d->colours.GreenOFF == defaults.GreenOFF);
  put("GreenON", d->colours.GreenON, d->colours.GreenON == defaults.GreenON);
  put("RedOFF", d->colours.RedOFF, d->colours.RedOFF == defaults.RedOFF);
  put("RedON", d->colours.RedON, d->colours.RedON == defaults.RedON);
  put("YellowOFF", d->colours.YellowOFF, d->colours.YellowOFF == defaults.YellowOFF);
  put("YellowON", d->colours.YellowON, d->colours.YellowON == defaults.YellowON);
  put("EnableRendering", d->EnableRendering, d->EnableRendering);
  put("NumVUs", int(d->NumVUs), d->NumVUs == 32);
  put("BackgroundColor", d->BackgroundColor, d->BackgroundColor == kButtonFace);
}

QString LumoCtl::FileQualityCode() const {
  return d->FileQualityCode;
}

int LumoCtl::DefaultSoundDriver() const {
  return lumo::defaultCaptureDriver(d->drivers);
}

// ---- drawing and events

void LumoCtl::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  p.fillRect(event->rect(), lumo::oleColour(d->BackgroundColor, palette()));
  if (d->Style != scVU) return;
  for (const auto* row : {&d->vuL, &d->vuR})
    for (const auto& led : *row)
      if (led.rect.intersects(event->rect())) p.fillRect(led.rect, led.colour);
}

void LumoCtl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  d->layout();
}

void LumoCtl::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  d->layout();
}

namespace {
// A double click ends with a release that is no click.
thread_local bool releaseEndsDoubleClick = false;
}  // namespace

void LumoCtl::mousePressEvent(QMouseEvent* event) {
  emit MouseDown(buttonMask(event->button()), shiftMask(event->modifiers()),
                 float(event->position().x()), float(event->position().y()));
}

void LumoCtl::mouseMoveEvent(QMouseEvent* event) {
  emit MouseMove(buttonMask(event->buttons()), shiftMask(event->modifiers()),
                 float(event->position().x()), float(event->position().y()));
}

void LumoCtl::mouseReleaseEvent(QMouseEvent* event) {
  emit MouseUp(buttonMask(event->button()), shiftMask(event->modifiers()),
               float(event->position().x()), float(event->position().y()));
  if (releaseEndsDoubleClick) {
    releaseEndsDoubleClick = false;
    return;
  }
  if (rect().contains(event->position().toPoint())) emit Click();
}

void LumoCtl::mouseDoubleClickEvent(QMouseEvent* event) {
  releaseEndsDoubleClick = true;
  emit DblClick();
}
