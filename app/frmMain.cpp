#include "frmMain.h"


#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLoggingCategory>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <cmath>
#include <stdexcept>

#include "Form1.h"
#include "KaraokePicture.h"
#include "SongLoudness.h"
#include "Seconds2HMS.h"
#include "VRMixer.h"
#include "WorkFolder.h"
#include "frmDemo.h"
#include "ui_frmMain.h"

Q_LOGGING_CATEGORY(lcMain, "orivelR.main")

const char* const kMainCaption =
    " ORIVEL VOCAL REMOVER - Karaoke Recorder  v1.0    orivelR for Linux";

namespace {

// An error the load handler meets, with the program's number and description.
struct LoadError : std::runtime_error {
  LoadError(int n, const std::string& what) : std::runtime_error(what), number(n) {}
  int number;
};

// The player's controls on the window's widgets. Setting a slider emits its valueChanged,
// which runs its change handler as a user move does; check boxes change without a click.
class WidgetControls final : public player::PlayerControls {
 public:
  explicit WidgetControls(frmMain* w) : w_(w) {}

  int value(player::Ctl c, int i) const override {
    if (QAbstractButton* b = box(c)) return b->isChecked() ? 1 : 0;
    if (QAbstractSlider* s = slider(c, i)) return s->value();
    return 0;
  }
  void setValue(player::Ctl c, int v, int i) override {
    if (QAbstractButton* b = box(c)) b->setChecked(v == 1);
    if (QAbstractSlider* s = slider(c, i)) s->setValue(v);
  }
  bool enabled(player::Ctl c, int i) const override {
    QWidget* widget = box(c) ? static_cast<QWidget*>(box(c)) : slider(c, i);
    return widget && widget->isEnabled();
  }
  void setEnabled(player::Ctl c, bool on, int i) override {
    if (QAbstractButton* b = box(c)) b->setEnabled(on);
    if (QAbstractSlider* s = slider(c, i)) s->setEnabled(on);
  }

 private:
  QAbstractButton* box(player::Ctl c) const {
    switch (c) {
      case player::Ctl::Chkrem:
        return w_->Chkrem;
      case player::Ctl::Chkcmp:
        return w_->Chkcmp;
      case player::Ctl::Chklow:
        return w_->Chklow;
      case player::Ctl::chkEqualizer:
        return w_->chkEqualizer;
      default:
        return nullptr;
    }
  }
  QAbstractSlider* slider(player::Ctl c, int i) const {
    switch (c) {
      case player::Ctl::vcompr:
        return w_->vcompr[0];
      case player::Ctl::Slider3:
        return w_->Slider3[0];
      case player::Ctl::vseq:
        return (i >= 0 && i < 8) ? w_->vseq[size_t(i)] : nullptr;
      case player::Ctl::Veq1:
        return (i >= 0 && i < 8) ? w_->Veq1[size_t(i)] : nullptr;
      case player::Ctl::SliderBalance:
        return w_->SliderBalance;
      default:
        return nullptr;
    }
  }
  frmMain* w_;
};

}  // namespace

bool mainVersionAccepted(DWORD version) {
  const DWORD major = version & 0xFFFF;
  return major >= 2 && int32_t(version) >= 2;
}

