// The loudness of songs: measured against ffmpeg's ebur128 filter (audio files, and MIDI songs
// as orivelR-cli renders them), nothing for what has no loudness, the cache, and the scanner's
// running estimate and cancelling.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "Loudness.h"
#include "SmfWriter.h"
#include "TestAudio.h"

namespace fs = std::filesystem;
using testaudio::q;

namespace {

const std::string kCli = ORIVELR_CLI;
constexpr int kRate = 44100;

// ffmpeg's integrated loudness of `file` (its ebur128 summary), NaN when it has none.
double ffmpegLufs(const fs::path& file) {
  std::string out;
  testaudio::run("ffmpeg -nostats -hide_banner -i " + q(file) + " -af ebur128 -f null - 2>&1",
                 &out);
  const size_t summary = out.rfind("Summary:");
  const size_t i = out.find("I:", summary == std::string::npos ? 0 : summary);
  if (summary == std::string::npos || i == std::string::npos)
    return std::numeric_limits<double>::quiet_NaN();
  return std::strtod(out.c_str() + i + 2, nullptr);
}

// 20 s of pink-ish stereo noise (white noise through a one-pole low-pass, the two channels
// apart) at `amp`, with 4 s at -40 dB in the middle that the relative gate leaves out.
testaudio::Audio noiseSong(double amp) {
  uint32_t seed[2] = {12345, 67890};
  float state[2] = {0, 0};
  return testaudio::makeAudio(kRate, 2, 20 * kRate, [&](int64_t f, int ch) {
    seed[ch] = seed[ch] * 1664525u + 1013904223u;
    const float white = float(seed[ch] >> 8) / float(1 << 24) * 2 - 1;
    state[ch] = 0.9f * state[ch] + 0.1f * white;
    const bool quiet = f >= 8 * kRate && f < 12 * kRate;
    return std::clamp(float(amp * (quiet ? 0.01 : 1.0) * state[ch] * 2), -1.0f, 1.0f);
  });
}

// A band of `bars` 4/4 bars at 120 bpm: piano chords, a bass line, a lead and drums.
testmidi::Bytes bandSong(int bars) {
  testmidi::TickTrack t;
  t.tempo(0, 500000).program(0, 0, 0).program(0, 1, 33).program(0, 2, 80);
  const int roots[4] = {60, 57, 53, 55};
  for (int b = 0; b < bars; ++b) {
    const uint32_t bar = uint32_t(b) * 4 * 480;
    const int root = roots[b % 4];
    for (int k : {0, 4, 7}) t.note(bar, 4 * 480 - 10, 0, root + k, 80);
    for (int beat = 0; beat < 4; ++beat) {
      const uint32_t at = bar + uint32_t(beat) * 480;
      t.note(at, 400, 1, root - 24, 100);
      t.note(at, 200, 2, root + 12 + (beat % 2) * 4, 90);
      t.note(at, 100, 9, beat % 2 ? 38 : 36, 110);
      t.note(at + 240, 100, 9, 42, 80);
    }
  }
  return testmidi::buildSmf(0, 480, {t.bytes(uint32_t(bars) * 4 * 480)});
}

std::optional<double> measure(const fs::path& song, const fs::path& cache = {}) {
  return audiolib::LoudnessScanner::measure(song.string(), cache.string(), "");
}

struct AudioCase {
  const char* name;
  double amp;
  bool mp3;
};

class LoudnessOfAudio : public ::testing::TestWithParam<AudioCase> {};

// WAV through libsndfile, MP3 (made by lame) through libmpg123: within 0.5 LU of ffmpeg.
TEST_P(LoudnessOfAudio, MatchesFfmpeg) {
  const AudioCase c = GetParam();
  testaudio::TempDir dir;
  const fs::path wav = dir / "song.wav";
  testaudio::writeWav(wav, noiseSong(c.amp));
  fs::path song = wav;
  if (c.mp3) {
    song = dir / "song.mp3";
    ASSERT_EQ(testaudio::run("lame --quiet -b 192 " + q(wav) + " " + q(song)), 0);
  }
  const double reference = ffmpegLufs(song);
  ASSERT_TRUE(std::isfinite(reference));
  const auto lufs = measure(song);
  ASSERT_TRUE(lufs);
  EXPECT_NEAR(*lufs, reference, 0.5);
  // The gain takes it to the target, within the limits.
  EXPECT_NEAR(audiolib::loudnessGainDb(*lufs),
              std::clamp(audiolib::kTargetLufs - reference, -20.0, 20.0), 0.5);
}

INSTANTIATE_TEST_SUITE_P(Songs, LoudnessOfAudio,
                         ::testing::Values(AudioCase{"LoudWav", 1.0, false},
                                           AudioCase{"QuietWav", 0.03, false},
                                           AudioCase{"LoudMp3", 1.0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A MIDI song is measured as the player sounds at its default level: the command-line
// renderer's output at its default level, measured by ffmpeg, within 1 LU.
TEST(LoudnessOfMidi, MatchesTheRenderAtTheDefaultLevel) {
  testaudio::TempDir dir;
  const fs::path song = dir / "band.mid";
  testmidi::writeFile(song, bandSong(8));
  const fs::path wav = dir / "band.wav";
  ASSERT_EQ(testaudio::run(kCli + " render " + q(song) + " " + q(wav) + " --loudness off"), 0);
  const double reference = ffmpegLufs(wav);
  ASSERT_TRUE(std::isfinite(reference));
  const auto lufs = measure(song);
  ASSERT_TRUE(lufs);
  EXPECT_NEAR(*lufs, reference, 1.0);
}

// Silence, and whatever is no song, has no loudness (and no gain but 0 dB).
TEST(Loudness, NothingToMeasureGivesNothing) {
  testaudio::TempDir dir;
  testaudio::writeWav(dir / "silence.wav",
                      testaudio::makeAudio(kRate, 2, 10 * kRate, [](int64_t, int) { return 0.f; }));
  testaudio::writeWav(dir / "blip.wav",
                      testaudio::makeAudio(kRate, 1, kRate / 10, [](int64_t f, int) {
                        return testaudio::sine(440, 0.5, f, kRate);
                      }));  // shorter than one 400 ms gating block
  testaudio::spit(dir / "text.mid", "not a song");
  testaudio::spit(dir / "text.wav", "not a song either");
  ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((dir / "pipe.mid").c_str(), 0600), 0);
  fs::create_directory(dir / "folder.wav");
  for (const char* name : {"silence.wav", "blip.wav", "text.mid", "text.wav", "pipe.wav",
                           "pipe.mid", "folder.wav", "missing.wav"}) {
    EXPECT_FALSE(measure(dir / name, dir / "cache")) << name;
  }
  EXPECT_FALSE(fs::exists(dir / "cache") && !fs::is_empty(dir / "cache"));
  EXPECT_EQ(audiolib::loudnessGainDb(-std::numeric_limits<double>::infinity()), 0.0);
  EXPECT_EQ(audiolib::loudnessGainDb(std::numeric_limits<double>::quiet_NaN()), 0.0);
}

// A song measured once is read from the cache while its path, size and time stay: its bytes
// replaced by silence of the same size under the same time still give the first loudness;
// a new time measures again. A damaged entry is ignored and written anew.
TEST(Loudness, CacheKeepsTheLoudnessUntilTheFileChanges) {
  testaudio::TempDir dir;
  const fs::path song = dir / "song.wav", cache = dir / "cache";
  testaudio::writeWav(song, noiseSong(0.5));
  const auto first = measure(song, cache);
  ASSERT_TRUE(first);
  const fs::path entry = audiolib::LoudnessScanner::cacheFile(song.string(), cache.string());
  ASSERT_TRUE(fs::is_regular_file(entry));

  const std::string bytes = testaudio::slurp(song);
  const auto time = fs::last_write_time(song);
  std::string silent = bytes;
  std::fill(silent.begin() + 44, silent.end(), '\0');  // the samples of a 44-byte header
  testaudio::spit(song, silent);
  fs::last_write_time(song, time);
  EXPECT_EQ(measure(song, cache), first);  // from the cache: silence would give nothing

  fs::last_write_time(song, time + std::chrono::seconds(1));
  EXPECT_FALSE(measure(song, cache));  // measured again: silence

  testaudio::spit(song, bytes);
  ASSERT_TRUE(measure(song, cache));
  const std::string good = testaudio::slurp(entry);
  for (const std::string& damaged :
       {std::string(), std::string("garbage"), good.substr(0, good.size() / 2),
        good.substr(0, good.rfind('\n', good.size() - 2) + 1) + "nan\n",
        good.substr(0, good.rfind('\n', good.size() - 2) + 1) + "-12x\n"}) {
    testaudio::spit(entry, damaged);
    const auto again = measure(song, cache);
    ASSERT_TRUE(again);
    EXPECT_NEAR(*again, *first, 1e-9);
    EXPECT_EQ(testaudio::slurp(entry), good);
  }
}

// The scanner tells the loudness so far while a long song is measured; a new scan stops it
// (the long song never reaches the cache) and gives the new song's final loudness; a song
// in the cache is known as soon as scan() returns.
TEST(LoudnessScanner, EstimatesThenFinishesAndANewScanCancels) {
  testaudio::TempDir dir;
  const fs::path cache = dir / "cache";
  const fs::path longSong = dir / "long.mid", wav = dir / "song.wav";
  testmidi::writeFile(longSong, bandSong(900));  // 30 minutes
  testaudio::writeWav(wav, noiseSong(0.2));
  const auto expected = measure(wav);
  ASSERT_TRUE(expected);

  audiolib::LoudnessScanner scanner(cache.string(), "");
  scanner.scan(longSong.string());
  ASSERT_TRUE(testaudio::waitFor([&] { return scanner.loudness().has_value(); }, 60));
  EXPECT_FALSE(scanner.finished());
  EXPECT_GT(*scanner.loudness(), -40.0);
  EXPECT_LT(*scanner.loudness(), -5.0);

  scanner.scan(wav.string());
  ASSERT_TRUE(testaudio::waitFor([&] { return scanner.finished(); }, 60));
  ASSERT_TRUE(scanner.loudness());
  EXPECT_NEAR(*scanner.loudness(), *expected, 1e-9);
  EXPECT_FALSE(fs::exists(audiolib::LoudnessScanner::cacheFile(longSong.string(), cache.string())));
  EXPECT_TRUE(fs::exists(audiolib::LoudnessScanner::cacheFile(wav.string(), cache.string())));

  audiolib::LoudnessScanner other(cache.string(), "");
  other.scan(wav.string());
  EXPECT_TRUE(other.finished());
  EXPECT_EQ(other.loudness(), scanner.loudness());
  // Destroyed while it measures the long song: the worker stops and is joined.
  other.scan(longSong.string());
  EXPECT_FALSE(other.finished());
}

}  // namespace
