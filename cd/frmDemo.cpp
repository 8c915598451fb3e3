#include "frmDemo.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QGroupBox>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSlider>
#include <cmath>

#include "Rip.h"
#include "Seconds2HMS.h"
#include "Services.h"
#include "TrackList.h"
#include "WorkFolder.h"

namespace {

// The one CD window the engine's notifications go to (resolved on the window's thread).
QPointer<frmDemo> gWindow;

const char* const kRWFlagCaptions[15] = {
    "Drive can read CD-R media",
    "Drive can read CD-RW media",
    "Drive can read CD-R/RW media \"method 2\"",
    "Drive can read DVD-ROM media",
    "Drive can read DVD-R media",
    "Drive can read DVD-RAM media",
    "Drive can read in \"mode 2 form 1\" format",
    "Drive can read in \"mode 2 form 2\" format",
    "Drive can read multi-session discs",
    "Drive can read CD audio",
    "Drive supports \"stream is accurate\"",
    "Drive can be opened / closed",
    "Drive can be locked",
    "Drive is locked",
    "Drive is open",
};
constexpr int kRWFlagBits[11] = {0, 1, 2, 3, 4, 5, 20, 21, 22, 24, 25};
const char* const kTagBoxes[8] = {"Title",  "Artist",    "Album Title", "Description",
                                  "Rating", "Copyright", "Genre",       "Year"};

QString kbps(DWORD value) {
  return QLocale(QLocale::English).toString(qulonglong(value)) + " Kbps";
}

}  // namespace

frmDemo::frmDemo(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("frmDemo");
  setWindowTitle("CD Player &  Ripper");
  build();
  connectHandlers();
  gWindow = this;
  Form_Load();
}

frmDemo::~frmDemo() {
  tmrPlaybackPosition.stop();
  if (cdStream) BASS_StreamFree(cdStream);
}

// ---- layout ---------------------------------------------------------------------------------

