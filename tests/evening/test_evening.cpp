// A singer's evening, in the real window on a display (Xvfb) and through the real sound server:
// an MP3 song with the remover and the equaliser, a voice sung over it into the virtual
// microphone, the take played back and saved as WAV and MP3; a karaoke song transposed and
// sped up with its lyrics running, recorded and saved; the same song sung in tune and scored;
// a track ripped from a CD image, handed
// to the main window, sung over and saved as MP3. Every saved file is checked by sox, ffprobe
// and ffmpeg for its length, level and content.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <optional>

#include "CdImage.h"
#include "MainWindowTest.h"
#include "MicFeed.h"
#include "MonitorRecorder.h"
#include "SingerScreen.h"
#include "SmfWriter.h"
#include "SoundServer.h"
#include "TestAudio.h"
#include "frmDemo.h"
#include "frmMain.h"

namespace fs = std::filesystem;
using testaudio::Audio;
using testaudio::output;
using testaudio::q;
using testaudio::soxi;

namespace {

constexpr int kYes = 6;
constexpr int kNo = 7;

// Level of `hz` on channel 0 over [fromS, toS) seconds.
double level(const Audio& a, double hz, double fromS, double toS) {
  const auto from = int64_t(fromS * a.rate);
  return testaudio::toneAmplitude(a, 0, hz, from, int64_t(toS * a.rate) - from);
}

// The lowest level of `hz` over [fromS, toS), looked at a tenth of a second at a time: the
// looped-back microphone drifts by a few tenths of a percent, which a longer look would read
// as a fading voice.
double lowestLevel(const Audio& a, double hz, double fromS, double toS) {
  double lowest = 1;
  for (double t = fromS; t + 0.1 <= toS + 1e-9; t += 0.1)
    lowest = std::min(lowest, level(a, hz, t, t + 0.1));
  return lowest;
}

// An MP3 decoded by ffmpeg into a WAV beside it.
Audio decodeMp3(const fs::path& mp3) {
  const fs::path wav = mp3.string() + ".decoded.wav";
  EXPECT_EQ(testaudio::run("ffmpeg -v error -y -i " + q(mp3) + " " + q(wav)), 0);
  return testaudio::readAudio(wav);
}

class Evening : public apptest::MainWindowTest {
 protected:
  void SetUp() override {
    REQUIRE_SOUND_SERVER();
    testaudio::run(
        "pactl set-sink-volume @DEFAULT_SINK@ 100%; pactl set-sink-mute @DEFAULT_SINK@ 0; "
        "pactl set-source-volume @DEFAULT_SOURCE@ 100%");
    MainWindowTest::SetUp();
  }
  void TearDown() override {
    // The microphone is no longer heard on the output when the next test starts.
    if (w && !w->CHKPLAYMUTE->isChecked()) QTest::mouseClick(w->CHKPLAYMUTE, Qt::LeftButton);
    MainWindowTest::TearDown();
  }

  bool shown(const QString& title, const QString& text) const {
    return std::any_of(s.messages.shown.begin(), s.messages.shown.end(),
                       [&](const apptest::Shown& m) { return m.title == title && m.text == text; });
  }
  // The take records what the system plays, and the microphone is heard on it.
  void recordWhatIsPlayedWithTheVoiceHeard() {
    w->inputmenu->trigger();
    w->cboRecSrcType->setCurrentRow(3);  // "3 - Wave"
    EXPECT_FALSE(w->cboRecSrcType->isVisible());
    QTest::mouseClick(w->CHKPLAYMUTE, Qt::LeftButton);
    ASSERT_FALSE(w->CHKPLAYMUTE->isChecked());
    ASSERT_TRUE(testaudio::toneHeardOnTheOutput(660, 0.1)) << "the microphone is not heard";
  }
  // Records a take that ends with its song, answering "PlayBack" with No; a take still running
  // after a minute is stopped and fails the test.
  void recordToTheSongsEnd() {
    bool overran = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
      overran = true;
      if (w->cmdstop->isEnabled()) QTest::mouseClick(w->cmdstop, Qt::LeftButton);
    });
    guard.start(60000);
    s.messages.answers = {kNo};
    QTest::mouseClick(w->cmdrec, Qt::LeftButton);
    EXPECT_FALSE(overran) << "the take did not end with the song";
  }
  // Clicks the stop button, after `before`, once `seconds` of a 44.1 kHz stereo take are on disk.
  void stopWhenTheTakeHolds(QTimer& stopper, int seconds, std::function<void()> before) {
    QObject::connect(&stopper, &QTimer::timeout, [this, &stopper, seconds, before] {
      std::error_code ec;
      const auto bytes = fs::file_size(home / "NEWWAVE.WAV", ec);
      if (!ec && bytes >= 44 + uintmax_t(seconds) * 176400 && w->cmdstop->isEnabled()) {
        before();
        QTest::mouseClick(w->cmdstop, Qt::LeftButton);
        stopper.stop();
      }
    });
    stopper.start(20);
  }
  fs::path save(QToolButton* button, const std::string& name) {
    const fs::path file = home / name;
    s.files.answers.push_back(QString::fromStdString(file.string()));
    QTest::mouseClick(button, Qt::LeftButton);
    return file;
  }
};