frmMain::frmMain() : ui_(std::make_unique<Ui::frmMain>()) {
  ui_->setupUi(this);
  Cmdplw = ui_->Cmdplw;
  cmdstw = ui_->cmdstw;
  cmdrec = ui_->cmdrec;
  cmdstop = ui_->cmdstop;
  cmdplaystop = ui_->cmdplaystop;
  cmdsave = ui_->cmdsave;
  Cmd_Play = ui_->Cmd_Play;
  Cmd_Stop = ui_->Cmd_Stop;
  SliderPosition = ui_->SliderPosition;
  SliderBalance = ui_->SliderBalance;
  Label5 = ui_->Label5;
  lblTime = ui_->lblTime;
  lblTrackPosition = ui_->lblTrackPosition;
  LabelSongLength = ui_->LabelSongLength;
  Picture2 = ui_->Picture2;
  Picture3 = ui_->Picture3;
  Frame8 = ui_->Frame8;
  Chkrem = ui_->Chkrem;
  Chkcmp = ui_->Chkcmp;
  Chklow = ui_->Chklow;
  chkEqualizer = ui_->chkEqualizer;
  vcompr = {ui_->vcompr_0};
  Slider3 = {ui_->Slider3_0};
  vseq = {ui_->vseq_0, ui_->vseq_1, ui_->vseq_2, ui_->vseq_3,
          ui_->vseq_4, ui_->vseq_5, ui_->vseq_6, ui_->vseq_7};
  Veq1 = {ui_->Veq1_0, ui_->Veq1_1, ui_->Veq1_2, ui_->Veq1_3,
          ui_->Veq1_4, ui_->Veq1_5, ui_->Veq1_6, ui_->Veq1_7};
  MnuFile = ui_->MnuFile;
  Meff = ui_->Meff;
  mnutil = ui_->mnutil;
  menuwave = ui_->menuwave;
  MnuExit = ui_->MnuExit;
  MnuOpenSong = ui_->MnuOpenSong;
  dlsbank = ui_->dlsbank;
  vscroll1 = ui_->vscroll1;
  vslidertempo = ui_->vslidertempo;
  lblInfo = {ui_->lblInfo_0, nullptr, ui_->lblInfo_2};
  Slider1 = ui_->Slider1;
  HScroll3 = ui_->HScroll3;
  List3 = ui_->List3;
  lumo1 = ui_->lumo1;
  picanalogl = ui_->picanalogl;
  picanalogr = ui_->picanalogr;
  hsCalibration = ui_->hsCalibration;
  lblFactor = ui_->lblFactor;
  vmet = ui_->vmet;
  for (int i = 0; i < 16; ++i) {
    Slider2[size_t(i)] = findChild<QSlider*>(QString("Slider2_%1").arg(i));
    Check1[size_t(i)] = findChild<QToolButton*>(QString("Check1_%1").arg(i));
    Option1[size_t(i)] = findChild<QToolButton*>(QString("Option1_%1").arg(i));
  }
  MnuExit->setShortcut(QKeySequence::Quit);
  menuwave->setShortcut(QKeySequence::Open);

  // Initial positions of the design; set before the handlers are connected.
  const std::array<int, 8> vseqStart = {0, 4, 4, 10, 10, 10, 10, 3};
  const std::array<int, 8> veq1Start = {0, 0, 9, 19, 19, 19, 19, 19};
  for (size_t i = 0; i < 8; ++i) {
    vseq[i]->setValue(vseqStart[i]);
    Veq1[i]->setValue(veq1Start[i]);
    // The scroll bars apply when the thumb is released, not while it moves.
    Veq1[i]->setTracking(false);
    // The main equaliser sits in the remover's chain: it is heard while the remover is on.
    vseq[i]->setToolTip("Equalizer of the Vocal Remover: heard while the remover is on");
  }
  Chkcmp->setToolTip("Gain Audio on the song; the Vocal Remover switches it on as well");
  chkEqualizer->setToolTip(
      "Peaking Equalizer on the song; the Vocal Remover switches it on as well");
  vcompr[0]->setValue(10);
  Slider3[0]->setValue(10);
  Slider3[0]->setEnabled(false);
  SliderPosition->setAttribute(Qt::WA_TransparentForMouseEvents);  // shown only
  Cmdplw->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  cmdstw->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
  Cmd_Play->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  Cmd_Stop->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
  cmdstw->setEnabled(false);
  Cmdplw->setEnabled(false);
  setFixedSize(size());

  controls = std::make_unique<WidgetControls>(this);
  player = std::make_unique<player::AudioPlayer>(*controls, playerMessages);
  player->onLoadFailed = [this] {
    LabelSongLength->setText("click here to open a file & play it...");
  };
  tmrPlaybackPosition.setInterval(50);
  Timer2.setInterval(300);
  Timer3.setInterval(400);
  Timer.setInterval(10);
  // The lyrics are lit from the sequencer's position; a short tick keeps them on the beat.
  Timer1.setInterval(10);
  connectHandlers();
  songSetup();
  connectMidiHandlers();
  connectMeterHandlers();
  connectRecorderHandlers();
  singerSetup();
  latencySetup();
  initialised_ = Form_Initialize();
}

frmMain::~frmMain() = default;