void frmDemo::build() {
  auto label = [this](const char* name, const QString& text, int x, int y, int w, int h = 18) {
    auto* l = new QLabel(text, this);
    l->setObjectName(name);
    l->setGeometry(x, y, w, h);
    return l;
  };
  Label1 = label("Label1", "Select CD Drive : ", 10, 12, 110);
  cmbCDDrives = new QComboBox(this);
  cmbCDDrives->setObjectName("cmbCDDrives");
  cmbCDDrives->setGeometry(120, 8, 420, 24);
  lstTracks = new QListWidget(this);
  lstTracks->setObjectName("lstTracks");
  lstTracks->setGeometry(10, 100, 420, 240);
  Label8[0] = label("Label8_0", "Artist", 10, 44, 60);
  txtCDArtist = new QLineEdit(this);
  txtCDArtist->setObjectName("txtCDArtist");
  txtCDArtist->setGeometry(70, 40, 360, 22);
  Label8[1] = label("Label8_1", "Album", 10, 70, 60);
  txtCDAlbum = new QLineEdit(this);
  txtCDAlbum->setObjectName("txtCDAlbum");
  txtCDAlbum->setGeometry(70, 66, 360, 22);
  Label6 = label("Label6", "Click Track to begin playback", 10, 344, 300);
  const char* captions[10] = {"&Play", "P&ause/Resume", "&Stop",    "&Lock",     "&Unlock",
                              "&Open", "&Close",        "&Extract", "&Fade Out", "&Drive Info >>"};
  for (int i = 0; i < 10; ++i) {
    auto* b = new QPushButton(captions[i], this);
    b->setObjectName(QString("cmdButton_%1").arg(i));
    cmdButton[size_t(i)] = b;
  }
  for (int i = 0; i < 7; ++i)
    cmdButton[size_t(i)]->setGeometry(440 + (i % 2) * 105, 40 + (i / 2) * 32, 100, 28);
  cmdButton[8]->setGeometry(440, 168, 100, 28);
  cmdButton[9]->setGeometry(545, 168, 100, 28);
  SliderVolume = new QSlider(Qt::Vertical, this);
  SliderVolume->setObjectName("SliderVolume");
  SliderVolume->setRange(-100, 0);
  // Full volume (-100) at the top and silence at the bottom; up (a key, the wheel) is louder.
  SliderVolume->setInvertedAppearance(true);
  SliderVolume->setInvertedControls(true);
  SliderVolume->setGeometry(660, 40, 24, 150);
  lblVolume = label("lblVolume", "Volume : ", 630, 194, 86);
  SliderBalance = new QSlider(Qt::Horizontal, this);
  SliderBalance->setObjectName("SliderBalance");
  SliderBalance->setRange(-100, 100);
  SliderBalance->setGeometry(440, 220, 200, 22);
  Label5 = label("Label5", "Balance", 440, 204, 60);
  lblBalance = label("lblBalance", "0", 645, 222, 40);
  Label3 = label("Label3", "Track Position", 440, 250, 100);
  SliderPosition = new QSlider(Qt::Horizontal, this);
  SliderPosition->setObjectName("SliderPosition");
  SliderPosition->setRange(0, 10000);
  SliderPosition->setGeometry(440, 268, 240, 22);
  lblTrackPosition = label("lblTrackPosition", "", 440, 292, 200);
  for (int i = 0; i < 2; ++i) {
    auto* m = new QProgressBar(this);
    m->setObjectName(QString("picVUMeter_%1").arg(i));
    m->setRange(0, 328);  // the level / 100
    m->setTextVisible(false);
    m->setGeometry(440, 316 + i * 14, 240, 12);
    picVUMeter[size_t(i)] = m;
  }

  Frame1 = new QGroupBox("CD Extraction", this);
  Frame1->setObjectName("Frame1");
  Frame1->setGeometry(10, 366, 680, 130);
  optExtractMode[0] = new QRadioButton("&WAV File", Frame1);
  optExtractMode[1] = new QRadioButton("W&MA File", Frame1);
  for (int i = 0; i < 2; ++i) {
    optExtractMode[size_t(i)]->setObjectName(QString("optExtractMode_%1").arg(i));
    optExtractMode[size_t(i)]->setGeometry(10, 22 + i * 24, 100, 20);
  }
  optExtractMode[0]->setChecked(true);
  cmdButton[7]->setParent(Frame1);
  cmdButton[7]->setGeometry(10, 76, 100, 28);
  picWMAExtractOptions = new QWidget(Frame1);
  picWMAExtractOptions->setObjectName("picWMAExtractOptions");
  picWMAExtractOptions->setGeometry(120, 16, 550, 110);
  picWMAExtractOptions->setEnabled(false);
  lblBitrates = new QLabel("WMA Encoding Bitrate", picWMAExtractOptions);
  lblBitrates->setObjectName("lblBitrates");
  lblBitrates->setGeometry(0, 4, 140, 18);
  cmbWMAEncodingBitrate = new QComboBox(picWMAExtractOptions);
  cmbWMAEncodingBitrate->setObjectName("cmbWMAEncodingBitrate");
  cmbWMAEncodingBitrate->setGeometry(140, 0, 120, 24);
  chkWMAFileTags = new QCheckBox("WMA File Tags", picWMAExtractOptions);
  chkWMAFileTags->setObjectName("chkWMAFileTags");
  chkWMAFileTags->setGeometry(280, 2, 150, 20);
  for (int i = 0; i < 8; ++i) {
    auto* t = new QLineEdit(picWMAExtractOptions);
    t->setObjectName(QString("txtWMATags_%1").arg(i));
    t->setPlaceholderText(kTagBoxes[i]);
    t->setGeometry((i % 4) * 137, 32 + (i / 4) * 28, 132, 22);
    txtWMATags[size_t(i)] = t;
  }

  frameDriveInfo = new QGroupBox("Drive Info", this);
  frameDriveInfo->setObjectName("frameDriveInfo");
  frameDriveInfo->setGeometry(10, 504, 680, 250);
  for (int i = 0; i < 15; ++i) {
    auto* c = new QCheckBox(kRWFlagCaptions[i], frameDriveInfo);
    c->setObjectName(QString("chkRWFlags_%1").arg(i));
    c->setGeometry(10 + (i / 8) * 330, 22 + (i % 8) * 24, 320, 20);
    c->setAttribute(Qt::WA_TransparentForMouseEvents);  // shows, not sets
    chkRWFlags[size_t(i)] = c;
  }
  auto* l1 = new QLabel("Maximum read speed", frameDriveInfo);
  l1->setGeometry(340, 190, 140, 18);
  lblMaxReadSpeed = new QLabel(frameDriveInfo);
  lblMaxReadSpeed->setObjectName("lblMaxReadSpeed");
  lblMaxReadSpeed->setGeometry(490, 190, 150, 18);
  auto* l2 = new QLabel("Drive's cache size", frameDriveInfo);
  l2->setGeometry(340, 214, 140, 18);
  lblCacheSize = new QLabel(frameDriveInfo);
  lblCacheSize->setObjectName("lblCacheSize");
  lblCacheSize->setGeometry(490, 214, 150, 18);
  setFixedWidth(720);
}

