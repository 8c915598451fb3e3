// The main window's MIDI player: opening a song, the sequencer's play and stop, key, tempo and
// level, the position timers, the karaoke picture and the 16 channel strips. The handlers read
// the controls and call the sequencer (audiolib/MidiPerformance.h) and the song scanner
// (midi/); the byte rules live there.
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
#include <fstream>
#include <iterator>

#include "Controls.h"
#include "KaraokePicture.h"
#include "Preload.h"
#include "WorkFolder.h"
#include "frmMain.h"

namespace {

// The language's rounding of CInt: to the nearest whole number, halves to even.
int cint(double v) {
  return int(std::nearbyint(v));
}

std::vector<uint8_t> readAll(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

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
  midiPerformance = std::make_unique<audiolib::MidiPerformance>();
  midiPerformance->InitAudio();
  songLoaded = true;  // the load handler sets it back
}

void frmMain::dmenu() {
  MnuOpenSong->setEnabled(false);
}

void frmMain::MnuOpenSong_Click() {
  Cmdplw->setEnabled(false);
  cmdstw->setEnabled(false);
  cmdrec->setEnabled(false);
  cmdsave->setEnabled(false);
  progressPercent = 0;
  midiRunning = stopLatch = stoppedOnce = stopPending = false;
  recordingTake = false;
  recordFinished = false;
  audioSong = false;
  const bool chosen = ChooseSongFile();
  LabelSongLength->setText(chosen ? CMDialog1.FileName : QString());
  if (!chosen) CMDialog1.FileName.clear();
  for (int i = 0; i < 16; ++i) {
    channelTable[size_t(i)].volume = 0;
    Slider2[size_t(i)]->setEnabled(false);
    Slider2[size_t(i)]->setValue(0);
    Check1[size_t(i)]->setEnabled(false);
  }
  if (CMDialog1.FileName.isEmpty()) return;
  songSegment = midiLoader.LoadSegment(CMDialog1.FileName.toStdString());
}

bool frmMain::ChooseSongFile() {
  QFile::remove(app::workFile("NEWWAVE.WAV"));
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

void frmMain::CloseDevice() {
  // The synthesizer and its sound font stay loaded for the next song: only the song stops.
  if (songLoaded) midiPerformance->StopEx();
}

void frmMain::readfile() {
  songBytes = readAll(CMDialog1.FileName);
  const midi::SongScan scan = midi::scanSong(songBytes, timing);
  smfFormat = scan.smfFormat;
  trackCount = scan.trackCount;
  timing = scan.timing;
  lyrics = midi::songLyrics(songBytes, scan.lyricSource);
  lyricFontSize = app::fitLyricFont(Picture3, lyrics.lyricLines);
  for (size_t c = 0; c < channelTable.size(); ++c) {
    channelTable[c].inUse = scan.channels[c].inUse;
    channelTable[c].program = scan.channels[c].program;
    channelTable[c].volume = scan.channels[c].volume;
    channelTable[c].pan = scan.channels[c].pan;
  }
  fillChannelStrips();
  midi::CreateFileTemp((RPP(QDir::tempPath()) + "filetemp.tmp").toStdString());
}

void frmMain::OpenMusic() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  CloseDevice();
  readfile();
  QCoreApplication::processEvents();
  tempFilePath = RPP(QDir::tempPath()) + "filetemp.tmp";
  songSegment = midiLoader.LoadSegment(CMDialog1.FileName.toStdString());
  patchSegment = midiLoader.LoadSegment(tempFilePath.toStdString());
  songSegment.ConnectToCollection(soundBank);
  songSegment.SetStandardMidiFile();
  patchSegment.SetStandardMidiFile();
  songSegment.Download(*midiPerformance);
  patchSegment.Download(*midiPerformance);
  const int64_t L = songSegment.GetLength();
  lengthMinutes = long(L / 60000);
  lengthSeconds =
      QString("%1").arg(long(std::floor(double(L) / 1000 - lengthMinutes * 60)), 2, 10, QChar('0'));
  midiPerformance->SetMasterTempo(1.0f);
  songPlaying = 1;
  startTime = 0;
  vslidertempo->setValue(64);
  vscroll1->setValue(0);
  midiPerformance->SetMasterVolume(midi::masterVolume(Slider1->value()));
  lyricCursor = 0;
  songLoaded = true;
  QApplication::restoreOverrideCursor();
}

void frmMain::Cmd_Play_Click() {
  Meff->setEnabled(false);
  dismenu();
  Timer.start();
  cmdrec->setEnabled(false);
  dmenu();
  ZeroVariables();
  for (QToolButton* b : Check1) b->setEnabled(false);
  // A second play while the song plays would find it loaded and stop its tempo at nought.
  Cmd_Play->setEnabled(false);
  if (!stopPending) {
    vscroll1->setValue(0);
    vslidertempo->setValue(0);
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  if (!songLoaded) OpenMusic();
  // The first syllable from the start point on is the one awaited.
  const int64_t startTick = songSegment.division() * startTime / 768;
  lyricCursor = long(lyrics.lyricEvents.size()) - 1;
  for (size_t k = 0; k + 1 < lyrics.lyricEvents.size(); ++k)
    if (int64_t(lyrics.lyricEvents[k].tick) >= startTick) {
      lyricCursor = long(k);
      break;
    }
  const int64_t L = songSegment.GetLength();
  if (startTime >= L) startTime -= 10;
  if (startTime < 0) startTime = 0;
  songSegment.SetStartPoint(startTime);
  songPlaying = 0;
  songState = midiPerformance->PlaySegmentEx(songSegment);
  SetChannels();
  Timer1.start();
  Timer3.start();
  QApplication::restoreOverrideCursor();
  songPlaying = 1;
  lblTime->setText(QString("%1 :%2").arg(lengthMinutes).arg(lengthSeconds));
  if (stopPending) stopPending = false;
  midiRunning = true;
  Cmd_Stop->setEnabled(true);
}

void frmMain::Cmd_Stop_Click() {
  midiRunning = false;
  List3->hide();
  enamenu();
  dlsbank->setEnabled(true);
  Meff->setEnabled(true);
  MnuOpenSong->setEnabled(true);
  stopPending = stoppedOnce = stopLatch = true;
  songLoaded = false;
  midiPerformance->StopEx();
  cmdrec->setEnabled(true);
  Cmd_Play->setEnabled(true);
  songPlaying = 0;
  Cmd_Stop->setEnabled(false);
  Timer1.stop();
}

void frmMain::SeekEnd() {
  midiPerformance->StopEx();
}

void frmMain::vscroll1_Change() {
  if (songPlaying == 0) return;
  const int key = vscroll1->value();
  for (int channel = 0; channel < 16; ++channel)
    if (channel != 9) midiPerformance->SendTransposePMSG(channel, key);
  lblInfo[0]->setText(QString::number(key));
}

void frmMain::vslidertempo_Change() {
  const int v = vslidertempo->value();
  midiPerformance->SetMasterTempo(midi::tempoFactor(v));
  lblInfo[2]->setText(QString::number(int(std::floor((v * 24.0 / 127 - 12) / 2))));
}

// The level applies at once, as a user moving it expects, besides at every song's opening.
void frmMain::Slider1_Change() {
  if (songLoaded) midiPerformance->SetMasterVolume(midi::masterVolume(Slider1->value()));
}

void frmMain::dlsbank_Click() {
  if (midiRunning || recordingTake) return;
  Cmd_Play->setEnabled(false);
  cmdrec->setEnabled(false);
  if (recordFinished || stoppedOnce) Cmd_Stop->setEnabled(false);
  const auto chosen =
      app::services().files->openFile(this, {"Load Sound Bank", "DLS (*.DLS)|*.dls", ""});
  if (!chosen || !QFile::exists(*chosen)) return;
  soundBank = midiLoader.LoadCollection(chosen->toStdString());
}

void frmMain::Timer_Timer() {
  if (!audioSong && !freeRecording && songPlaying == 1) {
    const int64_t length = songSegment.GetLength();
    if (length > 0) progressPercent = cint(double(songState.GetSeek()) * 100 / double(length));
  }
  if (progressPercent == 100 && !stopLatch) {
    songLoaded = false;
    recordFinished = true;
    enamenu();
    dlsbank->setEnabled(true);
    midiRunning = false;
    Timer1.stop();
    if (recordingTake) {
      cmdrec->setEnabled(false);
      progressPercent = 0;
    }
    songPlaying = 0;
    MnuOpenSong->setEnabled(true);
    Cmd_Play->setEnabled(false);
    Cmd_Stop->setEnabled(false);
    if (recordFinished && recordingTake) {
      recordingTake = false;
      cmdrec->setEnabled(false);
      cmdstop->setEnabled(false);
      Cmd_Stop->setEnabled(false);
    }
  }
  if (songPlaying != 0) {
    const int64_t seek = songState.GetSeek();
    const long s = long(seek / 1000);
    const long minutes = s / 60;
    const long seconds = s - minutes * 60;
    Label5->setText(
        QString("%1:%2").arg(minutes, 2, 10, QChar('0')).arg(seconds, 2, 10, QChar('0')));
    if (seek >= songSegment.GetLength()) SeekEnd();
    setPicture2(kLightOn);
  }
}

void frmMain::Timer3_Timer() {
  setPicture2(kLightOff);
}

// ---- the karaoke picture ------------------------------------------------------------------

void frmMain::Timer1_Timer() {
  // The cursor waits on the element whose time is the start of the syllable after it; the
  // element before the first syllable carries that syllable's start, so none is skipped.
  // The song's position as heard, in the file's ticks: in step at any tempo and through any
  // tempo change of the song.
  const int64_t clock = songState.GetSeekHeard() * songSegment.division() / 768;
  const long last = long(lyrics.lyricEvents.size()) - 1;
  if (lyricCursor + 1 > last || clock < int64_t(lyrics.lyricEvents[size_t(lyricCursor)].tick))
    return;
  ++lyricCursor;
  const midi::LyricEvent& r = lyrics.lyricEvents[size_t(lyricCursor)];
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
  lyricCursor = 0;
  lyrics.reset();
  midi::resetChannelTable(channelTable);
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

void frmMain::fillChannelStrips() {
  for (int i = 0; i < 16; ++i) {
    midi::ChannelState& c = channelTable[size_t(i)];
    c.instrumentChanged = false;
    c.volumeChanged = false;
    if (c.inUse == -1) {
      Slider2[size_t(i)]->setEnabled(false);
      Slider2[size_t(i)]->setValue(127);
    } else {
      Slider2[size_t(i)]->setValue(127 - c.volume);
      Slider2[size_t(i)]->setEnabled(true);
      c.state = 2;
      Check1[size_t(i)]->setChecked(true);
      Check1[size_t(i)]->setEnabled(true);
      Option1[size_t(i)]->setEnabled(true);
    }
    QCoreApplication::processEvents();
  }
}

void frmMain::Slider2_Change(int i) {
  const midi::ChannelState& c = channelTable[size_t(i)];
  if (auto tip = midi::descrizionestrumenti(c.program))
    instrumentTip = QString::fromStdString(*tip);
  if (c.inUse == 10) instrumentTip = "drums";
  Slider2[size_t(i)]->setToolTip(instrumentTip);
  if (songLoaded) {
    midiPerformance->SendMIDIPMSG(i, 0xB0, 7, 127 - Slider2[size_t(i)]->value());
    channelTable[size_t(i)].volumeChanged = true;
  }
}

void frmMain::Check1_Click(int i) {
  if (!Check1[size_t(i)]->isChecked()) {
    Slider2[size_t(i)]->setValue(127);
    Slider2[size_t(i)]->setEnabled(false);
  } else {
    Slider2[size_t(i)]->setValue(127 - channelTable[size_t(i)].volume);
    Slider2[size_t(i)]->setEnabled(true);
  }
  if (!songLoaded) {
    midiPerformance->SendMIDIPMSG(i, 0xB0, 7, 127 - Slider2[size_t(i)]->value());
    channelTable[size_t(i)].volumeChanged = true;
  }
}

void frmMain::Option1_Click(int i) {
  patchListClicks = 0;
  if (!songLoaded) return;
  selectedChannel = i;
  List3->show();
  // Selecting the channel's instrument counts as the list's first click.
  const auto found = List3->findItems(
      QString::fromStdString(midi::GetPatch(channelTable[size_t(i)].program)), Qt::MatchExactly);
  if (!found.isEmpty()) List3->setCurrentItem(found.front());
  List3_Click();
}

void frmMain::List3_Click() {
  if (selectedChannel == 9) return;
  const int program = List3->currentRow();
  if (program < 0) return;
  midiPerformance->SendPatchPMSG(selectedChannel, program);
  QCoreApplication::processEvents();
  channelTable[size_t(selectedChannel)].program = int16_t(program);
  channelTable[size_t(selectedChannel)].instrumentChanged = true;
  if (++patchListClicks == 2) {
    patchListClicks = 0;
    app::services().messages->show(0, "ORIVEL", "Change Instrument");
    List3->hide();
  }
}

void frmMain::SetChannels() {
  // The performance queues these after the song's start, so nothing needs to wait here.
  for (int i = 0; i < 16; ++i) {
    const midi::ChannelState& c = channelTable[size_t(i)];
    if (c.inUse != -1 && c.instrumentChanged) midiPerformance->SendPatchPMSG(i, c.program);
  }
  for (int i = 0; i < 16; ++i) {
    const midi::ChannelState& c = channelTable[size_t(i)];
    if (c.inUse != -1 && c.volumeChanged)
      midiPerformance->SendMIDIPMSG(i, 0xB0, 7, 127 - Slider2[size_t(i)]->value());
  }
}