void frmMain::connectHandlers() {
  connect(menuwave, &QAction::triggered, this, &frmMain::menuwave_Click);
  connect(MnuExit, &QAction::triggered, this, &frmMain::MnuExit_Click);
  connect(Cmdplw, &QToolButton::clicked, this, &frmMain::Cmdplw_Click);
  connect(cmdstw, &QToolButton::clicked, this, &frmMain::cmdstw_Click);
  connect(cmdstop, &QToolButton::clicked, this, &frmMain::cmdstop_Click);
  connect(&tmrPlaybackPosition, &QTimer::timeout, this, &frmMain::tmrPlaybackPosition_Timer);
  connect(&Timer2, &QTimer::timeout, this, &frmMain::Timer2_Timer);
  connect(SliderBalance, &QSlider::valueChanged, this, &frmMain::SliderBalance_Change);
  connect(Chkrem, &QCheckBox::clicked, this, &frmMain::Chkrem_Click);
  connect(Chkcmp, &QCheckBox::clicked, this, &frmMain::Chkcmp_Click);
  connect(Chklow, &QCheckBox::clicked, this, &frmMain::Chklow_Click);
  connect(chkEqualizer, &QCheckBox::clicked, this, &frmMain::chkEqualizer_Click);
  connect(vcompr[0], &QSlider::valueChanged, this, [this] { vcompr_Change(0); });
  connect(Slider3[0], &QSlider::valueChanged, this, [this] { Slider3_Change(0); });
  for (int i = 0; i < 8; ++i) {
    connect(vseq[size_t(i)], &QSlider::valueChanged, this, [this, i] { vseq_Change(i); });
    connect(Veq1[size_t(i)], &QScrollBar::valueChanged, this, [this, i] { Veq1_Change(i); });
  }
}

// ---- start-up ---------------------------------------------------------------------------

bool frmMain::Form_Initialize() {
  app::Services& s = app::services();
  const QString folder = QCoreApplication::applicationDirPath();
  QDir::setCurrent(folder);
  if (!app::ensureWorkFolder()) qCWarning(lcMain) << "cannot create" << app::workFolder();

  if (!s.engine->mainLibraryPresent()) {
    s.messages->show(app::kStyleCritical, "BASS.DLL", "BASS.DLL does not exists");
    s.exit->end(1);
    return false;
  }
  // Major version in the low word, minor in the high word: 2.0 or newer passes (compared as
  // parts, so that a 1.x whose minor makes the packed number large is still refused).
  if (!mainVersionAccepted(s.engine->mainVersion())) {
    s.messages->show(app::kStyleCritical, "BASS.DLL",
                     "Error: BASS version 2.0 or greater was not loaded");
    s.exit->end(1);
    return false;
  }
  if (!s.engine->fxLibraryPresent()) {
    s.messages->show(app::kStyleCritical, "BASS_FX.DLL", "BASS_FX.DLL does not exists!");
    s.exit->end(1);
    return false;
  }
  if (s.engine->fxVersion() != 2) {
    s.messages->show(app::kStyleCritical, "BASS_FX.DLL",
                     "Error: BASS_FX version 2.0 was not loaded");
    s.exit->end(1);
    return false;
  }
  BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
  if (!BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, reinterpret_cast<void*>(winId()), nullptr)) {
    Error_("Couldn't Initialize Digital Output");
    s.exit->end(1);
    return false;
  }
  if (const HSTREAM h = BASS_StreamCreate(44100, 2, BASS_SAMPLE_FLOAT, nullptr, nullptr)) {
    BASS_StreamFree(h);
    player->streamFlags = BASS_SAMPLE_FLOAT;
  } else {
    player->streamFlags = 0;
  }
  player->removerDsp = 0;
  return true;
}

bool frmMain::Form_Load() {
  // Centre on the screen.
  if (QScreen* screen = this->screen()) {
    const QRect r = screen->availableGeometry();
    move(r.x() + r.width() / 2 - width() / 2, r.y() + r.height() / 2 - height() / 2);
  }
  vmet->setChecked(true);
  Meff->setEnabled(false);
  app::clearPicture(Picture3);
  Initialize();
  ZeroVariables();
  setWindowTitle(kMainCaption);
  LoadPatches();
  midiPlayer->songLoaded = false;
  for (int i = 0; i < 16; ++i) {
    Check1[size_t(i)]->setChecked(false);
    Slider2[size_t(i)]->setEnabled(false);
    Check1[size_t(i)]->setEnabled(false);
    Option1[size_t(i)]->setEnabled(false);
  }
  meterSetup();
  mixerSetup();
  calibrationFactor = 2.5f;
  try {
    Timer2.stop();
    Timer3.stop();
    setPicture2(kLightOff);
    recordFinished = false;
    stopRequested = false;
    audioSong = false;
    freeRecording = false;
    vslidertempo->setValue(64);
    lumo1->setSoundDriver(3);
    Slider1->setValue(50);
    if (qEnvironmentVariableIsSet("ORIVELR_TEST_LOAD_ERROR"))  // lets a test reach the handler
      throw LoadError(qEnvironmentVariableIntValue("ORIVELR_TEST_LOAD_ERROR"), "test error");
  } catch (const LoadError& e) {
    app::services().messages->show(app::kStyleCritical, "ORIVEL",
                                   QString("Unanticipated error number%1 occurred: %2")
                                       .arg(e.number)
                                       .arg(QString::fromStdString(e.what())));
    app::services().exit->end(1);
    return false;
  }
  tmrPlaybackPosition.start();
  Timer.start();
  return true;
}

