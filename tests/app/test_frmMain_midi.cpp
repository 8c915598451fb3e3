// The main window's MIDI player as the user meets it, off screen, with the real engine and
// sequencer on SDL's paced silent output.
#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include "MainWindowTest.h"
#include "SmfWriter.h"
#include "TestAudio.h"
#include "frmMain.h"

namespace {

class MidiWindow : public apptest::MainWindowTest {
 protected:
  // Channel 1 plays a program-25 guitar at volume 90, channel 10 drums; a lyric per beat. A
  // text holds the byte of a Note On on channel 3, which the scanner counts as in use.
  QString song(double seconds = 3, const char* name = "song.kar") {
    testmidi::TrackWriter conductor;
    conductor.tempo(0, 500000).end();
    testmidi::TrackWriter t;
    t.text(0, 0x03, "Words").program(0, 0, 25).controller(0, 0, 7, 90).text(0, 0x01, "@\x92");
    const int beats = int(seconds * 2);
    for (int i = 0; i < beats; ++i) {
      t.text(i ? 240 : 0, 0x01, i % 4 == 0 ? "/La" : "la");
      t.noteOn(0, 0, 60 + i % 5, 100).noteOn(0, 9, 36, 100);
      t.channel(240, 0x80, {uint8_t(60 + i % 5), 0});
    }
    t.end(0);
    const auto path = home / name;
    testmidi::writeFile(path, testmidi::buildSmf(1, 480, {conductor.bytes(), t.bytes()}));
    return QString::fromStdString(path.string());
  }
  void open(const QString& path) {
    s.files.answers.push_back(path);
    w->MnuOpenSong->trigger();
  }
  // Per channel strip: 1 when its level, mute and instrument controls are enabled, 0 when none
  // is, ? when they disagree.
  std::string strips() const {
    std::string on;
    for (size_t i = 0; i < 16; ++i) {
      const int n =
          w->Slider2[i]->isEnabled() + w->Check1[i]->isEnabled() + w->Option1[i]->isEnabled();
      on += n == 3 ? '1' : n == 0 ? '0' : '?';
    }
    return on;
  }
};

// Before a song every strip is off; a cancelled song dialog still clears the panel; the sound
// bank menu asks for a DLS file.
TEST_F(MidiWindow, DialogsAskForTheirFilesAndCancellingClearsThePanel) {
  w->MnuOpenSong->trigger();
  ASSERT_EQ(s.files.requests.size(), 1u);
  EXPECT_EQ(s.files.requests[0].title, "Open Song File");
  EXPECT_EQ(s.files.requests[0].filter, "Kar File (*.kar)|*.kar|Mid File(*.mid)|*.mid");
  EXPECT_EQ(w->LabelSongLength->text(), "");
  EXPECT_FALSE(w->Cmd_Play->isEnabled());
  EXPECT_FALSE(w->Cmdplw->isEnabled());
  EXPECT_EQ(strips(), "0000000000000000");
  EXPECT_FALSE(w->dlsbank->isEnabled());
  open(song());
  w->dlsbank->setEnabled(true);
  w->dlsbank->trigger();
  ASSERT_EQ(s.files.requests.size(), 3u);
  EXPECT_EQ(s.files.requests[2].title, "Load Sound Bank");
  EXPECT_EQ(s.files.requests[2].filter, "DLS (*.DLS)|*.dls");
  EXPECT_FALSE(w->Cmd_Play->isEnabled());
  EXPECT_FALSE(w->midiPlayer->soundBank);
}

TEST_F(MidiWindow, PlayReadsTheSongAndEnablesItsStripsStopUnloadsIt) {
  open(song());
  EXPECT_TRUE(w->Cmd_Play->isEnabled());
  EXPECT_TRUE(w->cmdrec->isEnabled());
  EXPECT_FALSE(w->audioSong);
  QTest::mouseClick(w->Cmd_Play, Qt::LeftButton);
  const player::MidiPlayer& m = *w->midiPlayer;
  EXPECT_TRUE(m.songLoaded);
  EXPECT_EQ(m.songPlaying, 1);
  EXPECT_TRUE(w->Cmd_Stop->isEnabled());
  EXPECT_FALSE(w->Cmd_Play->isEnabled());
  EXPECT_EQ(w->vslidertempo->value(), 64);
  EXPECT_EQ(w->lblInfo[2]->text(), "0");
  // Channel 1: the file's volume 90 shows as 127 - 90; channel 10 holds the drums. Channel
  // 3 is in the scanner's table but starts no note: its strip stays off, as do the unused.
  EXPECT_EQ(strips(), "1000000001000000");
  EXPECT_EQ(w->Slider2[0]->value(), 37);
  EXPECT_TRUE(w->Check1[0]->isChecked());
  EXPECT_EQ(m.channelTable[0].program, 25);
  EXPECT_NE(m.channelTable[2].inUse, -1);
  EXPECT_EQ(w->Slider2[1]->value(), 127);
  // The last note ends after five and a half quarters at 120 beats a minute: 2.75 s.
  EXPECT_EQ(w->lblTime->text(), "0 :02");
  // Lyrics light as the song goes; the clock counts the song's own seconds.
  const long first = m.lyricCursor;
  ASSERT_TRUE(QTest::qWaitFor([&] { return m.lyricCursor > first; }, 3000));
  EXPECT_FALSE(w->Picture3->pixmap().isNull());
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->Label5->text() == "00:01"; }, 3000));
  EXPECT_GE(m.seconds(m.songState.GetSeekHeard()), 1.0);
  EXPECT_DOUBLE_EQ(m.lengthSeconds(), 2.75);

  // Stop unloads the song; Play again reloads it from the start.
  ASSERT_TRUE(QTest::qWaitFor([&] { return m.songState.GetSeek() >= 1000; }, 3000));
  QTest::mouseClick(w->Cmd_Stop, Qt::LeftButton);
  EXPECT_FALSE(m.songLoaded);
  EXPECT_EQ(m.songPlaying, 0);
  EXPECT_FALSE(w->Cmd_Stop->isEnabled());
  EXPECT_TRUE(w->Cmd_Play->isEnabled());
  EXPECT_TRUE(w->MnuFile->isEnabled());
  w->Cmd_Play_Click();
  EXPECT_TRUE(m.songLoaded);
  EXPECT_LT(m.songState.GetSeek(), 500);

  // A second song: the strips are those of the song now open.
  QTest::mouseClick(w->Cmd_Stop, Qt::LeftButton);
  open(song(3, "other.mid"));
  EXPECT_EQ(strips(), "0000000000000000");
}

