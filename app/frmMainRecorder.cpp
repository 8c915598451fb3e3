// The main window's recorder: the wave set-up list, record, stop and play the take, save it
// as WAV or MP3; the mixer panel; the MP3 bit-rate list and the converter window.
#include <QCheckBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QListWidget>
#include <QLoggingCategory>
#include <QProcess>
#include <QProgressBar>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include "Engine.h"
#include "Form1.h"
#include "MEnc.h"
#include "MidiPerformance.h"
#include "VRMixer.h"
#include "VolumeControl.h"
#include "WaveSetup.h"
#include "WorkFolder.h"
#include "frmDemo.h"
#include "frmMain.h"
#include "ui_frmMain.h"

Q_LOGGING_CATEGORY(lcRecorder, "orivelR.recorder")

namespace {

const std::array<long, 4> kBitRates{256000, 128000, 112000, 96000};

}  // namespace

void frmMain::connectRecorderHandlers() {
  cmdsavewav = ui_->cmdsavewav;
  cmbQuality = ui_->cmbQuality;
  mnew = ui_->mnew;
  mnwave = ui_->mnwave;
  inputmenu = ui_->inputmenu;
  Mmp3 = ui_->Mmp3;
  cvmenu = ui_->cvmenu;
  wavp3 = ui_->wavp3;
  cboRecSrcType = ui_->cboRecSrcType;
  sldRecVolume = ui_->sldRecVolume;
  Sldmastervolume = ui_->Sldmastervolume;
  SLDPLAYVOLUME = ui_->SLDPLAYVOLUME;
  CHKPLAYMUTE = ui_->CHKPLAYMUTE;
  Cominput = ui_->Cominput;
  Comout = ui_->Comout;
  Combo1 = ui_->Combo1;
  encstop = ui_->encstop;
  prog = ui_->prog;
  MEnc1 = new MEnc(this);
  cmdrec->setIcon(
      QIcon::fromTheme("media-record", style()->standardIcon(QStyle::SP_DialogYesButton)));
  cmdstop->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
  cmdplaystop->setIcon(style()->standardIcon(QStyle::SP_MediaPause));
  cmdsavewav->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  for (const auto& item : recorder::kWaveSetupItems) cmbQuality->addItem(item.text);
  cboRecSrcType->addItems({"0 - Undefined", "1 - Line", "2 - Mic", "3 - Wave", "4 - MIDI", "5 - CD",
                           "6 - Phone", "7 - Aux", "8 - Digital", "9 - Analog"});
  for (long rate : kBitRates) Combo1->addItem(QString::number(rate));

  connect(cmdrec, &QToolButton::clicked, this, &frmMain::cmdrec_Click);
  connect(cmdplaystop, &QToolButton::clicked, this, &frmMain::cmdplaystop_Click);
  connect(cmdsave, &QToolButton::clicked, this, &frmMain::cmdsave_Click);
  connect(cmdsavewav, &QToolButton::clicked, this, &frmMain::cmdsavewav_Click);
  connect(mnwave, &QAction::triggered, this, &frmMain::mnwave_Click);
  connect(cmbQuality, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { cmbQuality_Click(cmbQuality->row(item)); });
  connect(mnew, &QAction::triggered, this, &frmMain::mnew_Click);
  connect(inputmenu, &QAction::triggered, this, &frmMain::inputmenu_Click);
  connect(cboRecSrcType, &QListWidget::currentRowChanged, this, &frmMain::cboRecSrcType_Click);
  connect(sldRecVolume, &QSlider::valueChanged, this, &frmMain::sldRecVolume_Change);
  connect(Sldmastervolume, &QSlider::valueChanged, this, &frmMain::Sldmastervolume_Change);
  connect(SLDPLAYVOLUME, &QSlider::valueChanged, this, &frmMain::SLDPLAYVOLUME_Change);
  connect(CHKPLAYMUTE, &QCheckBox::clicked, this, &frmMain::CHKPLAYMUTE_Click);
  connect(Cominput, &QToolButton::clicked, this, &frmMain::Cominput_Click);
  connect(Comout, &QToolButton::clicked, this, &frmMain::Comout_Click);
  connect(Mmp3, &QAction::triggered, this, &frmMain::Mmp3_Click);
  connect(Combo1, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { Combo1_Click(Combo1->row(item)); });
  connect(encstop, &QToolButton::clicked, this, &frmMain::encstop_Click);
  connect(MEnc1, &MEnc::Progress, this, &frmMain::MEnc1_Progress);
  connect(MEnc1, &MEnc::TimeLeft, this, &frmMain::MEnc1_TimeLeft);
  connect(MEnc1, &MEnc::Failed, this, [this](const QString& text) {
    // The take stays in its work file; the user may try another name.
    app::services().messages->show(app::kStyleExclamation, "VARENO", text);
    prog->setValue(0);
    encstop->setEnabled(false);
    session.encodingEnded();
    cmdsave->setEnabled(true);
    cmdrec->setEnabled(true);
    followSession();
    QGuiApplication::restoreOverrideCursor();
  });
  // The take's sample rate could not have the chosen bit rate: the MP3 has the nearest one.
  connect(MEnc1, &MEnc::Notice, this, [](const QString& text) {
    app::services().messages->show(app::kStyleInformation, "VARENO", text);
  });
  connect(wavp3, &QAction::triggered, this, &frmMain::wavp3_Click);
  cdripper = ui_->cdripper;
  connect(cdripper, &QAction::triggered, this, &frmMain::cdripper_Click);
  Mhelp = ui_->Mhelp;
  connect(Mhelp, &QAction::triggered, this, &frmMain::Mhelp_Click);
  MnuAbout = ui_->MnuAbout;
  connect(MnuAbout, &QAction::triggered, this, &frmMain::MnuAbout_Click);
  setWavePlayerHooks();
}