// ---- shutdown ---------------------------------------------------------------------------

void frmMain::Form_Unload() {
  Timer1.stop();
  const bool loaded = midiPlayer && midiPlayer->songLoaded;
  if (midiPlayer && midiPlayer->midiPerformance) midiPlayer->midiPerformance->CloseDown();
  if (loaded) QCoreApplication::processEvents();
  app::services().exit->end(0);
}

void frmMain::MnuExit_Click() {
  Form_Unload();
}

void frmMain::closeEvent(QCloseEvent* event) {
  event->accept();
  Form_Unload();
}

// ---- the audio player -------------------------------------------------------------------

void frmMain::Error_(const QString& message) {
  player::Error_(playerMessages, message.toStdString());
}

void frmMain::menuwave_Click() {
  if (!session.allows(player::Session::Control::SongMenus)) return;
  default_();
  CMDialog1.FileName.clear();
  app::clearPicture(Picture3);
  const auto chosen = app::services().files->openFile(
      this, {"Open",
             "Wave Files (*.wav)|*.wav|Mp3 Files (*.mp3)|*.mp3"
             "|Karaoke MP3+G (*.zip *.cdg)|*.zip;*.cdg",
             ".mpl"});
  if (!chosen) return;  // cancelled: nothing changes
  CMDialog1.FileName = *chosen;
  if (!singerSongChosen(CMDialog1.FileName)) return;  // an MP3+G package gives its MP3
  session.audioSongChosen();
  songChosen(CMDialog1.FileName);
  Cmdplw->setEnabled(true);
  cmdstw->setEnabled(false);
  cmdrec->setEnabled(false);
  Cmd_Play->setEnabled(false);
  LabelSongLength->setText(CMDialog1.FileName);
  dismenu();
  if (!CMDialog1.FileName.isEmpty() && !CMDialog1.FileName.endsWith("mpl")) abilita();
  followSession();
}

void frmMain::abilita() {
  prepareTake(audioSong);
}

// A new take over a song (`audioSong`) or without one (`freeRecording`): the flag set, the
// previous take gone, the record button ready. A take the user has not saved stays: the record
// command asks before it replaces it.
void frmMain::prepareTake(bool& kind) {
  Timer3.stop();
  setPicture2(kLightOn);
  cmdsave->setEnabled(false);
  Cmd_Play->setEnabled(false);
  Cmd_Stop->setEnabled(false);
  recordFinished = false;
  kind = true;
  if (session.takeMayGo()) {
    QFile::remove(app::workFile("NEWWAVE.WAV"));  // the previous take goes
    session.takeDiscarded();
  }
  cmdrec->setEnabled(true);
  followSession();
}

bool frmMain::confirmTakeLoss() {
  if (!session.takeAtRisk()) return true;
  const int answer = app::services().messages->show(
      app::kStyleYesNo | app::kStyleExclamation, "ORIVEL",
      "The last take has not been saved: a new take replaces it. Record a new take?");
  if (answer != app::kAnswerYes) return false;
  session.takeDiscarded();
  return true;
}

void frmMain::followSession() {
  using C = player::Session::Control;
  const auto limit = [this](QWidget* control, C c) {
    if (!session.allows(c)) control->setEnabled(false);
  };
  limit(cmdrec, C::Record);
  limit(cmdstop, C::StopTake);
  limit(cmdsave, C::SaveTake);
  limit(cmdsavewav, C::SaveTake);
  limit(Cmdplw, C::AudioPlay);
  limit(Cmd_Play, C::MidiPlay);
  if (!session.allows(C::SongMenus))
    for (QMenu* m : {MnuFile, mnutil, cvmenu, Meff}) m->setEnabled(false);
}

