// The file decoders: decoded values against what was written, lengths against sox and ffmpeg,
// seeks against reading through, modules against ffprobe, and bad files refused cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "Decoder.h"
#include "ModuleWriter.h"
#include "TestAudio.h"
#include "bass.h"

namespace {

using audiolib::Decoder;
using testaudio::Audio;
using testaudio::TempDir;
namespace fs = std::filesystem;

// Up to `frames` frames (all of them by default), read in chunks of an awkward size so that
// chunk boundaries fall everywhere; fails the test on a read error.
Audio decode(Decoder& d, int64_t frames = INT64_MAX, int64_t chunk = 999) {
  Audio a{d.sampleRate(), d.channels(), {}};
  std::vector<float> buf(size_t(chunk * d.channels()));
  for (int64_t n; a.frames() < frames;) {
    n = d.read(buf.data(), std::min(chunk, frames - a.frames()));
    EXPECT_GE(n, 0);
    if (n <= 0) break;
    a.samples.insert(a.samples.end(), buf.begin(), buf.begin() + n * d.channels());
  }
  return a;
}

double maxDifference(std::span<const float> a, std::span<const float> b) {
  EXPECT_EQ(a.size(), b.size());
  double worst = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    worst = std::max(worst, double(std::abs(a[i] - b[i])));
  return worst;
}

using testaudio::q;

// `b` and then `end`, as the file `p`.
fs::path writeBytes(const fs::path& p, const std::vector<uint8_t>& b, const std::string& end = "") {
  testaudio::spit(p, std::string(b.begin(), b.end()) + end);
  return p;
}

// Opens `file` as a stream or, with `rate`, as a module; opening must succeed (the callers
// assert the decoder).
std::unique_ptr<Decoder> open(const fs::path& file, int rate = 0, bool loop = false,
                              bool ramp = false) {
  int error = -1;
  auto d = rate ? audiolib::openModuleDecoder(file, rate, loop, ramp, &error)
                : audiolib::openStreamDecoder(file, &error);
  EXPECT_EQ(error, BASS_OK);
  return d;
}

// Seeking to a frame must give what reading through gave at that frame (within `tolerance`),
// and the edges of the seek range behave.
void expectSeekMatches(Decoder& d, const Audio& through, int64_t frame, float tolerance) {
  ASSERT_TRUE(d.seek(frame));
  const int64_t count = std::min<int64_t>(4000, through.frames() - frame);
  const Audio after = decode(d, count);
  ASSERT_EQ(after.frames(), count);
  const auto from = through.samples.begin() + frame * d.channels();
  EXPECT_LE(maxDifference(after.samples, {from, from + count * d.channels()}), tolerance)
      << "after seeking to " << frame;

  ASSERT_TRUE(d.seek(d.lengthFrames()));
  float sink[64];
  EXPECT_EQ(d.read(sink, 16 / d.channels()), 0);
  EXPECT_FALSE(d.seek(-1));
  EXPECT_FALSE(d.seek(d.lengthFrames() + 1));
}

// ---- PCM files through libsndfile ------------------------------------------------------------

struct PcmCase {
  const char* name;
  int rate;
  int channels;
  testaudio::Format written;  // format of the WAV written with libsndfile
  const char* soxArgs;        // sox's conversion of that WAV into the tested file, or nullptr
  const char* extension;
  double tolerance;  // quantisation of the tested format
};

class PcmDecode : public testing::TestWithParam<PcmCase> {};

TEST_P(PcmDecode, DecodesWrittenSamplesWithSoxLengthAndSeeks) {
  const PcmCase& c = GetParam();
  TempDir dir;
  const int64_t frames = c.rate + 12345;  // not a multiple of any chunk size
  const Audio src = testaudio::makeAudio(c.rate, c.channels, frames, [&](int64_t f, int ch) {
    return testaudio::sine(440.0 * (ch + 1), 0.8, f, c.rate) + (f % 7 == 0 ? 0.05f : 0.0f);
  });
  const fs::path file = dir / (std::string("song.") + c.extension);
  const fs::path ref = c.soxArgs ? dir / "ref.wav" : file;
  testaudio::writeWav(ref, src, c.written);
  if (c.soxArgs) {  // -D: no dither, so the file holds the plain quantised values.
    ASSERT_EQ(testaudio::run("sox -D " + q(ref) + " " + c.soxArgs + " " + q(file)), 0);
  }

  auto d = open(file);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->sampleRate(), c.rate);
  EXPECT_EQ(d->channels(), c.channels);
  EXPECT_EQ(d->channelType(), BASS_CTYPE_STREAM_WAV);
  EXPECT_EQ(std::to_string(d->lengthFrames()), testaudio::soxi(file, "s"));
  EXPECT_EQ(d->lengthFrames(), frames);