// What the take's WavePlayer needs of the window.
void frmMain::setWavePlayerHooks() {
  auto& h = recorder::wavePlayerHooks();
  h.doEvents = [] {
    // Runs the window's events for 20 ms: the stop buttons, the timers, the meter.
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
  };
  h.stopTimers = [this] {
    Timer2.stop();
    Timer3.stop();
  };
  h.busyCursor = [](bool on) {
    if (on)
      QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QGuiApplication::restoreOverrideCursor();
  };
  h.message = [](const std::string& text) {
    app::services().messages->show(0, "ORIVEL", QString::fromStdString(text));
  };
  h.recordSource = [this] {
    return VRMixer1 ? VRMixer1->recordSourceName() : std::string(audiolib::kDefaultSource);
  };
  h.takeFile = app::workFile("NEWWAVE.WAV").toStdString();
}

// ---- the wave set-up ------------------------------------------------------------------------

void frmMain::mnwave_Click() {
  cmbQuality->show();
}

void frmMain::cmbQuality_Click(int index) {
  if (index < 0 || index >= int(recorder::kWaveSetupItems.size())) return;
  const auto& item = recorder::kWaveSetupItems[size_t(index)];
  if (!item.format) return;
  recorder::recordingFormat() = *item.format;
  app::services().messages->show(0, "ORIVEL", "Wave Setup");
  cmbQuality->hide();
}

// ---- recording ------------------------------------------------------------------------------

void frmMain::mnew_Click() {
  if (!session.allows(player::Session::Control::SongMenus)) return;
  session.freeRecordingPrepared();
  prepareTake(freeRecording);
}

