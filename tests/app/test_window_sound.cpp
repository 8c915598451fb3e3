// The main window through the real sound server: the remover checked while a song plays takes
// the centre away at once, and songs that played to their end play again, as heard on the
// sink's monitor; the needle meters follow a voice sung into the virtual microphone.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>

#include "Device.h"
#include "LumoCtl.h"
#include "MainWindowTest.h"
#include "MicFeed.h"
#include "MonitorRecorder.h"
#include "SmfWriter.h"
#include "SoundServer.h"
#include "TestAudio.h"
#include "frmMain.h"

using testaudio::Audio;

namespace {

// Amplitude of `hz` in a Hann-windowed stretch of one channel centred on `at`.
double toneAt(const Audio& a, int ch, double hz, int64_t at, int64_t width) {
  double re = 0, im = 0, norm = 0;
  for (int64_t i = 0; i < width; ++i) {
    const int64_t f = at - width / 2 + i;
    if (f < 0 || f >= a.frames()) continue;
    const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(width));
    const double ph = 2 * std::numbers::pi * hz * double(f) / a.rate;
    re += w * a.at(f, ch) * std::cos(ph);
    im += w * a.at(f, ch) * std::sin(ph);
    norm += w;
  }
  return 2 * std::sqrt(re * re + im * im) / norm;
}

// The main window, opened through its warning window, with the work folder in a fresh home.
class WindowSound : public apptest::MainWindowTest {
 protected:
  void SetUp() override {
    REQUIRE_SOUND_SERVER();
    testaudio::run("pactl set-sink-volume @DEFAULT_SINK@ 100%");
    MainWindowTest::SetUp();
  }
};

TEST_F(WindowSound, RemoverSwitchedOnDuringPlayCancelsTheCentreAtOnce) {
  // A short burst on the left marks the song's first frame; then a centre voice at 440 Hz
  // and a tone on each side.
  const auto song = home / "song.wav";
  testaudio::writeWav(song,
                      testaudio::makeAudio(44100, 2, 44100 * 6,
                                           [](int64_t f, int c) {
                                             if (f < 200) return c ? 0.0f : 0.5f;
                                             return testaudio::sine(440, 0.2, f, 44100) +
                                                    testaudio::sine(c ? 1500 : 1000, 0.1, f, 44100);
                                           }),
                      testaudio::Format::F32);
  s.files.answers.push_back(QString::fromStdString(song.string()));
  w->actSameLoudness->trigger();  // the song at its own level
  w->menuwave->trigger();

  testaudio::MonitorRecorder recorder;
  ASSERT_TRUE(recorder.ok()) << recorder.error();
  const uint64_t underflows = audiolib::outputUnderflows();
  QTest::mouseClick(w->Cmdplw, Qt::LeftButton);
  const auto songSeconds = [&] {
    return BASS_ChannelBytes2Seconds(w->player->mainStream,
                                     BASS_ChannelGetPosition(w->player->mainStream));
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return songSeconds() >= 2.0; }, 20000));
  // The song's position just before and just after the click: the mixer may play on while
  // this thread waits for the processor between the two.
  const auto position = [&] { return int64_t(BASS_ChannelGetPosition(w->player->mainStream) / 8); };
  const int64_t clickedFrom = position();
  QTest::mouseClick(w->Chkrem, Qt::LeftButton);
  const int64_t clickedTo = position();
  ASSERT_TRUE(QTest::qWaitFor([&] { return songSeconds() >= 3.5; }, 20000));
  // What the mixer has played so far reaches the monitor within the output's latency.
  EXPECT_TRUE(recorder.recordMore(44100 * (BASS_GetLatency() + 100) / 1000));
  QTest::mouseClick(w->cmdstw, Qt::LeftButton);
  // A gap in the output would read as the centre going early.
  EXPECT_EQ(audiolib::outputUnderflows(), underflows) << "the output ran dry";

  const Audio heard = recorder.stop();
  int64_t start = -1;
  for (int64_t f = 0; f < heard.frames() && start < 0; ++f)
    if (heard.at(f, 0) > 0.25f) start = f;
  ASSERT_GE(start, 0) << "the song was not heard";
  // Where the centre goes: the first moment the voice falls below half its level.
  const int64_t width = 882;  // 20 ms
  int64_t gone = -1;
  for (int64_t f = start + 22050; f + width < heard.frames() && gone < 0; f += 44)
    if (toneAt(heard, 0, 440, f, width) < 0.1) gone = f;
  ASSERT_GE(gone, 0) << "the voice never went";
  const int64_t songFrameGone = gone - start;
  std::printf("centre gone %+.1f ms from the song position at the click (%.1f ms long)\n",
              double(songFrameGone - clickedFrom) * 1000.0 / 44100,
              double(clickedTo - clickedFrom) * 1000.0 / 44100);
  // Within one 512-frame block of the click, give or take half the analysis window.
  EXPECT_GE(songFrameGone, clickedFrom - width / 2);
  EXPECT_LE(songFrameGone, clickedTo + 512 + width / 2)
      << "the centre went " << (songFrameGone - clickedTo) * 1000 / 44100 << " ms after the click";
  // Afterwards the centre stays cancelled and the sides are kept.
  const int64_t after = gone + 22050;
  EXPECT_NEAR(toneAt(heard, 0, 440, start + 44100, 8820), 0.2, 0.02);  // before: all there
  EXPECT_LT(toneAt(heard, 0, 440, after, 8820), 0.05);
  EXPECT_GT(toneAt(heard, 0, 1000, after, 8820), 0.03);
  EXPECT_GT(toneAt(heard, 1, 1500, after, 8820), 0.03);
}

