// The recorder through the real sound server, driven as `orivelR-cli karaoke` and `record`:
// a voice sung into the virtual microphone over a song lands in a "2 - Mic" take; a
// "3 - Wave" take holds the song, lined up with it to the frame, and the voice when the
// microphone is heard on the output; a recording killed on the way leaves a take sox reads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "MicFeed.h"
#include "MonitorRecorder.h"
#include "SoundServer.h"
#include "TestAudio.h"
#include "VRMixer.h"

using testaudio::Audio;

namespace {

const std::string kCli = ORIVELR_CLI;

using testaudio::q;

void fullVolumes() {
  testaudio::run(
      "pactl set-sink-volume @DEFAULT_SINK@ 100%; pactl set-sink-mute @DEFAULT_SINK@ 0;"
      "pactl set-source-volume @DEFAULT_SOURCE@ 100%");
}

// A song of a quiet 440 Hz in the centre with a loud click at each whole second from 1 to 3.
std::filesystem::path clickSong(const testaudio::TempDir& dir) {
  const auto path = dir / "song.wav";
  testaudio::writeWav(path, testaudio::makeAudio(44100, 2, 4 * 44100, [](int64_t f, int) {
                        const bool click = f >= 44100 && f % 44100 < 44;
                        return click ? 0.9f : testaudio::sine(440, 0.2, f, 44100);
                      }));
  return path;
}

// Frames where a sample above 0.6 starts, at least a tenth of a second apart.
std::vector<int64_t> clicks(const Audio& a) {
  std::vector<int64_t> at;
  for (int64_t f = 0; f < a.frames(); ++f)
    if (std::fabs(a.at(f, 0)) > 0.6f && (at.empty() || f - at.back() > a.rate / 10))
      at.push_back(f);
  return at;
}

TEST(RecorderSound, MicTakeHoldsTheVoiceSungOverTheSong) {
  REQUIRE_SOUND_SERVER();
  fullVolumes();
  testaudio::TempDir dir;
  const auto song = clickSong(dir);
  const auto take = dir / "take.wav";
  {
    testaudio::MicFeed voice(660, 0.4f);
    ASSERT_EQ(testaudio::run(kCli + " karaoke " + q(song) + " " + q(take) +
                             " --source mic --rate 22050 --channels 1"),
              0);
  }
  const Audio a = testaudio::readAudio(take);
  EXPECT_EQ(a.rate, 22050);
  EXPECT_EQ(a.channels, 1);
  // The song's four seconds and the second the recorder keeps after its end.
  EXPECT_NEAR(double(a.frames()) / a.rate, 5.0, 0.3);
  EXPECT_NEAR(testaudio::toneAmplitude(a, 0, 660, a.rate, 2 * a.rate), 0.4, 0.05);
  EXPECT_LT(testaudio::toneAmplitude(a, 0, 440, a.rate, 2 * a.rate), 0.01);  // not the song
}

TEST(RecorderSound, WaveTakeIsTheSongToTheFrameAndTheVoiceOnlyWhenItIsHeard) {
  REQUIRE_SOUND_SERVER();
  fullVolumes();
  testaudio::TempDir dir;
  const auto song = clickSong(dir);
  testaudio::MicFeed voice(660, 0.2f);
  recorder::VRMixer mixer;
  for (const bool heard : {true, false}) {
    ASSERT_TRUE(mixer.setPlayMute(!heard));
    // The loopback takes a moment to fill before the microphone is heard on the output.
    if (heard) {
      ASSERT_TRUE(testaudio::toneHeardOnTheOutput(660, 0.1))
          << "the microphone never reached the output";
    }
    const auto take = dir / (heard ? "heard.wav" : "muted.wav");
    ASSERT_EQ(testaudio::run(kCli + " karaoke " + q(song) + " " + q(take) + " --source wave"), 0);
    const Audio a = testaudio::readAudio(take);
    // The song's clicks at 1, 2 and 3 s, within 5 ms of their place in the song.
    const auto at = clicks(a);
    ASSERT_EQ(at.size(), 3u) << (heard ? "heard" : "muted");
    for (size_t i = 0; i < at.size(); ++i)
      EXPECT_NEAR(double(at[i]), double((i + 1) * 44100), 0.005 * 44100) << "click " << i;
    // Between the first two clicks: the song's tone, and the voice when it is heard. The voice
    // is measured a tenth of a second at a time: the server's loopback trims its rate by a few
    // tenths of a percent while it settles, which a longer look would take for a fading voice.
    EXPECT_NEAR(testaudio::toneAmplitude(a, 0, 440, 44100 * 11 / 10, 44100 * 8 / 10), 0.2, 0.03);
    double lowest = 1, highest = 0;
    for (int64_t from = 44100 * 11 / 10; from < 44100 * 19 / 10; from += 4410) {
      const double level = testaudio::toneAmplitude(a, 0, 660, from, 4410);
      lowest = std::min(lowest, level);
      highest = std::max(highest, level);
    }
    if (heard)
      EXPECT_GT(lowest, 0.1);
    else
      EXPECT_LT(highest, 0.01);
  }
}

// A song played two semitones up at 90 % of its tempo, and one through the centre remover
// (which delays it by its window): the take still starts at the song's first heard frame, so
// each click lands at its time in the song over the tempo.
TEST(RecorderSound, WaveTakeOverAMovedOrDelayedSongKeepsTheSongsClicksInPlace) {
  REQUIRE_SOUND_SERVER();
  fullVolumes();
  testaudio::TempDir dir;
  const auto song = clickSong(dir);
  const auto take = dir / "take.wav";
  recorder::VRMixer mixer;
  ASSERT_TRUE(mixer.setPlayMute(true));
  for (const auto& [options, tempo] :
       {std::pair<std::string, double>{"--key 2 --tempo 90", 0.9},
        {"--remover --remover-method centre --slider3 10 --vcompr 10", 1.0}}) {
    ASSERT_EQ(testaudio::run(kCli + " karaoke " + q(song) + " " + q(take) +
                             " --source wave --loudness off " + options),
              0);
    const Audio a = testaudio::readAudio(take);
    std::vector<int64_t> at;
    for (int64_t f = 0; f < a.frames(); ++f)
      if (std::fabs(a.at(f, 0)) > 0.3f && (at.empty() || f - at.back() > a.rate / 10))
        at.push_back(f);
    ASSERT_EQ(at.size(), 3u) << options;
    for (size_t i = 0; i < at.size(); ++i)
      EXPECT_NEAR(double(at[i]), (i + 1) * 44100 / tempo, 0.005 * 44100)
          << options << " click " << i;
  }
}

TEST(RecorderSound, KilledRecordingLeavesAllButTheLastSecond) {
  REQUIRE_SOUND_SERVER();
  fullVolumes();
  testaudio::TempDir dir;
  const auto take = dir / "take.wav";
  testaudio::MicFeed voice(500, 0.3f);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl(kCli.c_str(), kCli.c_str(), "record", take.c_str(), "--seconds", "60", nullptr);
    _exit(127);
  }
  // Three seconds of 44.1 kHz stereo 16-bit audio on disk, then the kill.
  testaudio::waitFor(
      [&] {
        std::error_code ec;
        return std::filesystem::file_size(take, ec) >= 44 + 3 * 176400 && !ec;
      },
      30);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  const double onDisk = double(std::filesystem::file_size(take) - 44) / 176400;
  ASSERT_GE(onDisk, 3.0);
  EXPECT_GE(std::stod(testaudio::soxi(take, "D")), onDisk - 1.0);
  const Audio a = testaudio::readAudio(take);
  EXPECT_NEAR(testaudio::toneAmplitude(a, 0, 500, a.rate, a.rate), 0.3, 0.05);
}