void frmMain::cmdrec_Click() {
  if (!session.allows(player::Session::Control::Record)) return;
  if (!confirmTakeLoss()) return;
  if (ripPending) {
    session.cdTrackTaken();
    closeCdWindow();
    CMDialog1.FileName = app::workFile("TRACK.WAV");
    if (CMDialog1.FileName.isEmpty()) return;
  }
  auto& hooks = recorder::wavePlayerHooks();
  hooks.songStartNs = nullptr;
  if (!freeRecording) {
    if (audioSong) {
      recAudio();
      const HSTREAM song = player->mainStream;
      hooks.songStartNs = [song](int64_t* ns) { return audiolib::streamFrameHeardNs(song, 0, ns); };
      const QWORD len = BASS_StreamGetLength(song);
      if (len != QWORD(-1)) {
        const long s = std::lrint(BASS_ChannelBytes2Seconds(song, len));
        lblTime->setText(QString("%1:%2 ").arg(s / 60).arg(s % 60));
      }
    } else if (midiPlayer && midiPlayer->hasSong()) {
      Cmd_Play_Click();
      audiolib::MidiPerformance* perf = midiPlayer->midiPerformance.get();
      if (perf) hooks.songStartNs = [perf](int64_t* ns) { return perf->songStartHeardNs(ns); };
    }
  }
  // The singer is heard the measured round trip after the server's figures say.
  if (hooks.songStartNs && roundTripNs() != 0)
    hooks.songStartNs = [heard = hooks.songStartNs, extra = roundTripNs()](int64_t* ns) {
      if (!heard(ns)) return false;
      *ns += extra;
      return true;
    };
  const bool overMidiSong = !freeRecording && !audioSong && midiPlayer && midiPlayer->hasSong();
  showTakeScore(std::nullopt);
  if (overMidiSong) singingStart();
  session.takeStarted();
  followSession();
  Timer2.start();
  Cmd_Play->setEnabled(false);
  Cmd_Stop->setEnabled(false);
  cmdrec->setEnabled(false);
  cmdsave->setEnabled(false);
  cmdsavewav->setEnabled(false);
  cmdstop->setEnabled(true);
  stopRequested = false;
  recordFinished = false;

  const QString take = app::workFile("NEWWAVE.WAV");
  bool haveTake = false;
  // Holds what was recorded: the take file has audio after its header.
  const auto takeOnDisk = [&take] { return QFileInfo(take).size() > 44; };
  try {
    recorder::WavePlayer wp;
    const audiolib::CaptureFormat f = recorder::recordingFormat();
    wp.setChannels(f.channels);
    wp.setSamplerate(f.rate);
    wp.setBitsPerSample(f.bits);
    wp.Record();
    wp.StopRecording();
    singingStop();
    haveTake = true;
    try {
      wp.SaveAs(take.toStdString());
    } catch (const recorder::WaveError& e) {
      // The take stays as it was recorded; the message says why the save failed.
      app::services().messages->show(app::kStyleExclamation, "ORIVEL",
                                     QString::fromStdString(e.description));
    }
    session.takeEnded(takeOnDisk());
    QGuiApplication::restoreOverrideCursor();
    Timer2.stop();
    if (app::services().messages->show(app::kStyleYesNo, "PlayBack", "") == app::kAnswerYes) {
      cmdplaystop->setEnabled(true);
      wp.Play();
      cmdplaystop->setEnabled(false);
    }
  } catch (const recorder::WaveError& e) {
    QGuiApplication::restoreOverrideCursor();
    qCWarning(lcRecorder) << e.what();
    app::services().messages->show(app::kStyleExclamation, "ORIVEL",
                                   QString::fromStdString(e.description));
    if (recordingTake) cmdstop_Click();
    singingStop();
    // A take that stopped on a failed write keeps what reached the disk.
    haveTake = takeOnDisk();
    session.takeEnded(haveTake);
  }
  if (midiPlayer && (midiPlayer->songPlaying || midiPlayer->midiRunning)) {
    midiPlayer->songPlaying = 0;
    midiPlayer->midiRunning = false;
    MnuOpenSong->setEnabled(true);
    mnew->setEnabled(true);
  }
  if (haveTake && overMidiSong) scoreTake(take);
  if (haveTake) app::services().messages->show(0, "ORIVEL", "Fatto!");
  player->default_();
  Meff->setEnabled(false);
  Cmd_Play->setEnabled(true);
  Cmd_Stop->setEnabled(true);
  // A take exists: it can be saved as WAV or MP3.
  cmdsave->setEnabled(haveTake);
  cmdsavewav->setEnabled(haveTake);
  cmdrec->setEnabled(true);
  // The menus stayed off from the recorder's stop until the take was over.
  enamenu();
  followSession();
}