// Centre 440 Hz (the lead voice), 1000 Hz on the left, 4000 Hz on the right.
TEST_F(Evening, Mp3SongWithTheRemoverAndTheEqualiserSungOverPlayedBackAndSavedAsWavAndMp3) {
  const fs::path wavSong = home / "song.wav";
  testaudio::writeWav(wavSong, testaudio::makeAudio(44100, 2, 44100 * 10, [](int64_t f, int c) {
                        return testaudio::sine(440, 0.2, f, 44100) +
                               testaudio::sine(c ? 4000 : 1000, 0.1, f, 44100);
                      }));
  const fs::path song = home / "song.mp3";
  testaudio::encodeMp3(wavSong, song);
  // What the player makes of it with the same controls, rendered without the window.
  const fs::path expectedFile = home / "expected.wav";
  ASSERT_EQ(testaudio::run(std::string(ORIVELR_CLI) + " render " + q(song) + " " + q(expectedFile) +
                           " --remover --vseq 0,4,4,10,4,10,10,3"),
            0);
  const Audio expected = testaudio::readAudio(expectedFile);

  s.files.answers.push_back(QString::fromStdString(song.string()));
  w->menuwave->trigger();
  ASSERT_TRUE(w->cmdrec->isEnabled());
  QTest::mouseClick(w->Chkrem, Qt::LeftButton);
  ASSERT_TRUE(w->Chkrem->isChecked());
  w->vseq[4]->setValue(4);  // +6 dB at 4 kHz
  testaudio::MicFeed voice(660, 0.2f);
  ASSERT_NO_FATAL_FAILURE(recordWhatIsPlayedWithTheVoiceHeard());

  // Four seconds into the take the singer mutes the microphone on the output and stops.
  const fs::path take = home / "NEWWAVE.WAV";
  QTimer stopper;
  stopWhenTheTakeHolds(stopper, 4, [&] { QTest::mouseClick(w->CHKPLAYMUTE, Qt::LeftButton); });
  // The take's playback is heard from the moment "PlayBack" is answered.
  std::optional<testaudio::MonitorRecorder> playback;
  s.messages.onShow = [&](const apptest::Shown& m) {
    if (m.title == "PlayBack") playback.emplace();
  };
  s.messages.answers = {kYes};
  QTest::mouseClick(w->cmdrec, Qt::LeftButton);  // returns when the take has played back
  ASSERT_TRUE(playback && playback->ok());
  const Audio heard = playback->stop();
  EXPECT_TRUE(shown("ORIVEL", "Fatto!"));

  // The take: the song with its centre gone and 4 kHz raised, as rendered, and the voice.
  const Audio a = testaudio::readAudio(take);
  ASSERT_EQ(a.rate, 44100);
  ASSERT_EQ(a.channels, 2);
  EXPECT_NEAR(double(a.frames()) / a.rate, 5.0, 0.3);  // four seconds and the one after the stop
  // The MP3's joint stereo leaves a little of the centre, the same in the window and offline.
  EXPECT_LT(level(expected, 440, 1, 3), 0.05);
  EXPECT_NEAR(level(a, 440, 1, 3), level(expected, 440, 1, 3), 0.01);
  for (const double hz : {1000.0, 4000.0})
    EXPECT_NEAR(level(a, hz, 1, 3), level(expected, hz, 1, 3), 0.1 * level(expected, hz, 1, 3))
        << hz;
  EXPECT_GT(level(expected, 4000, 1, 3), 1.6 * level(expected, 1000, 1, 3));  // the slider did it
  EXPECT_GT(lowestLevel(a, 660, 0.5, 3.5), 0.1);
  // Played back: the take again, voice and all, and nothing of the centre.
  ASSERT_GE(heard.frames(), 4 * 44100);
  EXPECT_GT(lowestLevel(heard, 660, 1, 3), 0.1);
  EXPECT_NEAR(level(heard, 4000, 1, 3), level(a, 4000, 1, 3), 0.15 * level(a, 4000, 1, 3));
  EXPECT_NEAR(level(heard, 440, 1, 3), level(a, 440, 1, 3), 0.01);

  const fs::path wav = save(w->cmdsavewav, "evening.wav");
  EXPECT_EQ(s.files.requests.back().title, "Save WAVE File As");
  EXPECT_EQ(testaudio::run("cmp -s " + q(take) + " " + q(wav)), 0);
  EXPECT_EQ(soxi(wav, "rc"), "44100 2");
  EXPECT_NEAR(std::stod(soxi(wav, "D")), double(a.frames()) / a.rate, 1e-3);
  // sox's own measure: the sides and the voice, about 0.13 RMS on each channel.
  const double rms = std::stod(output("sox " + q(wav) +
                                      " -n trim 1 2 stat 2>&1 | "
                                      "awk '/RMS     amplitude/ {print $3}'"));
  EXPECT_NEAR(rms, testaudio::rms(a, 0, 44100, 2 * 44100), 0.01);
  EXPECT_GT(rms, 0.08);

  w->Mmp3->trigger();
  w->Combo1_Click(1);
  EXPECT_TRUE(shown("ORIVEL", "Mp3 Setup"));
  const fs::path mp3 = save(w->cmdsave, "evening.mp3");
  EXPECT_EQ(s.files.requests.back().title, "Save MP3 File As");
  ASSERT_TRUE(QTest::qWaitFor([&] { return shown("VARENO", "Fatto!"); }, 30000));
  EXPECT_EQ(output("ffprobe -v error -show_entries stream=bit_rate,channels -of csv=p=0 " + q(mp3)),
            "2,128000");
  const Audio decoded = decodeMp3(mp3);
  EXPECT_NEAR(double(decoded.frames()) / decoded.rate, double(a.frames()) / a.rate, 0.05);
  EXPECT_GT(lowestLevel(decoded, 660, 1, 3), 0.1);
  EXPECT_NEAR(level(decoded, 4000, 1, 3), level(a, 4000, 1, 3), 0.1 * level(a, 4000, 1, 3));
  EXPECT_NEAR(level(decoded, 440, 1, 3), level(a, 440, 1, 3), 0.01);
}

