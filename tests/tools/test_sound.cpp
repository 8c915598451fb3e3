// The player through the real sound server: orivelR-cli plays to the default output device,
// the sink's monitor is recorded, and what was heard is measured.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "MonitorRecorder.h"
#include "SoundServer.h"
#include "TestAudio.h"

using testaudio::Audio;
using testaudio::TempDir;

namespace {

const std::string kCli = ORIVELR_CLI;

using testaudio::q;

// Records the default sink's monitor while `command` runs, and the tenth of a second of
// recording that follows it (the player has drained its output by the time it ends).
Audio recordWhile(const std::string& command) {
  testaudio::run("pactl set-sink-volume @DEFAULT_SINK@ 100%; pactl set-sink-mute @DEFAULT_SINK@ 0");
  testaudio::MonitorRecorder recorder;
  EXPECT_TRUE(recorder.ok()) << recorder.error();
  const int status = testaudio::run(command);
  EXPECT_TRUE(recorder.recordMore(4410));
  EXPECT_EQ(status, 0) << command;
  return recorder.stop();
}

// First frame from which the recording holds sound.
int64_t onset(const Audio& a) {
  for (int64_t f = 0; f < a.frames(); ++f)
    if (std::fabs(a.at(f, 0)) > 0.02f || std::fabs(a.at(f, 1)) > 0.02f) return f;
  return -1;
}

Audio testSong() {
  // A centre "voice" at 440 Hz, a 1000 Hz tone on the left, a 1500 Hz tone on the right.
  return testaudio::makeAudio(44100, 2, 44100 * 3, [](int64_t f, int c) {
    return testaudio::sine(440, 0.15, f, 44100) + testaudio::sine(c ? 1500 : 1000, 0.1, f, 44100);
  });
}

TEST(Sound, RemoverCancelsCentreKeepsSides) {
  REQUIRE_SOUND_SERVER();
  TempDir dir;
  testaudio::writeWav(dir / "song.wav", testSong(), testaudio::Format::F32);
  const Audio heard = recordWhile(kCli + " render " + q(dir / "song.wav") +
                                  " --play --loudness off --remover --vseq 10,10,10,10,10,10,10,10"
                                  " --slider3 10 --vcompr 10");
  const int64_t start = onset(heard);
  ASSERT_GE(start, 0) << "nothing was heard";
  ASSERT_GE(heard.frames(), start + 2 * 44100);
  const int64_t from = start + 22050, n = 44100;
  for (int c = 0; c < 2; ++c) {
    // Each side tone comes out at half level on both channels; the centre is gone.
    EXPECT_NEAR(testaudio::toneAmplitude(heard, c, 1000, from, n), 0.05, 0.005);
    EXPECT_NEAR(testaudio::toneAmplitude(heard, c, 1500, from, n), 0.05, 0.005);
    EXPECT_LT(testaudio::toneAmplitude(heard, c, 440, from, n), 0.0015);
  }
}

// With "BassBooster" at full level and the remover off, the second stream doubles the song;
// any offset between the two streams would comb the tones apart.
TEST(Sound, TwoStreamsPlayInStepOnTheDevice) {
  REQUIRE_SOUND_SERVER();
  TempDir dir;
  testaudio::writeWav(dir / "song.wav", testSong(), testaudio::Format::F32);
  const Audio heard = recordWhile(kCli + " render " + q(dir / "song.wav") + " --play --slider3 0 --loudness off");
  const int64_t start = onset(heard);
  ASSERT_GE(start, 0) << "nothing was heard";
  const int64_t from = start + 22050, n = 44100;
  EXPECT_NEAR(testaudio::toneAmplitude(heard, 0, 440, from, n), 0.30, 0.01);
  EXPECT_NEAR(testaudio::toneAmplitude(heard, 0, 1000, from, n), 0.20, 0.01);
  EXPECT_NEAR(testaudio::toneAmplitude(heard, 1, 1500, from, n), 0.20, 0.01);
}

}  // namespace