  const Audio got = decode(*d, INT64_MAX, 999);
  ASSERT_EQ(got.frames(), frames);
  EXPECT_LE(maxDifference(got.samples, src.samples), c.tolerance);

  expectSeekMatches(*d, got, frames / 3 + 1, 0.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PcmDecode,
    testing::Values(
        PcmCase{"Wav16Stereo", 44100, 2, testaudio::Format::S16, nullptr, "wav", 1.5 / 32768},
        PcmCase{"Wav16Mono22050", 22050, 1, testaudio::Format::S16, nullptr, "wav", 1.5 / 32768},
        PcmCase{"WavFloat", 44100, 2, testaudio::Format::F32, nullptr, "wav", 0.0},
        PcmCase{"Wav24", 44100, 2, testaudio::Format::F32, "-b 24", "wav", 1.5 / 8388608},
        PcmCase{"Wav8Unsigned", 11025, 1, testaudio::Format::F32, "-b 8 -e unsigned", "wav",
                1.5 / 128},
        PcmCase{"Aiff16", 44100, 2, testaudio::Format::F32, "-b 16", "aiff", 1.5 / 32768},
        PcmCase{"Flac24", 48000, 2, testaudio::Format::F32, "-b 24", "flac", 1.5 / 8388608}),
    [](const auto& info) { return std::string(info.param.name); });

// A recording cut off mid-write: the header promises more data than the file holds. It plays
// what is there (as players do with interrupted recordings) and ends cleanly.
TEST(PcmDecodeDamaged, DataChunkLongerThanFilePlaysWhatIsThere) {
  TempDir dir;
  const int64_t frames = 5000;
  const Audio src = testaudio::makeAudio(44100, 2, frames, [](int64_t f, int ch) {
    return testaudio::sine(1000, 0.5, f, 44100) * (ch ? -1.0f : 1.0f);
  });
  const fs::path file = dir / "cut.wav";
  testaudio::writeWav(file, src);
  std::string bytes = testaudio::slurp(file);
  ASSERT_EQ(bytes.substr(36, 4), "data");
  const uint32_t claimed = uint32_t(frames * 4 * 10);
  for (int i = 0; i < 4; ++i) bytes[size_t(40 + i)] = char(claimed >> (8 * i));
  testaudio::spit(file, bytes);

  auto d = open(file);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->lengthFrames(), frames);
  const Audio got = decode(*d);
  ASSERT_EQ(got.frames(), frames);
  EXPECT_NEAR(got.at(frames - 1, 0), src.at(frames - 1, 0), 1.0 / 16384);
}

// ---- MP3 through libmpg123 ------------------------------------------------------------------

enum class Encoder { Ffmpeg, Lame };

struct Mp3Case {
  const char* name;
  int rate;
  int channels;
  Encoder encoder;  // ffmpeg writes an ID3v2 tag in front, lame none
  int extraTags;    // ID3v2 tags put in front of the file
};

class Mp3Decode : public testing::TestWithParam<Mp3Case> {};

// Prepends an ID3v2.3 tag of `body` bytes of padding (zeros are valid padding).
void prependId3(const fs::path& file, size_t body) {
  std::string tag{'I', 'D', '3', 3, 0, 0};
  for (int shift = 21; shift >= 0; shift -= 7) tag.push_back(char((body >> shift) & 0x7F));
  testaudio::spit(file, tag + std::string(body, '\0') + testaudio::slurp(file));
}

