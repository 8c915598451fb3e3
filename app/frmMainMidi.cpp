// The main window's MIDI player: opening a song, play and stop, key, tempo and level, the
// position timers, the karaoke picture and the 16 channel strips. The handlers read the
// controls, call the MIDI player's procedures (player/MidiPlayer.h) and show what they report.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QScrollBar>
#include <QSlider>
#include <QToolButton>
#include <cmath>

#include "KaraokePicture.h"
#include "SongLoudness.h"
#include "WorkFolder.h"
#include "frmMain.h"

void frmMain::connectMidiHandlers() {
  connect(MnuOpenSong, &QAction::triggered, this, &frmMain::MnuOpenSong_Click);
  connect(dlsbank, &QAction::triggered, this, &frmMain::dlsbank_Click);
  connect(Cmd_Play, &QToolButton::clicked, this, &frmMain::Cmd_Play_Click);
  connect(Cmd_Stop, &QToolButton::clicked, this, &frmMain::Cmd_Stop_Click);
  connect(vscroll1, &QScrollBar::valueChanged, this, &frmMain::vscroll1_Change);
  connect(vslidertempo, &QSlider::valueChanged, this, &frmMain::vslidertempo_Change);
  connect(Slider1, &QSlider::valueChanged, this, &frmMain::Slider1_Change);
  connect(&Timer, &QTimer::timeout, this, &frmMain::Timer_Timer);
  connect(&Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);
  connect(&Timer3, &QTimer::timeout, this, &frmMain::Timer3_Timer);
  connect(List3, &QListWidget::itemClicked, this, [this] { List3_Click(); });
  for (int i = 0; i < 16; ++i) {
    connect(Slider2[size_t(i)], &QSlider::valueChanged, this, [this, i] { Slider2_Change(i); });
    connect(Check1[size_t(i)], &QToolButton::clicked, this, [this, i] { Check1_Click(i); });
    connect(Option1[size_t(i)], &QToolButton::clicked, this, [this, i] { Option1_Click(i); });
  }
}

// ---- the sequencer ------------------------------------------------------------------------

void frmMain::Initialize() {
  midiPlayer = std::make_unique<player::MidiPlayer>();
  midiPlayer->Initialize();
  midiPlayer->songLoaded = true;  // the load handler sets it back
}

void frmMain::dmenu() {
  MnuOpenSong->setEnabled(false);
}

void frmMain::MnuOpenSong_Click() {
  if (!session.allows(player::Session::Control::SongMenus)) return;
  Cmdplw->setEnabled(false);
  cmdstw->setEnabled(false);
  cmdrec->setEnabled(false);
  cmdsave->setEnabled(false);
  recordingTake = false;
  recordFinished = false;
  session.midiSongChosen();
  const bool chosen = ChooseSongFile();
  LabelSongLength->setText(chosen ? CMDialog1.FileName : QString());
  if (!chosen) CMDialog1.FileName.clear();
  // The strips follow the song now open: none is usable until it is read at Play.
  for (int i = 0; i < 16; ++i) {
    Slider2[size_t(i)]->setEnabled(false);
    Slider2[size_t(i)]->setValue(0);
    Check1[size_t(i)]->setEnabled(false);
    Option1[size_t(i)]->setEnabled(false);
  }
  List3->hide();
  app::clearPicture(Picture3);
  midiPlayer->chooseSong(CMDialog1.FileName.toStdString());
  followSession();
}

bool frmMain::ChooseSongFile() {
  // The previous take goes, unless the user has not saved it: the record command asks then.
  if (session.takeMayGo()) {
    QFile::remove(app::workFile("NEWWAVE.WAV"));
    session.takeDiscarded();
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const auto chosen = app::services().files->openFile(
      this, {"Open Song File", "Kar File (*.kar)|*.kar|Mid File(*.mid)|*.mid", ""});
  QApplication::restoreOverrideCursor();
  if (!chosen) return false;
  CMDialog1.FileName = *chosen;
  HScroll3->setValue(0);
  HScroll3->setEnabled(true);
  Cmd_Play->setEnabled(true);
  cmdrec->setEnabled(true);
  Meff->setEnabled(true);
  dlsbank->setEnabled(false);
  vslidertempo->setEnabled(true);
  return true;
}

void frmMain::readfile() {
  lyricFontSize = app::fitLyricFont(Picture3, midiPlayer->lyrics.lyricLines);
  fillChannelStrips();
}

void frmMain::OpenMusic() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  midiPlayer->OpenMusic(Slider1->value());
  // A new song plays in its own key: the key shown is the key heard.
  lblInfo[0]->setText(QString::number(midiPlayer->keyHeard()));
  readfile();
  singerMidiOpened();
  vslidertempo->setValue(64);
  vscroll1->setValue(0);
  loudness->songOpened(midiPlayer->fileName());
  applySongGain(false);
  tmrLoudness.start();
  QApplication::restoreOverrideCursor();
}