void frmDemo::connectHandlers() {
  connect(cmbCDDrives, qOverload<int>(&QComboBox::activated), this,
          [this] { cmbCDDrives_Click(); });
  for (int i = 0; i < 10; ++i)
    connect(cmdButton[size_t(i)], &QPushButton::clicked, this, [this, i] { cmdButton_Click(i); });
  connect(lstTracks, &QListWidget::itemClicked, this, [this] { lstTracks_Click(); });
  connect(SliderVolume, &QSlider::sliderMoved, this, [this] { SliderVolume_Scroll(); });
  // The wheel, the keys and a click on the groove scroll it too: the volume follows once the
  // slider has moved.
  connect(SliderVolume, &QSlider::actionTriggered, this, [this](int action) {
    if (action == QAbstractSlider::SliderMove && SliderVolume->isSliderDown()) return;  // a drag
    QTimer::singleShot(0, this, [this] { SliderVolume_Scroll(); });
  });
  connect(SliderVolume, &QSlider::valueChanged, this, [this] {
    lblVolume->setText("Volume : " +
                       QString::number(std::lround(std::fabs(SliderVolume->value() / 10.0))));
  });
  connect(SliderBalance, &QSlider::valueChanged, this, [this] { SliderBalance_Scroll(); });
  connect(SliderPosition, &QSlider::sliderPressed, this, [this] { positionDragging = true; });
  connect(SliderPosition, &QSlider::sliderReleased, this, [this] {
    positionDragging = false;
    SliderPosition_Click();
  });
  // A click on the groove moves the slider a page: the stream follows once it has moved.
  connect(SliderPosition, &QSlider::actionTriggered, this, [this](int action) {
    if (action != QAbstractSlider::SliderMove)
      QTimer::singleShot(0, this, [this] { SliderPosition_Click(); });
  });
  for (auto* o : optExtractMode)
    connect(o, &QRadioButton::clicked, this, [this] { optExtractMode_Click(); });
  connect(&tmrPlaybackPosition, &QTimer::timeout, this, &frmDemo::tmrPlaybackPosition_Timer);
}

// ---- loading, drives and tracks -------------------------------------------------------------

void frmDemo::Form_Load() {
  int a = 0;
  for (; const char* description = BASS_CD_GetDriveDescription(DWORD(a)); ++a) {
    const QChar letter(char16_t(BASS_CD_GetDriveLetter(DWORD(a)) + 65));
    cmbCDDrives->addItem(QString(letter) + ": " + QString::fromLocal8Bit(description), a);
  }
  lastDriveIndex = a - 1;
  if (cmbCDDrives->count() > 0) {
    cmbCDDrives->setCurrentIndex(0);
    cmbCDDrives_Click();
  }
  LoadWMAEncoderRates();
  const QStringList names =
      QString("Title,Author,WM/AlbumTitle,Description,Rating,Copyright,WM/Genre,WM/Year")
          .split(',');
  for (int i = 0; i < 8; ++i) wmaTagNames[size_t(i)] = names[i];
  const DWORD volume = BASS_GetVolume();
  SliderVolume->setValue(volume == DWORD(-1) ? -100 : -int(volume));
  resize(width(), kCollapsedHeight);
  tmrPlaybackPosition.setInterval(50);
  if (isVisible()) tmrPlaybackPosition.start();
}

void frmDemo::cmbCDDrives_Click() {
  driveIndex = cmbCDDrives->currentData().toInt();
  ShowDriveInfo();
  LoadTrackList();
}