// The file as ffmpeg's own MP3 decoder decodes it, as interleaved float.
std::vector<float> ffmpegDecode(const fs::path& file) {
  std::string out;
  EXPECT_EQ(testaudio::run("ffmpeg -nostdin -v error -i " + q(file) + " -f f32le -", &out), 0);
  std::vector<float> samples(out.size() / sizeof(float));
  std::memcpy(samples.data(), out.data(), samples.size() * sizeof(float));
  return samples;
}

double correlation(const Audio& a, const Audio& b, int ch, int64_t from, int64_t count) {
  double ab = 0, aa = 0, bb = 0;
  for (int64_t f = from; f < from + count; ++f) {
    ab += double(a.at(f, ch)) * b.at(f, ch);
    aa += double(a.at(f, ch)) * a.at(f, ch);
    bb += double(b.at(f, ch)) * b.at(f, ch);
  }
  return ab / std::sqrt(aa * bb);
}

TEST_P(Mp3Decode, GaplessLengthAlignedContentAndExactSeek) {
  const Mp3Case& c = GetParam();
  TempDir dir;
  const int64_t frames = 2 * c.rate + 777;
  const double hz[2] = {440.0, 660.0};
  const Audio src = testaudio::makeAudio(c.rate, c.channels, frames, [&](int64_t f, int ch) {
    return testaudio::sine(hz[ch], 0.5, f, c.rate);
  });
  const fs::path wav = dir / "src.wav", mp3 = dir / "song.mp3";
  testaudio::writeWav(wav, src);
  if (c.encoder == Encoder::Ffmpeg)
    testaudio::encodeMp3(wav, mp3);
  else
    ASSERT_EQ(testaudio::run("lame --quiet -b 192 " + q(wav) + " " + q(mp3)), 0);
  for (int i = 0; i < c.extraTags; ++i) prependId3(mp3, 6000 + 10 * size_t(i));

  auto d = open(mp3);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->channelType(), BASS_CTYPE_STREAM_MP3);
  EXPECT_EQ(d->sampleRate(), c.rate);
  EXPECT_EQ(d->channels(), c.channels);
  EXPECT_EQ(d->lengthFrames(), frames);
  EXPECT_EQ(d->lengthFrames(), testaudio::ffmpegFrames(mp3));

  const Audio got = decode(*d, INT64_MAX, 1234);
  ASSERT_EQ(got.frames(), frames);
  // Gapless: the decoded sine lines up with the source sample for sample.
  for (int ch = 0; ch < c.channels; ++ch)
    EXPECT_GT(correlation(got, src, ch, c.rate / 10, c.rate), 0.995) << "channel " << ch;
  // And it is what an independent decoder makes of the same file.
  const std::vector<float> reference = ffmpegDecode(mp3);
  ASSERT_EQ(reference.size(), got.samples.size());
  EXPECT_LT(maxDifference(got.samples, reference), 1e-4);
  // Layer III frames depend on the one before (bit reservoir, overlap), so this checks that
  // the seek decodes its way in rather than starting cold.
  expectSeekMatches(*d, got, c.rate + 333, 1e-6f);
}

// A VBR file without a LAME/Xing header tells no length: the stream opens with an estimate
// from its first frame's bit rate, and the scan on its own thread makes it exact.
TEST(Mp3Length, WithoutAnInfoHeaderTheScanMakesItExact) {
  TempDir dir;
  const int rate = 44100;
  uint32_t seed = 3;
  // Noise that grows louder: the bit rate of a VBR encoding changes along the file.
  const Audio src = testaudio::makeAudio(rate, 2, 6 * rate, [&](int64_t f, int) {
    seed = seed * 1664525u + 1013904223u;
    return float(int32_t(seed >> 8) - (1 << 23)) / float(1 << 23) * float(f) / float(6 * rate);
  });
  const fs::path wav = dir / "src.wav", mp3 = dir / "song.mp3";
  testaudio::writeWav(wav, src);
  ASSERT_EQ(testaudio::run("ffmpeg -nostdin -v error -i " + q(wav) +
                           " -c:a libmp3lame -q:a 2 -write_xing 0 " + q(mp3)),
            0);
  auto d = open(mp3);
  ASSERT_NE(d, nullptr);
  d->waitForLength();
  const int64_t exact = testaudio::ffmpegFrames(mp3);
  EXPECT_EQ(d->lengthFrames(), exact);
  const Audio got = decode(*d);
  EXPECT_EQ(got.frames(), exact);
  expectSeekMatches(*d, got, got.frames() - 5000, 1e-6f);
}

