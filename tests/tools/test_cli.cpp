// orivelR-cli render, run as a program: what it writes, checked against the song and sox, and
// how it refuses bad input without leaving a file behind.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "ModuleWriter.h"
#include "TestAudio.h"

using testaudio::Audio;
using testaudio::TempDir;

namespace {

const std::string kCli = ORIVELR_CLI;

struct Result {
  int status;
  std::string err;
};

Result cli(const std::string& args) {
  std::string out;
  const int status = testaudio::run(kCli + " " + args + " 2>&1", &out);
  return {status, out};
}

using testaudio::q;
using testaudio::soxi;

// Centre voice, a tone on each side, a little noise: a song the remover must turn into the
// halved side signal.
Audio songWithVoice(int rate, double seconds) {
  uint32_t seed = 1;
  return testaudio::makeAudio(rate, 2, int64_t(rate * seconds), [&](int64_t f, int c) {
    seed = seed * 1664525u + 1013904223u;
    const float noise = float(int32_t(seed >> 8) - (1 << 23)) / float(1 << 28);
    return testaudio::sine(440, 0.4, f, rate) +
           (c ? testaudio::sine(1500, 0.2, f, rate) : testaudio::sine(1000, 0.2, f, rate)) + noise;
  });
}

void expectHalfSide(const Audio& song, const Audio& out, double tolerance) {
  ASSERT_EQ(out.channels, 2);
  ASSERT_EQ(out.frames(), song.frames());
  double worst = 0;
  for (int64_t f = 0; f < song.frames(); ++f) {
    const double side = (double(song.at(f, 1)) - song.at(f, 0)) / 2;
    worst = std::max({worst, std::fabs(out.at(f, 0) - side), std::fabs(out.at(f, 1) - side)});
  }
  EXPECT_LE(worst, tolerance);
}

// At the song's own level: no loudness gain.
const std::string kNeutral =
    "--remover --vseq 10,10,10,10,10,10,10,10 --slider3 10 --vcompr 10 --loudness off";

// Stored as 16-bit, the side comes out within one step in 16-bit and exactly in float.
TEST(Render, NeutralRemoverGivesHalfTheSideSampleForSample) {
  TempDir dir;
  testaudio::writeWav(dir / "song.wav", songWithVoice(44100, 3), testaudio::Format::S16);
  const Audio in = testaudio::readAudio(dir / "song.wav");
  for (const auto& [format, encoding, tolerance] :
       {std::tuple{"s16", "Signed", 1.0 / 32768}, {"f32", "Floating", 1e-7}}) {
    const auto out = dir / (std::string(format) + ".wav");
    ASSERT_EQ(
        cli("render " + q(dir / "song.wav") + " " + q(out) + " --format " + format + " " + kNeutral)
            .status,
        0);
    EXPECT_NE(soxi(out, "e").find(encoding), std::string::npos) << format;
    expectHalfSide(in, testaudio::readAudio(out), tolerance);
  }
}

TEST(Render, Mp3SongGivesHalfTheSideOfItsDecodedSamples) {
  TempDir dir;
  testaudio::writeWav(dir / "song.wav", songWithVoice(44100, 3), testaudio::Format::S16);
  testaudio::encodeMp3(dir / "song.wav", dir / "song.mp3");
  // ffmpeg decodes the MP3 independently; decoders agree to far below one 16-bit step.
  ASSERT_EQ(testaudio::run("ffmpeg -nostdin -v error -i " + q(dir / "song.mp3") +
                           " -c:a pcm_f32le " + q(dir / "ref.wav")),
            0);
  const Audio ref = testaudio::readAudio(dir / "ref.wav");
  ASSERT_EQ(cli("render " + q(dir / "song.mp3") + " " + q(dir / "out.wav") + " " + kNeutral).status,
            0);
  expectHalfSide(ref, testaudio::readAudio(dir / "out.wav"), 1.5 / 32768);
}

TEST(Render, MonoSongIsRefusedByTheRemoverAndPlaysAsItIs) {
  TempDir dir;
  const Audio mono = testaudio::makeAudio(
      44100, 1, 22050, [](int64_t f, int) { return testaudio::sine(440, 0.5, f, 44100); });
  testaudio::writeWav(dir / "mono.wav", mono, testaudio::Format::F32);
  const Result r = cli("render " + q(dir / "mono.wav") + " " + q(dir / "out.wav") +
                       " --remover --format f32 --loudness off");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("OrivelRemover: Only Stereo \n"), std::string::npos) << r.err;
  const Audio out = testaudio::readAudio(dir / "out.wav");
  ASSERT_EQ(out.frames(), 22050);
  for (int64_t f = 0; f < 22050; ++f) {
    ASSERT_EQ(out.at(f, 0), mono.at(f, 0));
    ASSERT_EQ(out.at(f, 1), mono.at(f, 0));
  }
}

