// The main window's recorder through the real sound server: a take sung over a WAV song in
// the format of the wave set-up, stopped with the recorder's stop button, saved as WAV and as
// MP3; and the mixer panel's record source list and level.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>

#include "AppTestSupport.h"
#include "Form2.h"
#include "MicFeed.h"
#include "SmfWriter.h"
#include "SoundServer.h"
#include "TestAudio.h"
#include "VRMixer.h"
#include "frmMain.h"

namespace {

frmMain* accept(Form2& warning) {
  warning.show();
  QTest::mouseClick(warning.Command1, Qt::LeftButton);
  return warning.mainWindow();
}

bool shown(const apptest::RecordingMessages& m, const QString& title, const QString& text) {
  for (const auto& s : m.shown)
    if (s.title == title && s.text == text) return true;
  return false;
}

std::string q(const std::filesystem::path& p) {
  return "'" + p.string() + "'";
}

TEST(RecorderWindow, TakeOverASongIsRecordedStoppedAndSavedAsWavAndMp3) {
  REQUIRE_SOUND_SERVER();
  testaudio::run(
      "pactl set-sink-volume @DEFAULT_SINK@ 100%; pactl set-source-volume @DEFAULT_SOURCE@ 100%");
  testaudio::TempDir home;
  setenv("ORIVELR_HOME", home.path().c_str(), 1);
  apptest::InstalledServices s;
  const auto song = home / "song.wav";
  testaudio::writeWav(song, testaudio::makeAudio(44100, 2, 44100 * 20, [](int64_t f, int) {
                        return testaudio::sine(440, 0.2, f, 44100);
                      }));
  Form2 warning;
  frmMain* w = accept(warning);
  ASSERT_TRUE(w && w->isVisible()) << "start-up failed";

  // The first item changes nothing; "22KHz @ 16bit Mono" sets the format and hides the list.
  w->mnwave->trigger();
  EXPECT_TRUE(w->cmbQuality->isVisible());
  w->cmbQuality_Click(0);
  EXPECT_TRUE(w->cmbQuality->isVisible());
  EXPECT_TRUE(s.messages.shown.empty());
  w->cmbQuality_Click(5);
  EXPECT_FALSE(w->cmbQuality->isVisible());
  ASSERT_EQ(s.messages.shown.size(), 1u);
  EXPECT_EQ(s.messages.shown[0].text, "Wave Setup");
  EXPECT_EQ(s.messages.shown[0].title, "ORIVEL");

  s.files.answers.push_back(QString::fromStdString(song.string()));
  w->menuwave->trigger();
  ASSERT_TRUE(w->cmdrec->isEnabled());
  const auto take = home / "NEWWAVE.WAV";
  // Stops the take once two seconds of it are on disk; answers "PlayBack" with No.
  QTimer stopper;
  QObject::connect(&stopper, &QTimer::timeout, [&] {
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(take, ec);
    if (!ec && bytes >= 44 + 2 * 44100 && w->cmdstop->isEnabled()) {
      QTest::mouseClick(w->cmdstop, Qt::LeftButton);
      stopper.stop();
    }
  });
  stopper.start(20);
  s.messages.answers = {7};  // No to "PlayBack"
  {
    testaudio::MicFeed voice(660, 0.4f);
    QTest::mouseClick(w->cmdrec, Qt::LeftButton);  // returns when the take is done
  }
  EXPECT_TRUE(shown(s.messages, "PlayBack", ""));
  EXPECT_TRUE(shown(s.messages, "ORIVEL", "Fatto!"));
  EXPECT_FALSE(w->recordingTake);
  EXPECT_TRUE(w->cmdrec->isEnabled());
  const auto a = testaudio::readAudio(take);
  EXPECT_EQ(a.rate, 22050);
  EXPECT_EQ(a.channels, 1);
  EXPECT_GE(a.frames(), 3 * 22050);  // two seconds and the second after the stop
  EXPECT_NEAR(testaudio::toneAmplitude(a, 0, 660, 22050 / 2, 22050), 0.4, 0.05);

  // Saved as WAV: the same bytes under the chosen name.
  const auto wav = home / "mine.wav";
  s.files.answers.push_back(QString::fromStdString(wav.string()));
  QTest::mouseClick(w->cmdsavewav, Qt::LeftButton);
  ASSERT_EQ(s.files.requests.back().title, "Save WAVE File As");
  EXPECT_EQ(testaudio::run("cmp -s " + q(take) + " " + q(wav)), 0);

  // Cancelling the MP3 save says so; a chosen name gets the MP3 at the chosen bit rate.
  QTest::mouseClick(w->cmdsave, Qt::LeftButton);
  EXPECT_TRUE(shown(s.messages, "MIDI to MP3", "Annullato!"));
  w->Mmp3->trigger();
  w->Combo1_Click(2);
  EXPECT_TRUE(shown(s.messages, "ORIVEL", "Mp3 Setup"));
  EXPECT_EQ(w->mp3BitRate, 112000);
  const auto mp3 = home / "mine.mp3";
  s.files.answers.push_back(QString::fromStdString(mp3.string()));
  QTest::mouseClick(w->cmdsave, Qt::LeftButton);
  EXPECT_EQ(s.files.requests.back().title, "Save MP3 File As");
  ASSERT_TRUE(QTest::qWaitFor([&] { return shown(s.messages, "VARENO", "Fatto!"); }, 30000));
  std::string probe;
  ASSERT_EQ(testaudio::run("ffprobe -v error -show_entries stream=bit_rate,channels "
                           "-of csv=p=0 " +
                               q(mp3),
                           &probe),
            0);
  EXPECT_EQ(probe.substr(0, probe.find_last_not_of("\n") + 1), "1,112000");
  delete w;
  unsetenv("ORIVELR_HOME");
}

// Over a karaoke song the lyrics run while the take records, and the song's end ends the take.
TEST(RecorderWindow, TakeOverAKaraokeSongEndsWithTheSongAndTheLyricsRun) {
  REQUIRE_SOUND_SERVER();
  testaudio::run("pactl set-source-volume @DEFAULT_SOURCE@ 100%");
  testaudio::TempDir home;
  setenv("ORIVELR_HOME", home.path().c_str(), 1);
  apptest::InstalledServices s;
  testmidi::TrackWriter conductor;
  conductor.tempo(0, 500000).end();
  testmidi::TrackWriter t;
  t.text(0, 0x03, "Words").program(0, 0, 0);
  for (int i = 0; i < 4; ++i) {  // two seconds of "/La la la la"
    t.text(i ? 240 : 0, 0x01, i ? "la" : "/La").noteOn(0, 0, 60 + i, 100);
    t.channel(240, 0x80, {uint8_t(60 + i), 0});
  }
  t.end(0);
  const auto song = home / "song.kar";
  testmidi::writeFile(song, testmidi::buildSmf(1, 480, {conductor.bytes(), t.bytes()}));
  Form2 warning;
  frmMain* w = accept(warning);
  ASSERT_TRUE(w && w->isVisible());
  s.files.answers.push_back(QString::fromStdString(song.string()));
  w->MnuOpenSong->trigger();
  ASSERT_TRUE(w->cmdrec->isEnabled());
  long lyricsSeen = -1;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout,
                   [&] { lyricsSeen = std::max(lyricsSeen, long(w->midiPlayer->lyricCursor)); });
  watch.start(20);
  s.messages.answers = {7};  // No to "PlayBack"
  {
    testaudio::MicFeed voice(660, 0.4f);
    QTest::mouseClick(w->cmdrec, Qt::LeftButton);  // returns after the song's end
  }
  EXPECT_GE(lyricsSeen, 3);
  EXPECT_TRUE(shown(s.messages, "ORIVEL", "Fatto!"));
  const auto a = testaudio::readAudio(home / "NEWWAVE.WAV");
  EXPECT_NEAR(double(a.frames()) / a.rate, 3.0, 0.5);  // the song and the second after it
  EXPECT_NEAR(testaudio::toneAmplitude(a, 0, 660, a.rate / 2, a.rate), 0.4, 0.05);
  delete w;
  unsetenv("ORIVELR_HOME");
}