// An organ playing A4 on each of twelve syllables, after a beat of rest, at 120 beats a
// minute: the last note ends at 5.75 seconds at the song's tempo.
fs::path writeKaraokeSong(const fs::path& dir) {
  testmidi::TrackWriter conductor;
  conductor.tempo(0, 500000).end();
  testmidi::TrackWriter t;
  t.text(0, 0x03, "Words").program(0, 0, 19);
  const char* syllables[12] = {"/Can", "ta ", "con ", "me ", "sta", "se",
                               "ra ",  "/e ", "la ",  "lu",  "na ", "ci"};
  for (int i = 0; i < 12; ++i)
    t.text(i ? 240 : 480, 0x01, syllables[i]).noteOn(0, 0, 69, 127).channel(240, 0x80, {69, 0});
  t.end(0);
  const fs::path song = dir / "song.kar";
  testmidi::writeFile(song, testmidi::buildSmf(1, 480, {conductor.bytes(), t.bytes()}));
  return song;
}

TEST_F(Evening, KaraokeSongTransposedAndFasterWithItsLyricsRecordedAndSaved) {
  const fs::path song = writeKaraokeSong(home.path());
  w->mnwave->trigger();
  w->cmbQuality_Click(5);  // "22KHz @ 16bit Mono"
  EXPECT_TRUE(shown("ORIVEL", "Wave Setup"));
  s.files.answers.push_back(QString::fromStdString(song.string()));
  w->MnuOpenSong->trigger();
  ASSERT_TRUE(w->cmdrec->isEnabled());
  w->Slider1->setValue(0);  // the MIDI level all the way up, +12 dB
  testaudio::MicFeed voice(660, 0.2f);
  ASSERT_NO_FATAL_FAILURE(recordWhatIsPlayedWithTheVoiceHeard());

  // A second and a quarter into the song the singer raises the key by a tone and doubles the
  // tempo; the lyrics are watched as they light.
  double changedAt = -1;  // seconds of the song
  long lyricsSeen = -1;
  QElapsedTimer playing;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!playing.isValid() && w->midiPlayer->songPlaying) playing.start();
    if (changedAt < 0 && playing.isValid() && playing.elapsed() >= 1250) {
      w->vscroll1->setValue(2);
      w->vslidertempo->setValue(127);
      changedAt = double(playing.elapsed()) / 1000;
    }
    lyricsSeen = std::max(lyricsSeen, long(w->midiPlayer->lyricCursor));
  });
  watch.start(10);
  recordToTheSongsEnd();
  ASSERT_GT(changedAt, 0);
  EXPECT_EQ(w->lblInfo[0]->text(), "2");
  // The take's score follows the moves from where the song was when they were made.
  ASSERT_FALSE(w->takeMoves.changes.empty());
  EXPECT_EQ(w->takeMoves.changes.back().transpose, 2);
  EXPECT_NEAR(w->takeMoves.changes.back().tempo, w->midiPlayer->tempoHeard(), 1e-6);
  EXPECT_GT(w->takeMoves.changes.back().tempo, 1.5);
  EXPECT_NEAR(w->takeMoves.changes.front().songMs / 1000, changedAt, 0.3);
  EXPECT_GE(lyricsSeen, 11) << "the lyrics did not run to the last syllable";
  EXPECT_TRUE(shown("ORIVEL", "Fatto!"));

  const fs::path wav = save(w->cmdsavewav, "karaoke.wav");
  EXPECT_EQ(soxi(wav, "rc"), "22050 1");
  const double seconds = std::stod(soxi(wav, "D"));
  // The rest of the song's 5.75 seconds at twice the tempo, and the second the recorder keeps
  // after its end; at the song's tempo the take would be 6.75 seconds.
  EXPECT_NEAR(seconds, changedAt + (5.75 - changedAt) / 2 + 1, 0.3);
  const Audio a = testaudio::readAudio(wav);
  // The voice is on the take.
  EXPECT_GT(lowestLevel(a, 660, 1, 3), 0.08);
  // The song's A4 is heard as A4 before the change and as B4 after it (a tenth of a second at
  // a time: each note starts on a phase of its own).
  auto highest = [&](double hz, double fromS, double toS) {
    double h = 0;
    for (double t = fromS; t + 0.1 <= toS; t += 0.025) h = std::max(h, level(a, hz, t, t + 0.1));
    return h;
  };
  const double a4 = 440, b4 = 493.88, songsEnd = seconds - 1;
  EXPECT_GT(highest(a4, 0.5, changedAt), 4 * highest(b4, 0.5, changedAt));
  EXPECT_GT(highest(b4, changedAt + 0.4, songsEnd), 4 * highest(a4, changedAt + 0.4, songsEnd));
}

