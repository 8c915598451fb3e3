// The MP3 encoder and its window-thread wrapper: what they write, checked with ffprobe and
// ffmpeg, how they stop and fail without leaving a file, and what they report on which thread.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <fstream>
#include <numeric>
#include <vector>

#include "EncoderTestSupport.h"
#include "MEnc.h"
#include "Mp3Encode.h"

using enctest::probe;
using enctest::q;
using testaudio::TempDir;

namespace {

constexpr int kWaitMs = 60000;

encoder::EncodeResult encode(const std::filesystem::path& in, const std::filesystem::path& out,
                             int bitRate = 128000, int mode = 0,
                             const encoder::ProgressFn& progress = {}) {
  static std::atomic<bool> never{false};
  return encoder::encodeMp3({in.string(), out.string(), bitRate, mode}, never, progress);
}

struct Case {
  const char* name;
  int rate, channels;
  const char* format;  // sox's sample format options
  int bitRate, mode, outChannels;
};
void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class EncodeFormats : public ::testing::TestWithParam<Case> {};

TEST_P(EncodeFormats, WritesCbrMp3OfTheSourceLengthRateAndChannels) {
  const Case c = GetParam();
  TempDir dir;
  enctest::makeWav(dir / "in.wav", c.rate, c.channels, c.format, 2.5);
  const auto r = encode(dir / "in.wav", dir / "out.mp3", c.bitRate, c.mode);
  ASSERT_TRUE(r.ok) << r.error;
  auto info = probe(dir / "out.mp3");
  EXPECT_EQ(info["codec_name"], "mp3");
  EXPECT_EQ(info["bit_rate"], std::to_string(c.bitRate));
  EXPECT_EQ(info["channels"], std::to_string(c.outChannels));
  EXPECT_EQ(info["sample_rate"], std::to_string(c.rate));
  // The Info frame's delay and padding let a decoder give back exactly the source's frames.
  EXPECT_EQ(testaudio::ffmpegFrames(dir / "out.mp3"), int64_t(2.5 * c.rate));
  EXPECT_EQ(enctest::fileCount(dir.path()), 2);  // no partial file left beside it
}

INSTANTIATE_TEST_SUITE_P(
    Mp3, EncodeFormats,
    ::testing::Values(Case{"Stereo16", 44100, 2, "-b 16", 128000, 0, 2},
                      Case{"Stereo24ToMono", 44100, 2, "-b 24", 256000, 1, 1},
                      Case{"Stereo8At32k", 32000, 2, "-b 8", 112000, 0, 2},
                      Case{"MonoFloat48k", 48000, 1, "-b 32 -e floating-point", 96000, 0, 1},
                      Case{"MonoFloat22k", 22050, 1, "-b 32 -e floating-point", 96000, 1, 1}),
    [](const auto& i) { return std::string(i.param.name); });

// A bit rate the take's sample rate cannot have is replaced by the nearest one it can, and the
// result says so; a rate it can have is kept without a word.
TEST(Encode, BitRateTheSampleRateCannotHaveBecomesTheNearestItCan) {
  struct RateCase {
    int rate, asked, expected;
  };
  // MPEG-2 (22050 Hz) goes up to 160 kbit/s, MPEG-2.5 (11025 Hz) to 64 in the encoder.
  for (const RateCase c : {RateCase{11025, 256000, 64000}, RateCase{22050, 256000, 160000},
                           RateCase{22050, 150000, 144000}, RateCase{44100, 100000, 96000},
                           RateCase{22050, 96000, 96000}}) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz at " + std::to_string(c.asked));
    TempDir dir;
    enctest::makeWav(dir / "take.wav", c.rate, 1, "-b 16", 1.5);
    const auto r = encode(dir / "take.wav", dir / "take.mp3", c.asked);
    ASSERT_TRUE(r.ok) << r.error;
    auto info = probe(dir / "take.mp3");
    EXPECT_EQ(info["bit_rate"], std::to_string(c.expected));
    EXPECT_EQ(info["sample_rate"], std::to_string(c.rate));
    EXPECT_EQ(r.bitRateBps, c.expected);
    if (c.expected == c.asked)
      EXPECT_EQ(r.notice, "");
    else
      EXPECT_NE(r.notice.find(std::to_string(c.expected / 1000) + " kbit/s"), std::string::npos)
          << r.notice;
  }
}