void frmDemo::ShowDriveInfo() {
  BASS_CD_INFO info{};
  info.size = sizeof info;
  const bool ok = BASS_CD_GetInfo(DWORD(driveIndex), &info);
  for (int i = 0; i < 11; ++i)
    chkRWFlags[size_t(i)]->setChecked(ok && (info.rwflags >> kRWFlagBits[i] & 1));
  chkRWFlags[11]->setChecked(ok && info.canopen);
  chkRWFlags[12]->setChecked(ok && info.canlock);
  cmdButton[5]->setEnabled(ok && info.canopen);
  cmdButton[6]->setEnabled(ok && info.canopen);
  cmdButton[3]->setEnabled(ok && info.canlock);
  cmdButton[4]->setEnabled(ok && info.canlock);
  chkRWFlags[13]->setChecked(BASS_CD_DoorIsLocked(DWORD(driveIndex)));
  lblMaxReadSpeed->setText(kbps(ok ? info.maxspeed : 0));
  lblCacheSize->setText(QLocale(QLocale::English).toString(qulonglong(ok ? info.cache : 0)) +
                        " KB");
}

void frmDemo::LoadTrackList() {
  lstTracks->clear();
  const cd::TrackListing listing = cd::loadTrackList(uint32_t(driveIndex));
  if (listing.status == cd::TrackListing::NoDisc) return;
  if (listing.status == cd::TrackListing::TrackCountFailed) {
    app::services().messages->show(0, "ORIVEL", cd::kTrackCountError);
    return;
  }
  txtCDArtist->setText(QString::fromUtf8(listing.artist.c_str()));
  txtCDAlbum->setText(QString::fromUtf8(listing.album.c_str()));
  for (const auto& f : listing.failures) ShowErrorCode(cd::kTrackLengthError, f.code);
  for (const auto& line : listing.lines) lstTracks->addItem(QString::fromUtf8(line.c_str()));
}

// ---- playback -------------------------------------------------------------------------------

void frmDemo::PlayTrack(int track) {
  BASS_ChannelStop(cdStream);
  cdStream = BASS_CD_StreamCreate(DWORD(driveIndex), DWORD(track),
                                  BASS_STREAM_FREEPREV | BASS_STREAM_AUTOFREE);
  BASS_ChannelSetAttributes(cdStream, -1, std::abs(SliderVolume->value()), -101);
  BASS_StreamPlay(cdStream, TRUE, 0);
  void* user = reinterpret_cast<void*>(intptr_t(track));
  BASS_ChannelSetSync(cdStream, BASS_SYNC_ONETIME | BASS_SYNC_END, 0, &EndSyncProc, user);
  BASS_ChannelSetSync(cdStream, BASS_SYNC_ONETIME | BASS_SYNC_CD_ERROR, 0, &ErrorSyncProc, nullptr);
  BASS_ChannelSetSync(cdStream, BASS_SYNC_ONETIME | BASS_SYNC_SLIDE, 0, &EndSyncProc, user);
}

void frmDemo::PlayNextTrack(int track) {
  if (lstTracks->count() == 0) return;
  const int next = track + 1 < lstTracks->count() ? track + 1 : 0;
  lstTracks->setCurrentRow(next);
  PlayTrack(next);
}

void frmDemo::EndSyncProc(HSYNC, DWORD, DWORD, void* user) {
  const int track = int(reinterpret_cast<intptr_t>(user));
  QMetaObject::invokeMethod(
      qApp,
      [track] {
        if (gWindow) gWindow->PlayNextTrack(track);
      },
      Qt::QueuedConnection);
}

void frmDemo::ErrorSyncProc(HSYNC, DWORD, DWORD, void*) {
  QMetaObject::invokeMethod(
      qApp,
      [] {
        if (gWindow) gWindow->CDError();
      },
      Qt::QueuedConnection);
}

void frmDemo::CDError() {
  BASS_ChannelStop(cdStream);
  BASS_StreamFree(cdStream);
  cdStream = 0;
  app::services().messages->show(app::kStyleCritical, "Error", cd::kPlaybackError);
  lstTracks->clear();
  SliderPosition->setValue(0);
}

void frmDemo::FadeOut() {
  BASS_ChannelSlideAttributes(cdStream, -1, 0, -101, 5000);
}