void frmMain::cmdplaystop_Click() {
  stopRequested = true;
  recordFinished = true;
  cmdplaystop->setEnabled(false);
}

void frmMain::cmdsave_Click() {
  const auto chosen = app::services().files->openFile(
      this, {"Save MP3 File As", "File MP3 (*.MP3)|*.MP3", ".mp3", true});
  if (!chosen) {
    app::services().messages->show(0, "MIDI to MP3", "Annullato!");
    return;
  }
  cmdsave->setEnabled(false);
  encstop->setEnabled(true);
  encoding = false;
  session.encodingStarted();
  followSession();
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  prog->show();
  MEnc1->setBitRateBps(int(mp3BitRate));
  MEnc1->setChannelMode(0);
  MEnc1->setTargetFile(*chosen);
  MEnc1->setSourceFile(app::workFile("NEWWAVE.WAV"));
  MEnc1->StartEncoding();
}

void frmMain::cmdsavewav_Click() {
  const auto chosen = app::services().files->openFile(
      this, {"Save WAVE File As", "File Wave (*.wav)|*.wav", ".wav", true});
  if (!chosen) return;
  cmdsave->setEnabled(false);
  const QString take = app::workFile("NEWWAVE.WAV");
  // A copy over an existing file replaces it; a failed copy says so and keeps the take.
  QFile::remove(*chosen + ".part");
  const bool ok = QFile::copy(take, *chosen + ".part") &&
                  (!QFile::exists(*chosen) || QFile::remove(*chosen)) &&
                  QFile::rename(*chosen + ".part", *chosen);
  if (!ok) {
    QFile::remove(*chosen + ".part");
    app::services().messages->show(app::kStyleExclamation, "ORIVEL",
                                   "The take could not be saved as " + *chosen);
  } else {
    session.takeSaved();
  }
  QGuiApplication::restoreOverrideCursor();
  cmdrec->setEnabled(true);
  Timer.start();
  cmdsave->setEnabled(true);
  followSession();  // a save during a rip leaves REC off
}

// ---- the MP3 export -------------------------------------------------------------------------

void frmMain::Mmp3_Click() {
  Combo1->show();
}

void frmMain::Combo1_Click(int index) {
  if (index < 0 || index >= int(kBitRates.size())) return;
  mp3BitRate = kBitRates[size_t(index)];
  app::services().messages->show(0, "ORIVEL", "Mp3 Setup");
  Combo1->hide();
}

void frmMain::encstop_Click() {
  encstop->setEnabled(false);
  cmdsave->setEnabled(false);
  MEnc1->StopEncoding();
  session.encodingEnded();
  QGuiApplication::restoreOverrideCursor();
  // The take is still there: it can be saved again.
  cmdsave->setEnabled(true);
  cmdrec->setEnabled(true);
  followSession();
}

void frmMain::MEnc1_Progress(int percent) {
  prog->setValue(percent);
  if (percent != 100) return;
  prog->setValue(100);
  session.encodingEnded();
  session.takeSaved();
  app::services().messages->show(0, "VARENO", "Fatto!");
  prog->hide();
  prog->setValue(0);
  QGuiApplication::restoreOverrideCursor();
  encstop->setEnabled(false);
  cmdsave->setEnabled(true);
  cmdrec->setEnabled(true);
  followSession();
}

void frmMain::MEnc1_TimeLeft(double) {
  if (!encoding && prog->value() == 100) prog->setValue(0);
}