// The disk refuses the take after three seconds and a half frame (a file size limit on the
// recording process): the take stops at once, the command says why and what was kept, and the
// file holds the whole frames written, with a header that counts them.
TEST(RecorderSound, TakeTheDiskRefusesStopsAndKeepsWhatWasWritten) {
  REQUIRE_SOUND_SERVER();
  fullVolumes();
  testaudio::TempDir dir;
  const auto take = dir / "take.wav";
  const auto log = dir / "log.txt";
  constexpr rlim_t kLimit = 44 + 3 * 176400 + 2;
  testaudio::MicFeed voice(500, 0.3f);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    const rlimit limit{kLimit, kLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
    execl(kCli.c_str(), kCli.c_str(), "record", take.c_str(), "--seconds", "60", nullptr);
    _exit(127);
  }
  int status = 0;
  ASSERT_TRUE(testaudio::waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 30))
      << "the take went on after the disk refused it";
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 3);
  const std::string said = testaudio::slurp(log);
  EXPECT_NE(said.find("the take stopped because the disk refused to write it. What was recorded "
                      "until then is kept."),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("the file has reached the largest size allowed; 3.0 s kept in"),
            std::string::npos)
      << said;
  EXPECT_EQ(std::filesystem::file_size(take), 44 + 3 * 176400u);
  EXPECT_EQ(testaudio::soxi(take, "rcbs"), "44100 2 16 132300");
  const Audio a = testaudio::readAudio(take);
  EXPECT_NEAR(testaudio::toneAmplitude(a, 0, 500, a.rate, a.rate), 0.3, 0.05);
}

}  // namespace