TEST(Encode, RawFileIsRead44100StereoLittleEndian16) {
  TempDir dir;
  // 1.5 s: a 440 Hz tone on the left, silence on the right.
  std::vector<int16_t> pcm(size_t(44100 * 3 / 2) * 2);
  for (size_t f = 0; f < pcm.size() / 2; ++f)
    pcm[2 * f] = int16_t(16000 * testaudio::sine(440, 1, int64_t(f), 44100));
  std::ofstream(dir / "take.RAW", std::ios::binary)
      .write(reinterpret_cast<const char*>(pcm.data()), std::streamsize(pcm.size() * 2));
  const auto r = encode(dir / "take.RAW", dir / "take.mp3");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(probe(dir / "take.mp3")["sample_rate"], "44100");
  EXPECT_EQ(testaudio::ffmpegFrames(dir / "take.mp3"), 44100 * 3 / 2);
  testaudio::run("ffmpeg -nostdin -v error -i " + q(dir / "take.mp3") + " " + q(dir / "b.wav"));
  const auto back = testaudio::readAudio(dir / "b.wav");
  ASSERT_EQ(back.channels, 2);
  EXPECT_GT(testaudio::toneAmplitude(back, 0, 440, 4410, 44100), 0.3);
  EXPECT_LT(testaudio::rms(back, 1, 4410, 44100), 0.05);
}

struct Bad {
  const char* name;
  const char* source;
  const char* target;
  int bitRate;
  const char* error;
};
void PrintTo(const Bad& b, std::ostream* os) {
  *os << b.name;
}

class EncodeFailures : public ::testing::TestWithParam<Bad> {};

TEST_P(EncodeFailures, SayWhyAndLeaveTheTargetAsItWas) {
  const Bad b = GetParam();
  TempDir dir;
  enctest::makeWav(dir / "good.wav", 44100, 2, "-b 16", 1);
  enctest::makeWav(dir / "six.wav", 44100, 6, "-b 16", 1);
  std::ofstream(dir / "text.wav") << "not a sound file\n";
  std::ofstream(dir / "old.mp3") << "old";
  const auto r =
      encode(dir / b.source, dir / b.target, b.bitRate, 0, [](int p, auto) { EXPECT_LT(p, 100); });
  EXPECT_FALSE(r.ok || r.cancelled);
  EXPECT_NE(r.error.find(b.error), std::string::npos) << r.error;
  EXPECT_EQ(enctest::fileCount(dir.path()), 4);
  EXPECT_EQ(testaudio::slurp(dir / "old.mp3"), "old");
}

INSTANTIATE_TEST_SUITE_P(
    Mp3, EncodeFailures,
    ::testing::Values(Bad{"MissingSource", "none.wav", "old.mp3", 128000, "cannot open"},
                      Bad{"NotASoundFile", "text.wav", "old.mp3", 128000, "unsupported format"},
                      Bad{"SixChannels", "six.wav", "old.mp3", 128000, "6 channels"},
                      Bad{"BitRateLameRefuses", "good.wav", "old.mp3", 100, "100 bit/s"},
                      Bad{"TargetFolderMissing", "good.wav", "no/such/dir/x.mp3", 128000,
                          "cannot create"},
                      Bad{"TargetIsTheSource", "old.mp3", "old.mp3", 128000, "onto itself"}),
    [](const auto& i) { return std::string(i.param.name); });

// ---- MEnc: the same work from the window thread

QString path(const TempDir& dir, const std::string& name) {
  return QString::fromStdString((dir / name).string());
}