void frmDemo::cmdButton_Click(int index) {
  const DWORD drive = DWORD(driveIndex);
  switch (index) {
    case 0:
      PlayTrack(lstTracks->currentRow());
      break;
    case 1:
      if (BASS_ChannelIsActive(cdStream) == BASS_ACTIVE_PAUSED)
        BASS_ChannelResume(cdStream);
      else
        BASS_ChannelPause(cdStream);
      break;
    case 2:
      BASS_ChannelStop(cdStream);
      break;
    case 3:
      BASS_CD_Door(drive, BASS_CD_DOOR_LOCK);
      break;
    case 4:
      BASS_CD_Door(drive, BASS_CD_DOOR_UNLOCK);
      break;
    case 5:
      lstTracks->clear();
      BASS_ChannelStop(cdStream);
      BASS_CD_Door(drive, BASS_CD_DOOR_OPEN);
      break;
    case 6:
      BASS_CD_Door(drive, BASS_CD_DOOR_CLOSE);
      ShowDriveInfo();
      break;
    case 7:
      BASS_ChannelStop(cdStream);
      if (optExtractMode[0]->isChecked())
        ExtractAudioTrack(lstTracks->currentRow());
      else
        ExtractAudioTrackToWMA(lstTracks->currentRow(),
                               DWORD(cmbWMAEncodingBitrate->currentData().toUInt()));
      break;
    case 8:
      FadeOut();
      break;
    case 9: {
      const bool expand = height() != kExpandedHeight;
      resize(width(), expand ? kExpandedHeight : kCollapsedHeight);
      cmdButton[9]->setText(expand ? "&Drive Info <<" : "&Drive Info >>");
      break;
    }
    default:
      break;
  }
}

void frmDemo::lstTracks_Click() {
  PlayTrack(lstTracks->currentRow());
}

void frmDemo::SliderVolume_Scroll() {
  BASS_ChannelSetAttributes(cdStream, -1, std::abs(SliderVolume->value()), -101);
  lblVolume->setText("Volume : " +
                     QString::number(std::lround(std::fabs(SliderVolume->value() / 10.0))));
}

void frmDemo::SliderBalance_Scroll() {
  BASS_ChannelSetAttributes(cdStream, -1, -1, SliderBalance->value());
  lblBalance->setText(QString::number(SliderBalance->value() / 10.0));
}

void frmDemo::SliderPosition_Click() {
  const QWORD length = BASS_StreamGetLength(cdStream);
  if (length == QWORD(-1)) return;
  const double at = double(length) * SliderPosition->value() / 10000.0;
  BASS_ChannelSetPosition(cdStream, QWORD(std::llround(at)) & ~QWORD(3));  // whole frames
}

void frmDemo::clearMeters() {
  for (auto* m : picVUMeter) m->setValue(0);
}

void frmDemo::tmrPlaybackPosition_Timer() {
  const DWORD drive = DWORD(driveIndex);
  const bool open = lastDriveIndex >= 0 && BASS_CD_DoorIsOpen(drive);
  chkRWFlags[14]->setChecked(open);
  chkRWFlags[13]->setChecked(lastDriveIndex >= 0 && BASS_CD_DoorIsLocked(drive));
  if (lastDriveIndex >= 0) {
    if (!open && lstTracks->count() == 0) {
      // A disc that is not ready keeps the list empty; it is asked again on the next tick.
      if (BASS_CD_IsReady(drive)) LoadTrackList();
    } else if (open && lstTracks->count() > 0) {
      BASS_ChannelStop(cdStream);
      lstTracks->clear();
    }
  }
  if (BASS_ChannelIsActive(cdStream) == BASS_ACTIVE_STOPPED) {
    SliderPosition->setValue(0);
    lblTrackPosition->clear();
    clearMeters();
    return;
  }
  const DWORD level = BASS_ChannelGetLevel(cdStream);
  if (level == DWORD(-1)) {
    clearMeters();
  } else {
    picVUMeter[0]->setValue(int((level & 0xFFFF) / 100));
    picVUMeter[1]->setValue(int((level >> 16) / 100));
  }
  if (positionDragging) return;
  const QWORD length = BASS_StreamGetLength(cdStream);
  const QWORD pos = BASS_ChannelGetPosition(cdStream);
  if (length == QWORD(-1) || length == 0 || pos == QWORD(-1)) return;
  SliderPosition->setValue(int(double(pos) / double(length) * SliderPosition->maximum()));
  lblTrackPosition->setText(
      QString::fromStdString(Seconds2HMS(std::lround(BASS_ChannelBytes2Seconds(cdStream, pos)))) +
      " / " +
      QString::fromStdString(
          Seconds2HMS(std::lround(BASS_ChannelBytes2Seconds(cdStream, length)))));
}

void frmDemo::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  tmrPlaybackPosition.start();
}

void frmDemo::hideEvent(QHideEvent* event) {
  tmrPlaybackPosition.stop();
  QWidget::hideEvent(event);
}