INSTANTIATE_TEST_SUITE_P(Layouts, Mp3Decode,
                         testing::Values(Mp3Case{"Stereo44100", 44100, 2, Encoder::Ffmpeg, 0},
                                         Mp3Case{"Mono48000", 48000, 1, Encoder::Lame, 0},
                                         Mp3Case{"Mpeg2Stereo22050", 22050, 2, Encoder::Lame, 0},
                                         Mp3Case{"ThreeId3Tags32000", 32000, 2, Encoder::Ffmpeg,
                                                 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- modules through libopenmpt -------------------------------------------------------------

// Speed 3 at the default 125 BPM: 3 ticks of 20 ms a row. Pattern 0 plays period 428 on
// channel 0 (left) and from row 32 period 214; pattern 1 period 320 on channel 0 and 285 on
// channel 1 (right).
constexpr int kSpeed = 3;
constexpr double kRowSeconds = kSpeed * 2.5 / 125;
constexpr double kSongSeconds = 2 * 64 * kRowSeconds;
constexpr int kCycle = 32;  // samples of the sine cycle

double notePitch(int period) {
  return testaudio::kPalRate / period / kCycle;
}

fs::path writeSong(const TempDir& dir) {
  testaudio::ModSong s;
  s.sample = testaudio::sineCycle(kCycle, 100);
  s.patterns = {{{0, 0, 428, 1, 0xF, kSpeed}, {32, 0, 214, 1}}, {{0, 0, 320, 1}, {0, 1, 285, 1}}};
  s.orders = {0, 1};
  const fs::path file = dir / "song.mod";
  testaudio::writeModule(file, s);
  return file;
}

class ModuleDecode : public testing::TestWithParam<int> {};

TEST_P(ModuleDecode, RendersStereoSongOfItsDuration) {
  const int rate = GetParam();
  TempDir dir;
  const fs::path file = writeSong(dir);
  auto fields = testaudio::probe(file, "format=format_name,duration");
  ASSERT_EQ(fields["format_name"], "libopenmpt");  // the writer's file is a module to ffprobe
  const double probed = std::stod(fields["duration"]);
  EXPECT_NEAR(probed, kSongSeconds, 0.01);

  auto d = open(file, rate);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->channelType(), BASS_CTYPE_MUSIC);
  EXPECT_EQ(d->sampleRate(), rate);
  EXPECT_EQ(d->channels(), 2);
  EXPECT_NEAR(double(d->lengthFrames()), probed * rate, 0.005 * rate);

  const Audio got = decode(*d, INT64_MAX, 4096);
  EXPECT_NEAR(double(got.frames()), double(d->lengthFrames()), 0.005 * rate);
  // First half of pattern 0: period 428 on channel 0, which Amiga panning puts on the left.
  const int64_t from = int64_t(0.1 * rate), count = int64_t(1.5 * rate);
  const double pitch = notePitch(428);
  const double left = testaudio::toneAmplitude(got, 0, pitch, from, count);
  EXPECT_GT(left, 0.05);
  EXPECT_LT(testaudio::toneAmplitude(got, 0, pitch * 1.25, from, count), left / 20);
  EXPECT_LT(testaudio::rms(got, 1, from, count), testaudio::rms(got, 0, from, count) / 2);
  // Pattern 1 brings the right channel in.
  EXPECT_GT(testaudio::toneAmplitude(got, 1, notePitch(285), int64_t(4.0 * rate), count), 0.05);

  // A seek into pattern 1 plays what playing through played there.
  const int64_t at = int64_t(64 * kRowSeconds * rate) + rate / 10;
  ASSERT_TRUE(d->seek(at));
  const Audio sought = decode(*d, count);
  ASSERT_EQ(sought.frames(), count);
  const double through = testaudio::toneAmplitude(got, 0, notePitch(320), at, count);
  EXPECT_GT(through, 0.05);
  EXPECT_NEAR(testaudio::toneAmplitude(sought, 0, notePitch(320), 0, count), through,
              0.1 * through);
  // And a seek back to the start replays a song that has ended.
  decode(*d);
  ASSERT_TRUE(d->seek(0));
  EXPECT_GT(testaudio::rms(decode(*d, count), 0, from, count / 2), 0.02);
}

INSTANTIATE_TEST_SUITE_P(Rates, ModuleDecode, testing::Values(44100, 22050));

// Without ramping a note change jumps from the old note's level to the new one's in one sample
// (the click some players keep on purpose); with it the change is smoothed over a few
// milliseconds. A looping song starts over after its one pass, which stays its length.
TEST(ModuleOptions, RampingSmoothsTheNoteChangeAndLoopingStartsOver) {
  TempDir dir;
  const fs::path file = writeSong(dir);
  const int rate = 44100;
  const int64_t change = int64_t(32 * kRowSeconds * rate);  // period 214 replaces 428
  double steepest[2] = {0, 0};
  for (bool on : {false, true}) {
    auto d = open(file, rate, on, on);
    ASSERT_NE(d, nullptr);
    const Audio got = decode(*d, d->lengthFrames() + 2 * rate);
    ASSERT_GT(got.frames(), change + rate / 10);
    if (on) {
      ASSERT_EQ(got.frames(), d->lengthFrames() + 2 * rate);
    }
    for (int64_t f = change - rate / 100; f < change + rate / 10; ++f)
      steepest[on] = std::max(steepest[on], double(std::abs(got.at(f + 1, 0) - got.at(f, 0))));
    EXPECT_NEAR(double(d->lengthFrames()), kSongSeconds * rate, 0.005 * rate);
    if (on) {  // pattern 0's first note again
      EXPECT_GT(
          testaudio::toneAmplitude(got, 0, notePitch(428), d->lengthFrames() + rate / 10, rate),
          0.05);
    }
  }
  // A sine cycle of 16 output samples at this level moves by at most about 0.12 a sample.
  EXPECT_GT(steepest[false], 0.2);
  EXPECT_LT(steepest[true], 0.15);
}

// ---- files that are not what they claim ------------------------------------------------------

using MakeFile = std::function<fs::path(const TempDir& dir)>;  // builds the file in `dir`

struct BadCase {
  const char* name;
  MakeFile make;
  int streamError;
  int moduleError = BASS_ERROR_FILEFORM;
};

// `b` as the file `name`, grown with a hole to `size` bytes when given, so that a file of many
// gigabytes costs the disk nothing.
MakeFile bytesFile(const std::string& name, std::vector<uint8_t> b, uint64_t size = 0) {
  return [=](const TempDir& d) {
    const fs::path p = writeBytes(d / name, b);
    if (size) fs::resize_file(p, size);
    return p;
  };
}

fs::path goodWav(const TempDir& dir) {
  const fs::path p = dir / "good.wav";
  testaudio::writeWav(p, testaudio::makeAudio(44100, 2, 4410, [](int64_t f, int) {
                        return testaudio::sine(440, 0.5, f, 44100);
                      }));
  return p;
}

// `prefix` and then the file `make` builds, as one file.
MakeFile behind(std::vector<uint8_t> prefix, MakeFile make, size_t keep = SIZE_MAX) {
  return [=](const TempDir& d) {
    return writeBytes(d / "made.mp3", prefix, testaudio::slurp(make(d)).substr(0, keep));
  };
}

std::vector<uint8_t> repeated(const std::string& text, size_t size) {
  std::vector<uint8_t> b;
  while (b.size() < size) b.insert(b.end(), text.begin(), text.end());
  return b;
}

std::vector<uint8_t> randomBytes(size_t size) {
  std::mt19937 gen(1);
  std::vector<uint8_t> b(size);
  std::ranges::generate(b, [&] { return uint8_t(gen()); });
  return b;
}

std::vector<uint8_t> loneFrameHeader() {
  std::vector<uint8_t> b(5000, 0x55);
  b[100] = 0xFF, b[101] = 0xFB, b[102] = 0x90, b[103] = 0x00;
  return b;
}

fs::path encodedMp3(const TempDir& d) {
  testaudio::encodeMp3(goodWav(d), d / "song.mp3");
  return d / "song.mp3";
}

MakeFile wav(uint32_t rate, uint16_t channels, uint32_t dataBytes = 4096) {
  return bytesFile("crafted.wav", testaudio::craftedWav(rate, channels, dataBytes));
}

constexpr int kForm = BASS_ERROR_FILEFORM, kOpen = BASS_ERROR_FILEOPEN;
constexpr int kFormat = BASS_ERROR_FORMAT;
const BadCase kBadCases[] = {
    {"Missing", [](const TempDir& d) { return d / "nothing.wav"; }, kOpen, kOpen},
    {"Directory", [](const TempDir& d) { return d.path(); }, kOpen, kOpen},
    {"Empty", bytesFile("empty.mp3", {}), kForm},
    {"OneByte", bytesFile("one.wav", {0xFF}), kForm},
    {"Text", bytesFile("lyrics.mp3", repeated("Verse one\nthe words of the song\n", 1)), kForm},
    {"TruncatedWavHeader", behind({}, goodWav, 20), kForm},
    // An ID3v2 tag and the first bytes of a frame header.
    {"Mp3FrameHeaderOnly",
     bytesFile("short.mp3", {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 2, 0, 0, 0xFF, 0xFB}), kForm},
    // One valid MPEG 1 Layer III header (128 kbit/s, 44.1 kHz) and no frame after it.
    {"LoneFrameHeaderInGarbage", bytesFile("lone.mp3", loneFrameHeader()), kForm},
    // An MP3 behind 20 kB of text: libmpg123 alone would resync its way to the frames.
    {"Mp3BehindLongText", behind(repeated("la la la\n", 20000), encodedMp3), kForm},
    {"Garbage64k", bytesFile("garbage.mp3", randomBytes(65536)), kForm},
    {"WavAsModule", goodWav, BASS_OK},
    {"ModuleAsStream", writeSong, kForm, BASS_OK},
    // Headers whose numbers would size the engine's buffers: refused before anything is
    // allocated, the limits themselves still taken.
    {"RateTwoGigahertz", wav(2000000000, 2), kFormat},
    {"RateOneHertz", wav(1, 1), kFormat},
    {"RateBelowLowest", wav(audiolib::kMinFileRate - 1, 1), kFormat},
    {"RateLowest", wav(audiolib::kMinFileRate, 1), BASS_OK},
    {"RateHighest", wav(audiolib::kMaxFileRate, 2), BASS_OK},
    {"RateAboveHighest", wav(audiolib::kMaxFileRate + 1, 2), kFormat},
    {"Channels1024At8Hz", wav(8, 1024, 1 << 16), kFormat},
    {"ChannelsPastTheMixer", wav(44100, audiolib::kMaxFileChannels + 1), kFormat},
    {"ChannelsMost", wav(44100, audiolib::kMaxFileChannels), BASS_OK},
    // 2^36 - 1 frames claimed by a 42-byte header: 795 days at 1 kHz.
    {"FlacClaimingYears",
     bytesFile("long.flac", testaudio::craftedFlacHeader(1000, 2, 0xFFFFFFFFFull)), kForm},
    {"StreamPastSizeLimit",
     bytesFile("huge.wav", testaudio::craftedWav(44100, 2, 4096),
               audiolib::kMaxStreamFileBytes + 1),
     kForm},
    {"WavPastModuleSizeLimit",
     bytesFile("big.wav", testaudio::craftedWav(44100, 2, 4096), audiolib::kMaxModuleFileBytes + 1),
     BASS_OK},
};

class BadInput : public testing::TestWithParam<BadCase> {};

TEST_P(BadInput, RefusedWithItsErrorCode) {
  const BadCase& c = GetParam();
  TempDir dir;
  const fs::path p = c.make(dir);
  int error = -1;
  auto stream = audiolib::openStreamDecoder(p, &error);
  EXPECT_EQ(stream != nullptr, c.streamError == BASS_OK);
  EXPECT_EQ(error, c.streamError);
  error = -1;
  auto module = audiolib::openModuleDecoder(p, 44100, false, false, &error);
  EXPECT_EQ(module != nullptr, c.moduleError == BASS_OK);
  EXPECT_EQ(error, c.moduleError);
}

INSTANTIATE_TEST_SUITE_P(Files, BadInput, testing::ValuesIn(kBadCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
