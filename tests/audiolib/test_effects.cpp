// The effect types of the effects add-on, measured against their definitions: the gain of an
// equaliser band at its centre and edges, the exact pass-through of neutral settings, and the
// limiter's full-scale guarantee and release.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <numbers>
#include <random>

#include "Effect.h"
#include "TestAudio.h"
#include "bass.h"

using audiolib::createEffect;
using audiolib::Effect;
using testaudio::Audio;

namespace {

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

Audio processed(Effect& fx, Audio a, int64_t block = 512) {
  for (int64_t f = 0; f < a.frames(); f += block)
    fx.process(a.samples.data() + f * a.channels, size_t(std::min(block, a.frames() - f)));
  return a;
}

// An effect of `type` prepared for `rate` and `channels`, holding `params` when given.
std::unique_ptr<Effect> made(int type, int rate, int channels, const void* params = nullptr) {
  auto fx = createEffect(type);
  fx->prepare(rate, channels);
  EXPECT_TRUE(!params || fx->setParameters(params));
  return fx;
}

Audio noise(int rate, int channels, double seconds, double amp) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<float> d(-float(amp), float(amp));
  return testaudio::makeAudio(rate, channels, int64_t(seconds * rate),
                              [&](int64_t, int) { return d(gen); });
}

// Gain in dB of a stereo sine of `hz` through `fx` once settled; both channels must agree.
double measureGainDb(Effect& fx, int rate, double hz) {
  Audio a = testaudio::makeAudio(rate, 2, int64_t(1.5 * rate), [&](int64_t f, int) {
    return testaudio::sine(hz, 0.25, f, rate);
  });
  const Audio in = a;
  a = processed(fx, a);
  const int64_t from = rate / 2, count = std::llround(std::round(hz) * rate / hz);  // whole periods
  double g[2];
  for (int c : {0, 1})
    g[c] = 20.0 * std::log10(testaudio::toneAmplitude(a, c, hz, from, count) /
                             testaudio::toneAmplitude(in, c, hz, from, count));
  EXPECT_NEAR(g[0], g[1], 1e-6);
  return g[0];
}

EqBand band(int index, double center, double gain, DWORD rate = 0, float bw = 2.5f,
            float q = 0.0f) {
  return EqBand{index, rate, bw, q, float(center), float(gain)};
}