void frmMain::Cmdplw_Click() {
  if (!session.allows(player::Session::Control::AudioPlay)) return;
  Cmdplw->setEnabled(false);
  if (ripPending) {
    session.cdTrackTaken();
    closeCdWindow();
    CMDialog1.FileName = app::workFile("TRACK.WAV");
    singerSongChosen(CMDialog1.FileName);  // a ripped track has no words of its own
    songChosen(CMDialog1.FileName);
  }
  session.songPlayed();
  dismenu();
  cmdstw->setEnabled(true);
  cmdrec->setEnabled(false);
  // A play after the load error leaves the buttons playing; streams of an earlier play must
  // not go on unreachable, so they are freed first.
  player->freeStreams();
  applySongGain(false);
  audioPlaying = player->playSong(CMDialog1.FileName.toStdString());
  followSession();
}

void frmMain::recAudio() {
  Cmdplw->setEnabled(false);
  cmdstw->setEnabled(false);
  dismenu();
  Timer2.start();
  audioPlaying = false;  // the recorder ends a backing track
  player->freeForRestart();
  player->playSong(CMDialog1.FileName.toStdString());
}

void frmMain::cmdstw_Click() {
  audioPlaying = false;
  cmdrec->setEnabled(true);
  player->freeStreams();
  Cmdplw->setEnabled(true);
  enamenu();
  followSession();
}

void frmMain::cmdstop_Click() {
  stopRequested = true;
  enamenu();
  dlsbank->setEnabled(true);
  recordingTake = false;
  List3->setEnabled(false);
  cmdstop->setEnabled(false);
  recordFinished = false;
  setPicture2(kLightOff);
  Timer1.stop();
  Timer2.stop();
  Timer3.stop();
  if (freeRecording) {
    followSession();
    return;
  }
  if (audioSong) {
    audioPlaying = false;
    player->freeStreams();
    Frame8->setTitle("  Player Midi");
    enamenu();
    cmdstw->setEnabled(false);
    Cmdplw->setEnabled(false);
    enamenu();
  } else {
    midiPlayer->SeekEnd();
    midiPlayer->songPlaying = 0;
    midiPlayer->songLoaded = false;
  }
  followSession();
}

void frmMain::dismenu() {
  for (QMenu* m : {MnuFile, mnutil, cvmenu, Meff}) m->setEnabled(false);
}

void frmMain::enamenu() {
  for (QMenu* m : {MnuFile, mnutil, cvmenu, Meff}) m->setEnabled(true);
}

void frmMain::tmrPlaybackPosition_Timer() {
  const HSTREAM s = player->mainStream;
  if (BASS_ChannelIsActive(s) == BASS_ACTIVE_STOPPED) {
    SliderPosition->setValue(0);
    lblTrackPosition->clear();
    if (audioPlaying) audioSongEnded();
    return;
  }
  const QWORD len = BASS_StreamGetLength(s);
  const QWORD pos = BASS_ChannelGetPosition(s);
  if (len == QWORD(-1) || len == 0 || pos == QWORD(-1)) return;
  const float ratio = float(double(pos) / double(len));
  SliderPosition->setValue(int(std::nearbyint(ratio * SliderPosition->maximum())));
  Label5->setText(
      QString::fromStdString(Seconds2HMS(std::lrint(BASS_ChannelBytes2Seconds(s, pos)))));
  lblTime->setText(
      QString::fromStdString(Seconds2HMS(std::lrint(BASS_ChannelBytes2Seconds(s, len)))));
}

// A song played with Cmdplw ended by itself: the player goes to its stopped state, as Stop
// leaves it, so that Play plays the song again and the menus are back.
void frmMain::audioSongEnded() {
  cmdstw_Click();
}

void frmMain::Timer2_Timer() {
  setPicture2(kLightOn);
}

void frmMain::setPicture2(QRgb colour) {
  QPalette p = Picture2->palette();
  p.setColor(QPalette::Window, QColor(colour));
  Picture2->setPalette(p);
}

void frmMain::SliderBalance_Change() {
  player->SliderBalance_Change();
}

// ---- the remover and the effect chain ---------------------------------------------------

void frmMain::Chkrem_Click() {
  player->Chkrem_Click();
}
void frmMain::default_() {
  player->default_();
}
void frmMain::Chkcmp_Click() {
  player->Chkcmp_Click();
}
void frmMain::Chklow_Click() {
  player->Chklow_Click();
}
void frmMain::chkEqualizer_Click() {
  player->chkEqualizer_Click();
}
void frmMain::vcompr_Change(int index) {
  player->vcompr_Change(index);
}
void frmMain::Slider3_Change(int index) {
  player->Slider3_Change(index);
}
void frmMain::vseq_Change(int index) {
  player->vseq_Change(index);
}
void frmMain::Veq1_Change(int index) {
  player->Veq1_Change(index);
}