// A WAV, a .kar and a .mid each played to its end, then played again with the same button:
// the second play is heard, and in between the player is back in its stopped state.
TEST_F(WindowSound, SongsThatEndedPlayAgain) {
  const auto wav = home / "song.wav";
  testaudio::writeWav(wav, testaudio::makeAudio(44100, 2, 44100, [](int64_t f, int) {
                        return testaudio::sine(1000, 0.3, f, 44100);
                      }));
  // One second of a chord; the .kar with lyrics, the .mid without.
  auto midiSong = [&](const char* name, bool lyrics) {
    testmidi::TrackWriter t;
    if (lyrics) t.text(0, 0x03, "Words").text(0, 0x01, "/La").text(0, 0x01, "la");
    t.text(0, 0x01, "A song's name").program(0, 0, 0);
    for (int key : {60, 64, 67}) t.noteOn(0, 0, key, 120);
    t.channel(960, 0x80, {60, 0}).channel(0, 0x80, {64, 0}).channel(0, 0x80, {67, 0}).end(0);
    const auto path = home / name;
    testmidi::writeFile(path, testmidi::buildSmf(0, 480, {t.bytes()}));
    return QString::fromStdString(path.string());
  };

  // Plays with `play` until `ended` holds, then once more while the monitor listens.
  auto playTwice = [&](QToolButton* play, const std::function<bool()>& ended) {
    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_FALSE(play->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor(ended, 10000)) << "the song did not end";
    EXPECT_TRUE(w->MnuFile->isEnabled());
    EXPECT_TRUE(w->cmdrec->isEnabled());
    testaudio::MonitorRecorder recorder;
    EXPECT_TRUE(recorder.ok()) << recorder.error();
    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_TRUE(recorder.recordMore(44100 * (BASS_GetLatency() + 700) / 1000));
    const Audio heard = recorder.stop();
    return testaudio::rms(heard, 0, 0, heard.frames());
  };

  s.files.answers.push_back(QString::fromStdString(wav.string()));
  w->menuwave->trigger();
  const double wavHeard = playTwice(w->Cmdplw, [&] { return w->Cmdplw->isEnabled(); });
  EXPECT_GT(wavHeard, 0.05) << "the WAV was not heard the second time";
  EXPECT_TRUE(QTest::qWaitFor([&] { return w->Cmdplw->isEnabled(); }, 10000));

  for (const auto& [name, lyrics] : {std::pair("song.kar", true), std::pair("song.mid", false)}) {
    s.files.answers.push_back(midiSong(name, lyrics));
    w->MnuOpenSong->trigger();
    const double heard = playTwice(w->Cmd_Play, [&] { return w->Cmd_Play->isEnabled(); });
    EXPECT_GT(heard, 0.005) << name << " was not heard the second time";
    EXPECT_EQ(w->midiPlayer->lyrics.lyricEvents.size() > 1, lyrics) << name;
    EXPECT_TRUE(w->Cmd_Stop->isEnabled()) << name;
    QTest::mouseClick(w->Cmd_Stop, Qt::LeftButton);
  }
}

TEST_F(WindowSound, MeterNeedlesFollowTheMicrophoneAndRestInSilence) {
  EXPECT_EQ(w->lumo1->State(), LumoCtl::scRunning);
  EXPECT_EQ(w->lumo1->SoundDriverName(w->lumo1->DefaultSoundDriver()), "KaraMic");
  {
    testaudio::MicFeed voice(440, 0.5f);
    // Half scale × 2.5 is past the needles' full scale.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return w->picanalogl->shown() >= 70 && w->picanalogr->shown() >= 70; }, 5000))
        << w->picanalogl->shown() << " " << w->picanalogr->shown();
    voice.setAmplitude(0);
    // Silence is 18; coming down, the smoothing's rounding holds the needles at 20.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return w->picanalogl->shown() <= 20 && w->picanalogr->shown() <= 20; }, 5000))
        << w->picanalogl->shown() << " " << w->picanalogr->shown();
  }
}

}  // namespace