void frmMain::Cmd_Play_Click() {
  if (!session.allows(player::Session::Control::MidiPlay)) return;
  session.songPlayed();
  Meff->setEnabled(false);
  dismenu();
  Timer.start();
  cmdrec->setEnabled(false);
  dmenu();
  ZeroVariables();
  for (QToolButton* b : Check1) b->setEnabled(false);
  // A second play while the song plays would find it loaded and stop its tempo at nought.
  Cmd_Play->setEnabled(false);
  if (!midiPlayer->stopPending) {
    vscroll1->setValue(0);
    vslidertempo->setValue(0);
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  if (!midiPlayer->songLoaded) OpenMusic();
  midiPlayer->Play(channelSliders());
  Timer1.start();
  Timer3.start();
  QApplication::restoreOverrideCursor();
  lblTime->setText(QString::fromStdString(midiPlayer->lengthText));
  Cmd_Stop->setEnabled(true);
  followSession();
}

void frmMain::Cmd_Stop_Click() {
  List3->hide();
  enamenu();
  dlsbank->setEnabled(true);
  Meff->setEnabled(true);
  MnuOpenSong->setEnabled(true);
  midiPlayer->Stop();
  cmdrec->setEnabled(true);
  Cmd_Play->setEnabled(true);
  Cmd_Stop->setEnabled(false);
  Timer1.stop();
  followSession();
}

void frmMain::vscroll1_Change() {
  const int key = vscroll1->value();
  if (midiPlayer->transpose(key)) lblInfo[0]->setText(QString::number(key));
  singingMoved();
}

void frmMain::vslidertempo_Change() {
  const int v = vslidertempo->value();
  midiPlayer->setTempo(v);
  lblInfo[2]->setText(QString::number(int(std::floor((v * 24.0 / 127 - 12) / 2))));
  singingMoved();
}

// The level applies at once, as a user moving it expects, besides at every song's opening.
void frmMain::Slider1_Change() {
  midiPlayer->setLevel(Slider1->value());
}

void frmMain::dlsbank_Click() {
  if (midiPlayer->midiRunning || recordingTake) return;
  Cmd_Play->setEnabled(false);
  cmdrec->setEnabled(false);
  if (recordFinished || midiPlayer->stoppedOnce) Cmd_Stop->setEnabled(false);
  const auto chosen =
      app::services().files->openFile(this, {"Load Sound Bank", "DLS (*.DLS)|*.dls", ""});
  if (chosen) midiPlayer->loadSoundBank(chosen->toStdString());
}

void frmMain::Timer_Timer() {
  ++recorder::tickCount;  // the take's playback counts from 0
  if (!audioSong && !freeRecording) {
    const player::MidiPlayer::Tick tick = midiPlayer->Timer_Timer();
    if (tick.ended) midiSongEnded();
    if (!tick.position.empty()) {
      Label5->setText(QString::fromStdString(tick.position));
      setPicture2(kLightOn);
    }
  }
}

// The song played to its end: the player is stopped, and Play plays it again from the
// beginning (it is opened anew), as after Stop.
void frmMain::midiSongEnded() {
  recordFinished = true;
  enamenu();
  dlsbank->setEnabled(true);
  Timer1.stop();
  if (recordingTake) {
    cmdrec->setEnabled(false);
    midiPlayer->progressPercent = 0;
  }
  MnuOpenSong->setEnabled(true);
  Cmd_Play->setEnabled(!recordingTake);
  Cmd_Stop->setEnabled(false);
  if (recordFinished && recordingTake) {
    recordingTake = false;
    cmdrec->setEnabled(false);
    cmdstop->setEnabled(false);
    Cmd_Stop->setEnabled(false);
  } else {
    cmdrec->setEnabled(true);
  }
  followSession();
}

void frmMain::Timer3_Timer() {
  setPicture2(kLightOff);
}

// ---- the karaoke picture ------------------------------------------------------------------

void frmMain::Timer1_Timer() {
  const auto cursor = midiPlayer->Timer1_Timer();
  if (!cursor) return;
  const midi::LyricTable& lyrics = midiPlayer->lyrics;
  const midi::LyricEvent& r = lyrics.lyricEvents[size_t(*cursor)];
  app::LyricFrame frame;
  frame.line = QString::fromStdString(lyrics.lyricLines[size_t(r.line)]);
  frame.column = r.column;
  frame.textLength = r.textLength;
  frame.text = QString::fromStdString(r.text);
  frame.hasNextLine = size_t(r.line + 1) < lyrics.lyricLines.size();
  if (frame.hasNextLine)
    frame.nextLine = QString::fromStdString(lyrics.lyricLines[size_t(r.line + 1)]);
  app::drawLyricFrame(Picture3, lyricFontSize, frame);
}

// ---- the channel strips -------------------------------------------------------------------

void frmMain::ZeroVariables() {
  midiPlayer->ZeroVariables();
  for (int i = 0; i < 16; ++i) {
    Slider2[size_t(i)]->setValue(0);
    Slider2[size_t(i)]->setEnabled(false);
    Check1[size_t(i)]->setChecked(false);
  }
}

void frmMain::LoadPatches() {
  List3->clear();
  for (std::string_view name : midi::programNames())
    List3->addItem(QString::fromUtf8(name.data(), int(name.size())));
}

// A strip is usable when the scanner found its channel and the song starts notes on it; the
// strips of other channels (and of the previous song) stay disabled.
void frmMain::fillChannelStrips() {
  // The song's own levels are shown, not sent: only the user's moves override the song.
  fillingStrips_ = true;
  for (int i = 0; i < 16; ++i) {
    midi::ChannelState& c = midiPlayer->channelTable[size_t(i)];
    c.instrumentChanged = false;
    c.volumeChanged = false;
    const bool usable = c.inUse != -1 && midiPlayer->channelPlayable(i);
    if (!usable) {
      Slider2[size_t(i)]->setEnabled(false);
      Slider2[size_t(i)]->setValue(127);
      Check1[size_t(i)]->setEnabled(false);
      Option1[size_t(i)]->setEnabled(false);
    } else {
      Slider2[size_t(i)]->setValue(127 - c.volume);
      Slider2[size_t(i)]->setEnabled(true);
      c.state = 2;
      Check1[size_t(i)]->setChecked(true);
      Check1[size_t(i)]->setEnabled(true);
      Option1[size_t(i)]->setEnabled(true);
    }
  }
  fillingStrips_ = false;
}

std::array<int, 16> frmMain::channelSliders() const {
  std::array<int, 16> values{};
  for (size_t i = 0; i < values.size(); ++i) values[i] = Slider2[i]->value();
  return values;
}

void frmMain::Slider2_Change(int i) {
  const midi::ChannelState& c = midiPlayer->channelTable[size_t(i)];
  if (auto tip = midi::descrizionestrumenti(c.program))
    instrumentTip = QString::fromStdString(*tip);
  if (c.inUse == 10) instrumentTip = "drums";
  Slider2[size_t(i)]->setToolTip(instrumentTip);
  if (midiPlayer->songLoaded && !fillingStrips_)
    midiPlayer->channelVolume(i, 127 - Slider2[size_t(i)]->value());
}

void frmMain::Check1_Click(int i) {
  if (!Check1[size_t(i)]->isChecked()) {
    Slider2[size_t(i)]->setValue(127);
    Slider2[size_t(i)]->setEnabled(false);
  } else {
    Slider2[size_t(i)]->setValue(127 - midiPlayer->channelTable[size_t(i)].volume);
    Slider2[size_t(i)]->setEnabled(true);
  }
  if (!midiPlayer->songLoaded) midiPlayer->channelVolume(i, 127 - Slider2[size_t(i)]->value());
}

void frmMain::Option1_Click(int i) {
  patchListClicks = 0;
  if (!midiPlayer->songLoaded) return;
  selectedChannel = i;
  List3->show();
  // Selecting the channel's instrument counts as the list's first click.
  const auto found = List3->findItems(
      QString::fromStdString(midi::GetPatch(midiPlayer->channelTable[size_t(i)].program)),
      Qt::MatchExactly);
  if (!found.isEmpty()) List3->setCurrentItem(found.front());
  List3_Click();
}

void frmMain::List3_Click() {
  if (selectedChannel == 9) return;
  const int program = List3->currentRow();
  if (program < 0) return;
  midiPlayer->channelProgram(selectedChannel, program);
  if (++patchListClicks == 2) {
    patchListClicks = 0;
    app::services().messages->show(0, "ORIVEL", "Change Instrument");
    List3->hide();
  }
}