void frmMain::wavp3_Click() {
  if (!converter) converter = std::make_unique<Form1>();
  converter->show();
  converter->raise();
}

// ---- the mixer panel ------------------------------------------------------------------------

void frmMain::mixerSetup() {
  VRMixer1 = std::make_unique<recorder::VRMixer>();
  VRMixer1->onPlayMuteChanged = [this](int value) {
    QMetaObject::invokeMethod(
        this, [this, value] { VRMixer1_PlayMuteChanged(value); }, Qt::QueuedConnection);
  };
  VRMixer1->onNoLine = [this](std::string& text) {
    VRMixer1->setRecSourceType(recorder::answerNoLine(text));
  };
  const QSignalBlocker b1(Sldmastervolume), b2(SLDPLAYVOLUME), b3(sldRecVolume), b4(cboRecSrcType);
  Sldmastervolume->setValue(100 - VRMixer1->masterVolume());
  sldRecVolume->setRange(0, 100);
  CHKPLAYMUTE->setChecked(true);
  VRMixer1->setPlayMute(true);
  SLDPLAYVOLUME->setRange(0, 100);
  SLDPLAYVOLUME->setValue(100 - VRMixer1->playVolume());
  // Recordings take the microphone until the user chooses another source.
  VRMixer1->setRecSourceType(2);
  cboRecSrcType->setCurrentRow(VRMixer1->recSourceType());
  sldRecVolume->setValue(100 - VRMixer1->recVolume());
}

void frmMain::inputmenu_Click() {
  cboRecSrcType->show();
}

void frmMain::cboRecSrcType_Click() {
  if (!VRMixer1) return;
  const int index = cboRecSrcType->currentRow();
  if (index < 0) return;
  VRMixer1->setRecSourceType(index);
  const int kept = VRMixer1->recSourceType();
  if (kept != index) {
    cboRecSrcType->setCurrentRow(kept);  // runs this handler again with the kept type
    return;
  }
  {
    const QSignalBlocker block(sldRecVolume);
    sldRecVolume->setValue(100 - VRMixer1->recVolume());
  }
  VRMixer1->setRecSourceType(index);
  cboRecSrcType->hide();
}

void frmMain::sldRecVolume_Change() {
  if (VRMixer1) VRMixer1->setRecVolume(100 - sldRecVolume->value());
}

void frmMain::Sldmastervolume_Change() {
  if (VRMixer1) VRMixer1->setMasterVolume(100 - Sldmastervolume->value());
}

void frmMain::SLDPLAYVOLUME_Change() {
  if (!VRMixer1) return;
  VRMixer1->setPlaySelect(2);
  VRMixer1->setPlayVolume(100 - SLDPLAYVOLUME->value());
}

void frmMain::CHKPLAYMUTE_Click() {
  if (!VRMixer1) return;
  VRMixer1->setPlaySelect(2);
  VRMixer1->setPlayMute(CHKPLAYMUTE->isChecked());
}

void frmMain::VRMixer1_PlayMuteChanged(int value) {
  CHKPLAYMUTE->setChecked(value != 0);
}

namespace {
void openVolumeControl(recorder::VolumeView view) {
  const auto command = recorder::volumeControlCommand(view);
  if (!command) {
    app::services().messages->show(app::kStyleExclamation, "ORIVEL",
                                   QString::fromUtf8(recorder::kNoVolumeControlText.data(),
                                                     int(recorder::kNoVolumeControlText.size())));
    return;
  }
  QStringList args;
  for (const auto& a : command->arguments) args << QString::fromStdString(a);
  QProcess::startDetached(QString::fromStdString(command->program), args);
}
}  // namespace

void frmMain::Cominput_Click() {
  openVolumeControl(recorder::VolumeView::Input);
}

void frmMain::Comout_Click() {
  openVolumeControl(recorder::VolumeView::Output);
}