bool sameBand(const EqBand& a, const EqBand& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// ---- type 5: peaking equaliser --------------------------------------------------------

class EqBandGain : public testing::TestWithParam<std::tuple<int, double, double>> {};

TEST_P(EqBandGain, OneBandHasItsGainAtItsCentre) {
  const auto [rate, center, gain] = GetParam();
  const EqBand b = band(0, center, gain, DWORD(rate));
  auto eq = made(kFxPeakingEq, rate, 2, &b);
  EXPECT_NEAR(measureGainDb(*eq, rate, center), gain, 0.05);
}

// The centres of the player's two band tables.
constexpr double kMainBands[] = {40, 100, 400, 1500, 4000, 8000, 12000, 16000};
INSTANTIATE_TEST_SUITE_P(Tables, EqBandGain,
                         testing::Combine(testing::Values(44100, 48000),
                                          testing::Values(40, 100, 200, 400, 1500, 3000, 4000, 5000,
                                                          8000, 12000, 16000),
                                          testing::Values(10.0, 0.0, -9.0)));

// The bandwidth spans the octaves between the half-gain (in dB) frequencies; Q > 0 overrides it.
class EqBandEdges : public testing::TestWithParam<std::tuple<float, float, double>> {};

TEST_P(EqBandEdges, HalfTheGainAtTheBandEdges) {
  const auto [bw, q, octaves] = GetParam();
  const EqBand b = band(0, 1000, 12.0, 48000, bw, q);
  auto eq = made(kFxPeakingEq, 48000, 2, &b);
  for (double edge : {-octaves / 2, octaves / 2})
    EXPECT_NEAR(measureGainDb(*eq, 48000, 1000 * std::exp2(edge)), 6.0, 0.1) << edge;
}

const float kOneOctaveQ = float(1.0 / (2.0 * std::sinh(std::numbers::ln2 / 2.0)));
INSTANTIATE_TEST_SUITE_P(Widths, EqBandEdges,
                         testing::Values(std::tuple{1.0f, 0.0f, 1.0}, std::tuple{2.5f, 0.0f, 2.5},
                                         std::tuple{2.5f, -1.0f, 2.5},
                                         std::tuple{4.0f, kOneOctaveQ, 1.0}));

TEST(PeakingEq, NeutralBandsPassTheSignalBitForBit) {
  auto eq = made(kFxPeakingEq, 44100, 2);
  for (int i = 0; i < 8; ++i) {
    const EqBand b = band(i, kMainBands[i], i == 2 ? 6.0 : 0.0);
    ASSERT_TRUE(eq->setParameters(&b));
  }
  const Audio in = noise(44100, 2, 1.0, 0.9);
  EXPECT_NE(processed(*eq, in).samples, in.samples);  // band 2 is at +6 dB
  const EqBand flat = band(2, kMainBands[2], 0.0);
  ASSERT_TRUE(eq->setParameters(&flat));
  EXPECT_EQ(processed(*eq, in).samples, in.samples);
}

TEST(PeakingEq, NewIndexAddsABandAndAKnownIndexUpdatesIt) {
  const EqBand low = band(0, 1000, 6.0), high = band(1, 8000, 6.0), low2 = band(0, 1000, -9.0);
  auto eq = made(kFxPeakingEq, 48000, 2, &low), alone = made(kFxPeakingEq, 48000, 2, &high);
  const double skirt = measureGainDb(*alone, 48000, 1000);  // the high band's part at 1 kHz
  ASSERT_TRUE(eq->setParameters(&high));
  EXPECT_NEAR(measureGainDb(*eq, 48000, 1000), 6.0 + skirt, 0.05);
  ASSERT_TRUE(eq->setParameters(&low2));
  EXPECT_NEAR(measureGainDb(*eq, 48000, 1000), -9.0 + skirt, 0.05);
  for (const EqBand& want : {low2, high}) {
    EqBand got{};
    got.band = want.band;
    ASSERT_TRUE(eq->getParameters(&got));
    EXPECT_TRUE(sameBand(got, want)) << want.band;
  }
  for (int unknown : {2, 15, -1, 16}) {
    EqBand got{};
    got.band = unknown;
    EXPECT_FALSE(eq->getParameters(&got)) << unknown;
  }
}

// Where a band lands in a 48 kHz stream set up after the band arrived: the record's own rate
// places it (0 = the prepared rate). Centres at or above 0.45 of the rate leave the stream
// untouched rather than fold onto lower frequencies; any band stays stable and never raises
// white noise by more than its gain (+10 dB, 3.16 in RMS).
struct Placement {
  int rate;
  DWORD recordRate;
  double center, landsAt;  // landsAt 0: the band is left out
};
class EqPlacement : public testing::TestWithParam<Placement> {};

TEST_P(EqPlacement, CentreLandsWhereTheRecordsRatePutsIt) {
  const Placement p = GetParam();
  auto eq = createEffect(kFxPeakingEq);
  const EqBand b = band(0, p.center, 10.0, p.recordRate);
  ASSERT_TRUE(eq->setParameters(&b));
  eq->prepare(p.rate, 2);
  const Audio in = noise(p.rate, 2, 4.0, 0.5);
  const Audio a = processed(*eq, in);
  for (float s : a.samples) ASSERT_TRUE(std::isfinite(s));
  const int64_t q = a.frames() / 4;
  for (int64_t from : {int64_t(0), 3 * q})
    EXPECT_LE(testaudio::rms(a, 0, from, q), 3.17 * testaudio::rms(in, 0, from, q)) << from;
  if (p.landsAt > 0) {
    EXPECT_NEAR(measureGainDb(*eq, p.rate, p.landsAt), 10.0, 0.05);
  } else {
    EXPECT_EQ(a.samples, in.samples);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Centres, EqPlacement,
    testing::Values(Placement{48000, 0, 1000, 1000}, Placement{48000, 24000, 1000, 2000},
                    Placement{48000, 96000, 4000, 2000}, Placement{22050, 0, 9700, 9700},
                    Placement{44100, 44100, 19800, 19800}, Placement{22050, 0, 0.45 * 22050, 0},
                    Placement{22050, 22050, 11025, 0}, Placement{22050, 22050, 16000, 0},
                    Placement{44100, 0, 30000, 0}));

// ---- type 4: channel gains ------------------------------------------------------------

// Every even channel takes the left gain and every odd one the right (mono takes the left),
// exactly, whatever the block size and channel count.
class ChannelGains : public testing::TestWithParam<std::tuple<int, int64_t, float, float>> {};

TEST_P(ChannelGains, EvenChannelsTakeLeftOddOnesRight) {
  const auto [channels, block, left, right] = GetParam();
  const FxChannelGain r{left, right};
  auto fx = made(kFxChannelGain, 44100, channels, &r);
  const Audio in = noise(44100, channels, 0.05, 0.5), a = processed(*fx, in, block);
  for (int64_t f = 0; f < a.frames(); ++f)
    for (int c = 0; c < channels; ++c)
      ASSERT_EQ(a.at(f, c), in.at(f, c) * (c % 2 ? right : left)) << f << " " << c;
  FxChannelGain got{};
  ASSERT_TRUE(fx->getParameters(&got));
  EXPECT_TRUE(got.left == left && got.right == right);
}

INSTANTIATE_TEST_SUITE_P(
    Gains, ChannelGains,
    testing::Values(std::tuple{2, int64_t(512), 0.5f, 2.0f}, std::tuple{2, int64_t(3), 0.0f, 1.0f},
                    std::tuple{2, int64_t(1023), 1.0f, 0.0f}, std::tuple{4, int64_t(1), 0.0f, 0.0f},
                    std::tuple{1, int64_t(5), 0.25f, 3.0f}, std::tuple{3, int64_t(5), 0.75f, 1.5f},
                    std::tuple{6, int64_t(1023), 0.75f, 1.5f}));

// ---- type 11: make-up gain and limiter ------------------------------------------------

FxCompressor compressor(float gain, float release = 1000.0f) {
  return FxCompressor{10.0f, 10.0f, 10.0f, gain, release};
}

std::unique_ptr<Effect> limiter(int rate, float gain, float release = 1000.0f) {
  const FxCompressor r = compressor(gain, release);
  return made(kFxCompressor, rate, 2, &r);
}

enum class Shape { Sine, Noise, Spikes, NonFinite };
class LimiterLoud : public testing::TestWithParam<std::tuple<Shape, double, float>> {};

TEST_P(LimiterLoud, NeverExceedsFullScale) {
  const auto [shape, amp, gain] = GetParam();
  auto fx = limiter(44100, gain, 50.0f);
  Audio a = noise(44100, 2, 1.0, amp);
  if (shape == Shape::Sine)
    a = testaudio::makeAudio(44100, 2, 44100, [&](int64_t f, int c) {
      return testaudio::sine(c ? 441 : 440, amp, f, 44100);
    });
  for (size_t i = 0; shape > Shape::Noise && i < a.samples.size(); i += 997)
    a.samples[i] = shape == Shape::Spikes ? float(i % 2 ? -amp : amp) : (i % 3 ? kInf : kNan);
  a = processed(*fx, std::move(a));
  float latePeak = 0;
  for (size_t i = 0; i < a.samples.size(); ++i) {
    ASSERT_LE(std::fabs(a.samples[i]), 1.0f) << i;
    if (i > a.samples.size() / 2) latePeak = std::max(latePeak, std::fabs(a.samples[i]));
  }
  EXPECT_TRUE(shape != Shape::Sine || latePeak > 0.95f) << latePeak;  // a limiter, not a mute
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, LimiterLoud,
    testing::Combine(testing::Values(Shape::Sine, Shape::Noise, Shape::Spikes, Shape::NonFinite),
                     testing::Values(0.99, 1.5, 40.0, 1e6), testing::Values(0.0f, 6.0f, 24.0f)));

// Below full scale only the make-up gain applies, exactly, up to full scale itself at 0 dB and
// below; after a loud burst the limiting fades and the same holds again (1 s is 50 release
// times).
class LimiterRecovery : public testing::TestWithParam<float> {};

TEST_P(LimiterRecovery, BelowFullScaleOnlyTheMakeUpGainRemains) {
  const float gain = GetParam();
  auto fx = limiter(44100, gain, 20.0f);
  Audio in = noise(44100, 2, 2.0, 0.7);  // 0.7 at +2 dB stays below full scale
  if (gain <= 0) in.samples[10] = 1.0f, in.samples[11] = -1.0f;
  Audio want = in;
  for (float& x : want.samples) x = float(double(x) * std::pow(10.0, gain / 20.0));
  EXPECT_EQ(processed(*fx, in, 333).samples, want.samples);
  processed(*fx, noise(44100, 2, 0.05, 8.0));
  const Audio a = processed(*fx, in, 333);
  const size_t half = a.samples.size() / 2;
  EXPECT_NE(a.samples[0], want.samples[0]);  // still limited at first
  EXPECT_TRUE(std::equal(a.samples.begin() + half, a.samples.end(), want.samples.begin() + half));
}

INSTANTIATE_TEST_SUITE_P(Gains, LimiterRecovery, testing::Values(0.0f, 2.0f, -12.0f));

// Before a burst at four times full scale on the left the signal passes untouched (no
// look-ahead); from the burst's first sample both channels take its gain of 1/4 (they are
// linked), and after it the reduction left shrinks by e every release time.
class LimiterRelease : public testing::TestWithParam<std::tuple<int, float>> {};

TEST_P(LimiterRelease, LinkedGainWithoutLookAheadReturnsExponentially) {
  const auto [rate, releaseMs] = GetParam();
  auto fx = limiter(rate, 0.0f, releaseMs);
  // The burst starts and ends inside a block.
  const int64_t start = rate / 100, end = 2 * start, tau = int64_t(releaseMs * 1e-3 * rate);
  const Audio in = testaudio::makeAudio(rate, 2, end + 6 * tau, [&](int64_t f, int c) {
    return f >= start && f < end ? (c ? -0.5f : 4.0f) : 0.1f;
  });
  const Audio a = processed(*fx, in);
  EXPECT_TRUE(std::equal(a.samples.begin(), a.samples.begin() + start * 2, in.samples.begin()));
  EXPECT_EQ(a.at(start, 0), 1.0f);  // the very first loud sample is already limited
  EXPECT_FLOAT_EQ(a.at(start, 1), -0.125f);
  EXPECT_EQ(a.at(end - 1, 0), 1.0f);
  EXPECT_FLOAT_EQ(a.at(end - 1, 1), -0.125f);
  for (double k : {0.5, 1.0, 2.0, 5.0}) {
    const int64_t f = end + int64_t(k * double(tau));
    EXPECT_NEAR(a.at(f, 0) / 0.1, 1.0 - 0.75 * std::exp(-k), 2e-3) << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Releases, LimiterRelease,
                         testing::Combine(testing::Values(44100, 48000),
                                          testing::Values(20.0f, 250.0f, 1000.0f)));

// ---- non-finite input ---------------------------------------------------------------------

// One block with a NaN or an infinity in it must not leave a filter's state poisoned: the
// blocks after it come out finite, at the level the same effect gives a clean signal.
class NonFiniteBlock
    : public testing::TestWithParam<std::tuple<int /*type*/, int /*channels*/, float /*bad*/>> {};

TEST_P(NonFiniteBlock, LaterBlocksComeOutFiniteAtTheirLevel) {
  const auto [type, channels, bad] = GetParam();
  const int rate = 44100;
  const EqBand b = band(0, 1000, 9.0);
  const FxCompressor c{10, 10, 10, 3.0f, 200.0f};
  const void* params = type == kFxPeakingEq ? static_cast<const void*>(&b) : &c;
  auto hit = made(type, rate, channels, params), clean = made(type, rate, channels, params);
  const Audio song = testaudio::makeAudio(
      rate, channels, rate, [&](int64_t f, int) { return testaudio::sine(1000, 0.3, f, rate); });
  Audio spoilt = song;
  for (int64_t f = 5000; f < 5010; ++f)
    for (int ch = 0; ch < channels; ++ch) spoilt.samples[size_t(f * channels + ch)] = bad;
  const Audio out = processed(*hit, spoilt), ref = processed(*clean, song);
  const int64_t after = 5120 + rate / 10;  // the next block and a little settling
  for (int64_t i = 5120 * channels; i < int64_t(out.samples.size()); ++i)
    ASSERT_TRUE(std::isfinite(out.samples[size_t(i)])) << "sample " << i;
  for (int ch = 0; ch < channels; ++ch)
    EXPECT_NEAR(testaudio::rms(out, ch, after, rate - after),
                testaudio::rms(ref, ch, after, rate - after), 1e-3);
}

INSTANTIATE_TEST_SUITE_P(Effects, NonFiniteBlock,
                         testing::Combine(testing::Values(kFxPeakingEq, kFxCompressor),
                                          testing::Values(2, 1),
                                          testing::Values(kNan, kInf, -kInf)));

// ---- records and the table --------------------------------------------------------------

// Set before the effect is prepared, `kept` is taken; then null and each of `bad` are refused
// and the effect still reads back `kept` (band 0 for the equaliser).
template <class Record>
void expectRefusedKeeping(int type, const Record& kept, std::initializer_list<Record> bad) {
  auto fx = createEffect(type);
  ASSERT_TRUE(fx->setParameters(&kept));
  EXPECT_FALSE(fx->setParameters(nullptr));
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_FALSE(fx->setParameters(bad.begin() + i)) << "type " << type << ", record " << i;
    Record got{};
    ASSERT_TRUE(fx->getParameters(&got));
    EXPECT_EQ(std::memcmp(&got, &kept, sizeof got), 0) << "type " << type << ", record " << i;
  }
}

TEST(EffectRecords, BadOnesAreRefusedAndLeaveTheEffectsOwn) {
  expectRefusedKeeping(
      kFxPeakingEq, band(0, 1000, -9.0),
      {band(-1, 1000, 6), band(16, 1000, 6), band(0, 1000, 6, 0, 0), band(0, 1000, 6, 0, -1, -1),
       band(0, kNan, 6), band(0, 1000, kNan), band(0, 1000, 6, 0, kNan),
       band(0, 1000, 6, 0, 2.5f, kNan), band(0, 1000, kInf), band(0, 0, 6), band(0, -100, 6)});
  expectRefusedKeeping(kFxChannelGain, FxChannelGain{0.5f, 2.0f},
                       {FxChannelGain{kNan, 1}, FxChannelGain{1, kInf}, FxChannelGain{-0.5f, 1},
                        FxChannelGain{1, -1}});
  expectRefusedKeeping(kFxCompressor, FxCompressor{1.5f, -2.0f, 30.0f, 4.5f, 250.0f},
                       {compressor(kNan), compressor(kInf), compressor(3, -1), compressor(3, kNan),
                        compressor(3, kInf)});
  // Until its first record a channel gain is unity.
  auto unity = made(kFxChannelGain, 44100, 2);
  const Audio in = noise(44100, 2, 0.1, 0.9);
  EXPECT_EQ(processed(*unity, in).samples, in.samples);
}

TEST(EffectTable, UnknownTypesMakeNothing) {
  for (int type : {-1, 0, 1, 3, 6, 10, 12, 1000}) EXPECT_EQ(createEffect(type), nullptr) << type;
}

}  // namespace