TEST(Render, SecondsStopsALoopingModule) {
  TempDir dir;
  testaudio::ModSong mod;
  mod.sample = testaudio::sineCycle(32, 100);
  mod.patterns = {{{0, 0, 428, 1, 0, 0}}};
  mod.orders = {0};
  testaudio::writeModule(dir / "tune.mod", mod);
  ASSERT_EQ(
      cli("render " + q(dir / "tune.mod") + " " + q(dir / "out.wav") + " --seconds 12.5").status,
      0);
  EXPECT_EQ(std::stoll(soxi(dir / "out.wav", "s")),
            551250);  // longer than one pass: the module loops
  const Audio out = testaudio::readAudio(dir / "out.wav");
  EXPECT_GT(testaudio::rms(out, 0, 500000, 44100), 0.001);
}

// The 22050 Hz song comes out at 44100 Hz, as long as it is.
TEST(Render, OtherRatesAreResampledToTheOutputRate) {
  TempDir dir;
  testaudio::writeWav(dir / "song.wav", songWithVoice(22050, 2), testaudio::Format::S16);
  ASSERT_EQ(cli("render " + q(dir / "song.wav") + " " + q(dir / "out.wav")).status, 0);
  EXPECT_EQ(std::stoi(soxi(dir / "out.wav", "r")), 44100);
  EXPECT_EQ(std::stoll(soxi(dir / "out.wav", "s")), 88200);
}

// Bad input is refused with its reason and leaves no output file behind. What is not a regular
// file is refused before it is opened: a named pipe would block the renderer for ever (the command
// runs under a time limit, so that such a regression fails rather than hangs).
struct Refusal {
  const char* name;
  const char* make;     // shell command making $F
  const char* command;  // the command line, $F the song's path and $O the output's
  int status;           // 0: any failure but the time limit's
  const char* why;      // in what it says, $F standing for the song's path
  const char* alsoWhy;  // after it
};

class RenderRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(RenderRefuses, WithTheReasonAndNoFile) {
  TempDir dir;
  const Refusal& c = GetParam();
  const std::string vars = "F=" + q(dir / "song.wav") + "; O=" + q(dir / "out.wav") + "; ";
  ASSERT_EQ(testaudio::run(vars + c.make), 0);
  std::string out;
  const int status = testaudio::run(vars + "timeout 20 " + kCli + " " + c.command + " 2>&1", &out);
  EXPECT_NE(status, 124) << "timed out";
  EXPECT_TRUE(c.status ? status == c.status : status != 0) << status;
  std::string why = c.why;
  if (const size_t at = why.find("$F"); at != std::string::npos)
    why.replace(at, 2, (dir / "song.wav").string());
  const size_t at = out.find(why);
  EXPECT_NE(at, std::string::npos) << out;
  EXPECT_NE(out.find(c.alsoWhy, at), std::string::npos) << out;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_NE(e.path().filename().string().rfind("out.wav", 0), 0u) << e.path();
}

constexpr char kLoadError[] = "Selected file couldn't be loaded!\n\nBASS Error Code: ";
constexpr char kFxError[] = "\nBASS_FX Error Code: ";
constexpr char kPipe[] = "cannot read $F: a named pipe, not a file";
constexpr char kRenderRemover[] = "render \"$F\" \"$O\" --remover";