// The singer sings the karaoke song's A4 into the microphone while it plays: the pitch lanes
// follow the voice on the melody's row, each line is scored once sung, and the take's score,
// from its file, is the live one.
TEST_F(Evening, KaraokeSongSungInTuneIsScoredLineByLineAndInTheEnd) {
  const fs::path song = writeKaraokeSong(home.path());
  s.files.answers.push_back(QString::fromStdString(song.string()));
  w->MnuOpenSong->trigger();
  ASSERT_TRUE(w->cmdrec->isEnabled());
  w->actSingerScreen->trigger();
  testaudio::MicFeed voice(440, 0.3f);

  std::vector<int> lineScores;
  QObject::connect(w->singerScreen, &app::SingerScreen::lineScoreShown,
                   [&](int score) { lineScores.push_back(score); });
  bool laneShown = false;
  size_t dotsOnTheRow = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    laneShown = laneShown || (w->lblLane && w->lblLane->isVisible());
    for (const auto& d : w->singerScreen->view().lane().sung)
      if (std::abs(d.key - 69) < 0.5) ++dotsOnTheRow;
  });
  watch.start(10);
  recordToTheSongsEnd();
  watch.stop();
  EXPECT_TRUE(shown("ORIVEL", "Fatto!"));
  ASSERT_TRUE(w->midiMelody) << "the song's words are on its notes";
  EXPECT_TRUE(laneShown);
  EXPECT_FALSE(w->lblLane->isVisible()) << "the small lane goes with the take";
  EXPECT_GT(dotsOnTheRow, 0u) << "the singer's screen drew no voice on the melody";
  ASSERT_EQ(lineScores.size(), 2u);
  for (int line : lineScores) EXPECT_GE(line, 8000);
  ASSERT_TRUE(w->lblScore->isVisible());
  const int total = w->singerScreen->score().value_or(0);
  EXPECT_GE(total, 8000) << w->lblScore->text().toStdString();
  EXPECT_EQ(w->lblScore->text(), app::scoreText(total));
  ASSERT_TRUE(w->liveSinging);
  EXPECT_NEAR(w->liveSinging->score().total, total, 300) << "live and file scores differ";
}