// While the song plays: key and tempo show their steps; "Midi Audio Level" is louder to the
// right, by the key as by its looks; a strip mutes; the instrument list changes a channel's
// program but not the drums' kit.
TEST_F(MidiWindow, KeyTempoLevelMuteAndInstrumentControls) {
  open(song());
  w->vscroll1->setValue(3);  // no song playing: nothing happens
  EXPECT_EQ(w->lblInfo[0]->text(), "0");
  w->Cmd_Play_Click();
  const player::MidiPlayer& m = *w->midiPlayer;
  w->vscroll1->setValue(-4);
  EXPECT_EQ(w->lblInfo[0]->text(), "-4");
  w->vslidertempo->setValue(127);
  EXPECT_FLOAT_EQ(m.midiPerformance->GetMasterTempo(), 2.0f);
  EXPECT_EQ(w->lblInfo[2]->text(), "6");
  w->vslidertempo->setValue(0);
  EXPECT_EQ(w->lblInfo[2]->text(), "-6");
  EXPECT_GT(m.midiPerformance->GetMasterTempo(), 0.0f);  // the slowest the sequencer plays

  w->Slider1->setValue(50);
  const long level = m.midiPerformance->GetMasterVolume();
  QTest::keyClick(w->Slider1, Qt::Key_Right);
  EXPECT_GT(m.midiPerformance->GetMasterVolume(), level);
  EXPECT_LT(w->Slider1->value(), 50);  // the mapping stays: a smaller value is louder

  QTest::mouseClick(w->Check1[0], Qt::LeftButton);  // off
  EXPECT_EQ(w->Slider2[0]->value(), 127);
  EXPECT_FALSE(w->Slider2[0]->isEnabled());
  EXPECT_TRUE(m.channelTable[0].volumeChanged);
  QTest::mouseClick(w->Check1[0], Qt::LeftButton);  // on: the file's volume again
  EXPECT_EQ(w->Slider2[0]->value(), 37);

  QTest::mouseClick(w->Option1[0], Qt::LeftButton);
  EXPECT_TRUE(w->List3->isVisible());
  EXPECT_EQ(w->List3->currentRow(), 25);
  w->List3->setCurrentRow(40);
  w->List3_Click();
  ASSERT_EQ(s.messages.shown.size(), 1u);
  EXPECT_EQ(s.messages.shown[0].title, "ORIVEL");
  EXPECT_EQ(s.messages.shown[0].text, "Change Instrument");
  EXPECT_FALSE(w->List3->isVisible());
  EXPECT_EQ(m.channelTable[0].program, 40);
  EXPECT_TRUE(m.channelTable[0].instrumentChanged);

  // The drums keep their kit.
  QTest::mouseClick(w->Option1[9], Qt::LeftButton);
  w->List3->setCurrentRow(3);
  w->List3_Click();
  EXPECT_EQ(m.channelTable[9].program, 0);
  EXPECT_FALSE(m.channelTable[9].instrumentChanged);
  EXPECT_EQ(w->Slider2[9]->toolTip(), "drums");
}

}  // namespace