INSTANTIATE_TEST_SUITE_P(
    Inputs, RenderRefuses,
    ::testing::Values(
        Refusal{"Empty", ": > \"$F\"", kRenderRemover, 2, kLoadError, kFxError},
        Refusal{"Garbage", "head -c 100000 /dev/urandom > \"$F\"", kRenderRemover, 2, kLoadError,
                kFxError},
        Refusal{"Text", "yes 'not a song' | head -n 5000 > \"$F\"", kRenderRemover, 2, kLoadError,
                kFxError},
        Refusal{"TruncatedHeader",
                "sox -n -r 44100 -c 2 -b 16 \"$F.full.wav\" synth 1 sine 440 && "
                "head -c 30 \"$F.full.wav\" > \"$F\"",
                kRenderRemover, 2, kLoadError, kFxError},
        Refusal{"PipeSong", "mkfifo \"$F\"", kRenderRemover, 0, kPipe, ""},
        Refusal{"PipeScan", "mkfifo \"$F\"", "scan \"$F\"", 0, kPipe, ""},
        Refusal{"PipeLyrics", "mkfifo \"$F\"", "lyrics \"$F\"", 0, kPipe, ""},
        Refusal{"PipeBank",
                "mkfifo \"$F\" && printf 'MThd\\0\\0\\0\\6\\0\\0\\0\\1\\0\\140' > \"$F.mid\"",
                "render \"$F.mid\" \"$O\" --bank \"$F\"", 0, kPipe, ""},
        Refusal{"Missing", ":", "render \"$F\" \"$O\"", 0, "cannot read $F: no such file", ""},
        Refusal{"Directory", "mkdir \"$F\"", "render \"$F\" \"$O\"", 0,
                "cannot read $F: a folder, not a file", ""},
        Refusal{"UnwritableTarget", "sox -n -r 44100 -c 2 \"$F\" synth 0.5 sine 440",
                "render \"$F\" \"$O.d/no/such/out.wav\"", 3, "cannot write", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A float WAV with bursts of NaN and infinity, through the remover and an equaliser band: the
// song plays on after each burst at its level, and no sample of the output is non-finite.
TEST(Render, NonFiniteBurstsInAFloatSongAreSilencedAndTheSongPlaysOn) {
  TempDir dir;
  const int rate = 44100;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  Audio song = songWithVoice(rate, 3);
  for (auto [at, value] : {std::pair{0.5, nan}, {1.5, inf}, {2.2, -inf}})
    for (int64_t f = int64_t(at * rate); f < int64_t(at * rate) + 10; ++f)
      song.samples[size_t(2 * f)] = song.samples[size_t(2 * f + 1)] = value;
  testaudio::writeWav(dir / "song.wav", song, testaudio::Format::F32);
  const std::string eq = " --chkequalizer 1 --veq1 10,10,10,4,10,10,10,10 --format f32";
  ASSERT_EQ(
      cli("render " + q(dir / "song.wav") + " " + q(dir / "out.wav") + " " + kNeutral + eq).status,
      0);
  const Audio out = testaudio::readAudio(dir / "out.wav");
  ASSERT_EQ(out.frames(), song.frames());
  for (size_t i = 0; i < out.samples.size(); ++i)
    ASSERT_TRUE(std::isfinite(out.samples[i])) << "frame " << i / 2;
  // sox reads the same file as finite, with the level of the song before the first burst kept
  // through the end.
  const std::string stats = testaudio::output("sox " + q(dir / "out.wav") + " -n stats 2>&1");
  EXPECT_EQ(stats.find("nan"), std::string::npos) << stats;
  const double before = testaudio::rms(out, 0, rate / 10, rate / 3);
  for (double from : {0.6, 1.6, 2.3, 2.7})
    EXPECT_NEAR(testaudio::rms(out, 0, int64_t(from * rate), rate / 5), before, 0.1 * before)
        << from;
}

class RenderUsage : public ::testing::TestWithParam<const char*> {};

TEST_P(RenderUsage, BadOptionsAreExplained) {
  const Result r = cli(std::string("render ") + GetParam());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("usage: orivelR-cli render"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Options, RenderUsage,
                         ::testing::Values("", "song.wav", "a.wav b.wav --vseq 1,2,3",
                                           "a.wav b.wav --vseq 1,2,3,4,5,6,7,20",
                                           "a.wav b.wav --slider3 11", "a.wav b.wav --balance x",
                                           "a.wav b.wav --format mp3", "a.wav b.wav --seconds -1",
                                           "a.wav b.wav --chkcmp 2", "a.wav b.wav --frobnicate",
                                           "a.wav b.wav --play", "a.wav b.wav c.wav"));

}  // namespace