TEST(MEnc, ReportsEveryPercentOnItsOwnThreadAndHundredWithTheFileComplete) {
  TempDir dir;
  enctest::makeWav(dir / "in.wav", 44100, 2, "-b 16", 3);
  MEnc enc;
  enc.setSourceFile(path(dir, "in.wav"));
  enc.setTargetFile(path(dir, "in.mp3"));
  enc.setChannelMode(1);
  std::vector<int> percents;
  int timeLefts = 0;
  bool right = true;  // on the object's thread, and the file complete by 100
  QObject::connect(&enc, &MEnc::Progress, [&](int p) {
    percents.push_back(p);
    right &= QThread::currentThread() == enc.thread() &&
             (p < 100 || std::filesystem::exists(dir / "in.mp3"));
  });
  QObject::connect(&enc, &MEnc::TimeLeft, [&](double s) {
    ++timeLefts;
    right &= QThread::currentThread() == enc.thread() && s >= 0;
  });
  enc.StartEncoding();
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return !percents.empty() && percents.back() == 100; }, kWaitMs));
  EXPECT_TRUE(right);
  std::vector<int> all(101);
  std::iota(all.begin(), all.end(), 0);
  EXPECT_EQ(percents, all);
  EXPECT_GT(timeLefts, 0);
  auto info = probe(dir / "in.mp3");
  EXPECT_EQ(info["bit_rate"], "128000");  // never set: the default
  EXPECT_EQ(info["channels"], "1");
}

TEST(MEnc, StopAndDestructionMidwayLeaveTheTargetAsItWas) {
  TempDir dir;
  enctest::makeWav(dir / "in.wav", 44100, 2, "-b 16", 30);
  std::ofstream(dir / "in.mp3") << "old";
  {
    MEnc enc;
    enc.setSourceFile(path(dir, "in.wav"));
    enc.setTargetFile(path(dir, "in.mp3"));
    QSignalSpy stopped(&enc, &MEnc::Stopped);
    QObject::connect(&enc, &MEnc::Progress, [&](int p) {
      EXPECT_LT(p, 100);
      if (p == 1) enc.StopEncoding();
    });
    enc.StartEncoding();
    ASSERT_TRUE(stopped.wait(kWaitMs));
    EXPECT_FALSE(enc.busy());
    enc.disconnect();
    QSignalSpy progress(&enc, &MEnc::Progress);
    enc.StartEncoding();
    ASSERT_TRUE(progress.wait(kWaitMs));
  }  // destroyed while encoding
  EXPECT_EQ(enctest::fileCount(dir.path()), 2);
  EXPECT_EQ(testaudio::slurp(dir / "in.mp3"), "old");
}

TEST(MEnc, SecondStartWaitsForTheFirstAndBothFilesAreWhole) {
  TempDir dir;
  enctest::makeWav(dir / "a.wav", 44100, 2, "-b 16", 4);
  enctest::makeWav(dir / "b.wav", 44100, 1, "-b 16", 2);
  MEnc enc;
  std::vector<int> percents;
  QObject::connect(&enc, &MEnc::Progress, [&](int p) { percents.push_back(p); });
  for (const char* name : {"a", "b"}) {
    enc.setSourceFile(path(dir, std::string(name) + ".wav"));
    enc.setTargetFile(path(dir, "out.mp3"));
    enc.StartEncoding();
  }
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return std::count(percents.begin(), percents.end(), 100) == 2; }, kWaitMs));
  // One after the other: 0..100 twice, never interleaved; the second file replaced the first.
  const auto second = std::find(percents.begin(), percents.end(), 100) + 1;
  EXPECT_TRUE(std::is_sorted(percents.begin(), second) && std::is_sorted(second, percents.end()));
  EXPECT_EQ(probe(dir / "out.mp3")["channels"], "1");
  EXPECT_EQ(testaudio::ffmpegFrames(dir / "out.mp3"), 2 * 44100);
}

// ---- orivelR-cli encode, run as a program

TEST(CliEncode, EncodesWithTheOptionsAndRefusesBadArguments) {
  TempDir dir;
  enctest::makeWav(dir / "in.wav", 44100, 2, "-b 16", 2);
  const std::string cli = std::string(ORIVELR_CLI) + " encode " + q(dir / "in.wav") + " ";
  std::string out;
  ASSERT_EQ(testaudio::run(cli + q(dir / "o.mp3") + " --bitrate 96000 --mono 2>&1", &out), 0)
      << out;
  EXPECT_NE(out.find("100 %"), std::string::npos) << out;
  auto info = probe(dir / "o.mp3");
  EXPECT_EQ(info["bit_rate"], "96000");
  EXPECT_EQ(info["channels"], "1");
  EXPECT_NE(testaudio::run(cli + q(dir / "p.mp3") + " --bitrate fast 2>&1", &out), 0);
  EXPECT_NE(out.find("--bitrate"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(dir / "p.mp3"));
}

}  // namespace