void frmDemo::closeEvent(QCloseEvent* event) {
  for (int i = 0; i <= lastDriveIndex; ++i) BASS_CD_Door(DWORD(i), BASS_CD_DOOR_UNLOCK);
  BASS_ChannelStop(cdStream);
  event->accept();
}

// ---- errors ---------------------------------------------------------------------------------

void frmDemo::ShowErrorCode(const QString& text, int code) {
  app::services().messages->show(
      app::kStyleCritical, "Error",
      QString::fromLocal8Bit(cd::errorCodeText(text.toLocal8Bit().toStdString(), code).c_str()));
}

void frmDemo::ReportRoutineError(const QString& module, const QString& routine, int number,
                                 const QString& description) {
  app::services().messages->show(
      0, "ORIVEL",
      QString::fromLocal8Bit(cd::routineErrorText(module.toStdString(), routine.toStdString(),
                                                  number, description.toStdString())
                                 .c_str()));
}

// ---- extraction -----------------------------------------------------------------------------

void frmDemo::optExtractMode_Click() {
  picWMAExtractOptions->setEnabled(optExtractMode[1]->isChecked());
}

void frmDemo::LoadWMAEncoderRates() {
  const cd::EncoderRates r = cd::loadWmaEncoderRates();
  if (r.rates.empty()) {
    app::services().messages->show(app::kStyleCritical, "Error",
                                   QString::fromLocal8Bit(r.error.c_str()));
    return;
  }
  for (size_t i = 0; i < r.rates.size(); ++i)
    cmbWMAEncodingBitrate->addItem(QString::fromStdString(r.lines[i]), uint(r.rates[i]));
  cmbWMAEncodingBitrate->setCurrentIndex(0);
}

namespace {

// What a rip shows when it ends.
void showRipResult(frmDemo& w, const cd::RipResult& r) {
  const QString text = QString::fromLocal8Bit(r.message.c_str());
  const QString title = QString::fromLocal8Bit(r.title.c_str());
  switch (r.box) {
    case cd::RipResult::Critical:
      app::services().messages->show(app::kStyleCritical, title.isEmpty() ? "Error" : title, text);
      break;
    case cd::RipResult::RoutineError:
    case cd::RipResult::Plain:
      app::services().messages->show(0, title.isEmpty() ? "ORIVEL" : title, text);
      break;
  }
}

}  // namespace

// The rip runs here, on the window's thread; the window is disabled meanwhile and keeps
// repainting between blocks, its title showing the progress.
cd::RipCallbacks frmDemo_ripCallbacks(frmDemo& w) {
  return {
      [&w](int percent) { w.setWindowTitle(QString("CD Player &  Ripper - %1 %").arg(percent)); },
      [] {
        QCoreApplication::processEvents();
        return false;
      }};
}

void frmDemo::ExtractAudioTrack(int track) {
  setEnabled(false);
  if (onRipRunning) onRipRunning(true);
  const cd::RipResult r =
      cd::extractAudioTrack(uint32_t(driveIndex), track, app::workFile("TRACK.WAV").toStdString(),
                            frmDemo_ripCallbacks(*this));
  setWindowTitle("CD Player &  Ripper");
  setEnabled(true);
  if (onRipRunning) onRipRunning(false);
  if (r.message.size()) showRipResult(*this, r);
  if (r.status != cd::RipResult::Done) return;
  if (onTrackRipped) onTrackRipped(QString::fromStdString(cd::handOverCaption(track)));
  hide();
}

void frmDemo::ExtractAudioTrackToWMA(int track, DWORD bitrate) {
  std::array<std::string, 8> tags;
  for (size_t i = 0; i < tags.size(); ++i) tags[i] = txtWMATags[i]->text().toStdString();
  setEnabled(false);
  if (onRipRunning) onRipRunning(true);
  const std::string folder = app::workFolder().toStdString();
  const cd::RipResult r = cd::extractAudioTrackToWma(
      uint32_t(driveIndex), track, bitrate, cd::trackWmaPath(cd::RPP(folder), track),
      chkWMAFileTags->isChecked(), tags, frmDemo_ripCallbacks(*this));
  setWindowTitle("CD Player &  Ripper");
  setEnabled(true);
  if (onRipRunning) onRipRunning(false);
  if (r.message.size()) showRipResult(*this, r);
}