TEST_F(Evening, CdTrackRippedHandedOverSungOverAndSavedAsMp3) {
  setenv("ORIVELR_CD_IMAGES", testaudio::writeCdImage(home.path()).c_str(), 1);
  w->cdripper->trigger();
  frmDemo* cd = w->cdWindow.get();
  ASSERT_TRUE(cd && cd->isVisible());
  cd->cmbCDDrives->setCurrentIndex(cd->cmbCDDrives->count() - 1);
  cd->cmbCDDrives_Click();
  ASSERT_EQ(cd->lstTracks->count(), 2);
  cd->lstTracks->setCurrentRow(0);
  QTest::mouseClick(cd->cmdButton[7], Qt::LeftButton);  // "&WAV File" is the start
  unsetenv("ORIVELR_CD_IMAGES");
  EXPECT_TRUE(shown("ORIVEL", "WAV File Encoded."));
  EXPECT_EQ(soxi(home / "TRACK.WAV", "Drc"), "6.000000 44100 2");
  EXPECT_EQ(w->LabelSongLength->text(), "    From CdAudio TRACK1");
  EXPECT_FALSE(cd->isVisible());

  // Sung into the microphone, the recorder's source at start-up, over the ripped track.
  EXPECT_EQ(w->cboRecSrcType->currentRow(), 2);
  testaudio::MonitorRecorder monitor;
  ASSERT_TRUE(monitor.ok()) << monitor.error();
  // A take over an audio song runs until it is stopped: the singer stops it a second after
  // the track's six seconds.
  const fs::path take = home / "NEWWAVE.WAV";
  QTimer stopper;
  stopWhenTheTakeHolds(stopper, 7, [] {});
  {
    testaudio::MicFeed voice(660, 0.4f);
    QTest::mouseClick(w->cmdrec, Qt::LeftButton);
  }
  const Audio played = monitor.stop();
  const double seconds = std::stod(soxi(take, "D"));
  EXPECT_NEAR(seconds, 7.0 + 1, 0.3);  // and the second after the stop
  const Audio a = testaudio::readAudio(take);
  EXPECT_NEAR(level(a, 660, 1, 5), 0.4, 0.05);
  EXPECT_LT(level(a, testaudio::kCdImageTrack1Hz, 1, 5), 0.01);  // the voice, not the song
  // The track was heard while the take recorded.
  ASSERT_GE(played.frames(), 6 * 44100);
  EXPECT_NEAR(level(played, testaudio::kCdImageTrack1Hz, 2, 5), 8000.0 / 32768, 0.03);

  // Cancelling the MP3 save says so; then it is saved at 112 kbit/s.
  s.files.answers.push_back(std::nullopt);
  QTest::mouseClick(w->cmdsave, Qt::LeftButton);
  EXPECT_TRUE(shown("MIDI to MP3", "Annullato!"));
  w->Mmp3->trigger();
  w->Combo1_Click(2);
  const fs::path mp3 = save(w->cmdsave, "over-the-cd.mp3");
  ASSERT_TRUE(QTest::qWaitFor([&] { return shown("VARENO", "Fatto!"); }, 30000));
  EXPECT_EQ(output("ffprobe -v error -show_entries stream=bit_rate,channels -of csv=p=0 " + q(mp3)),
            "2,112000");
  EXPECT_NEAR(
      std::stod(output("ffprobe -v error -show_entries format=duration -of csv=p=0 " + q(mp3))),
      seconds, 0.1);
  const Audio decoded = decodeMp3(mp3);
  EXPECT_NEAR(level(decoded, 660, 1, 5), 0.4, 0.05);
}

}  // namespace