TEST(RecorderWindow, SourceListShowsTheTypeTheMixerKeptAndTheLevelSliderRunsUpsideDown) {
  REQUIRE_SOUND_SERVER();
  testaudio::TempDir home;
  setenv("ORIVELR_HOME", home.path().c_str(), 1);
  apptest::InstalledServices s;
  Form2 warning;
  frmMain* w = accept(warning);
  ASSERT_TRUE(w && w->isVisible());
  EXPECT_EQ(w->cboRecSrcType->currentRow(), 2);  // the microphone
  w->inputmenu->trigger();
  EXPECT_TRUE(w->cboRecSrcType->isVisible());
  w->cboRecSrcType->setCurrentRow(1);  // no line source on the virtual devices
  EXPECT_EQ(w->cboRecSrcType->currentRow(), 2);
  w->cboRecSrcType->setCurrentRow(3);  // what the system plays
  EXPECT_FALSE(w->cboRecSrcType->isVisible());
  EXPECT_EQ(w->VRMixer1->recordSourceName(), "kara_out.monitor");
  w->sldRecVolume->setValue(30);
  std::string volume;
  testaudio::run("pactl get-source-volume kara_out.monitor", &volume);
  EXPECT_NE(volume.find(" 70%"), std::string::npos) << volume;
  w->sldRecVolume->setValue(0);
  testaudio::run("pactl get-source-volume kara_out.monitor", &volume);
  EXPECT_NE(volume.find(" 100%"), std::string::npos) << volume;
  delete w;
  unsetenv("ORIVELR_HOME");
}

}  // namespace
