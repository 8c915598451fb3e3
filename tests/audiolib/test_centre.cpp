// The remover that keeps the band: what goes and what stays, measured on tones panned in code,
// and the delay it adds, measured with an impulse.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "CentreExtractor.h"

namespace {

using audiolib::CentreExtractor;
using audiolib::extractCentreAligned;

constexpr int kRate = 44100;

std::vector<float> tone(double hz, double seconds, float left, float right) {
  const int frames = int(seconds * kRate);
  std::vector<float> s(size_t(2 * frames));
  for (int f = 0; f < frames; ++f) {
    const float x = float(0.5 * std::sin(2.0 * std::numbers::pi * hz * f / kRate));
    s[size_t(2 * f)] = left * x;
    s[size_t(2 * f + 1)] = right * x;
  }
  return s;
}

// Root mean square of one channel over frames [from, to).
double rms(const std::vector<float>& s, int channel, int from, int to) {
  double sum = 0;
  for (int f = from; f < to; ++f)
    sum += double(s[size_t(2 * f + channel)]) * s[size_t(2 * f + channel)];
  return std::sqrt(sum / (to - from));
}
// Runs `s` through `x` in blocks of `block` frames.
void run(CentreExtractor& x, std::vector<float>& s, int block, float voice = 0.0f) {
  const int frames = int(s.size() / 2);
  for (int at = 0; at < frames; at += block)
    x.process(s.data() + 2 * at, std::min(block, frames - at), voice);
}

double db(double ratio) {
  return 20.0 * std::log10(std::max(ratio, 1e-12));
}

struct Placement {
  std::string name;
  double hz;
  float left, right;  // the tone's gain on each channel
  float width;
  double minChangeDb, maxChangeDb;  // the level change of the louder channel
};

void PrintTo(const Placement& p, std::ostream* os) {
  *os << p.name;
}

class CentreExtraction : public ::testing::TestWithParam<Placement> {};

// Steady state (after the first half second) of a tone through the live form, in blocks of an
// odd size: a centred tone in the voice band goes, a tone on a side, panned half-way, or centred
// outside the band stays, on the channels it was on.
TEST_P(CentreExtraction, RemovesCentreKeepsSidesAndBandEdges) {
  const Placement& p = GetParam();
  CentreExtractor x(kRate, 300);
  x.setWidth(p.width);
  const std::vector<float> in = tone(p.hz, 1.5, p.left, p.right);
  std::vector<float> out = in;
  run(x, out, 300);
  const int lat = x.latencyFrames(), from = kRate / 2, to = kRate * 5 / 4;
  const int loud = p.left >= p.right ? 0 : 1;
  const double level = rms(in, loud, from, to);
  const double change = db(rms(out, loud, from + lat, to + lat) / level);
  EXPECT_GE(change, p.minChangeDb);
  EXPECT_LE(change, p.maxChangeDb);
  if (p.right == 0.0f) {  // still on the left only
    EXPECT_LT(db(rms(out, 1, from + lat, to + lat) / level), -60.0);
  }
  if (p.left == p.right) {  // a centred sound stays centred
    EXPECT_NEAR(rms(out, 0, from + lat, to + lat), rms(out, 1, from + lat, to + lat), 1e-3 * level);
  }
}

// Constant-power pan half-way to the left: the channels' gains cos(π/8) and sin(π/8), 7.7 dB
// apart.
const float kHalfL = float(std::cos(std::numbers::pi / 8));
const float kHalfR = float(std::sin(std::numbers::pi / 8));

INSTANTIATE_TEST_SUITE_P(
    Tones, CentreExtraction,
    ::testing::Values(Placement{"CentreGoes", 1000, 1, 1, 0.5f, -300, -40},
                      Placement{"CentreLowVoiceGoes", 300, 1, 1, 0.5f, -300, -40},
                      Placement{"CentreGoesAtNarrowestWidth", 2500, 1, 1, 0.0f, -300, -40},
                      Placement{"HardLeftStays", 1000, 1, 0, 0.5f, -0.5, 0.5},
                      Placement{"HardLeftStaysAtWidestWidth", 1000, 1, 0, 1.0f, -0.5, 0.5},
                      Placement{"HalfLeftStaysAtDefaultWidth", 1000, kHalfL, kHalfR, 0.5f, -1, 1},
                      Placement{"HalfLeftGoesAtWidestWidth", 1000, kHalfL, kHalfR, 1.0f, -300, -2},
                      Placement{"CentreBelowLowCutStays", 60, 1, 1, 0.5f, -1, 1},
                      Placement{"CentreAboveHighCutStays", 15000, 1, 1, 0.5f, -1, 1}),
    [](const auto& info) { return info.param.name; });

// The delay is one fixed number of frames and under 60 ms at the usual rates: an impulse on one
// side comes out exactly latencyFrames() later, whole, whatever the block sizes, and nothing else
// comes out.
TEST(CentreExtractorTiming, ImpulseComesOutExactlyOneLatencyLater) {
  for (int rate : {22050, 44100, 48000, 96000}) {
    for (int side : {0, 1}) {
      CentreExtractor x(rate, 1024);
      const int lat = x.latencyFrames();
      EXPECT_LT(1000.0 * lat / rate, 60.0) << rate;
      const int at = 3 * rate / 10 + 17, total = at + lat + 2000;
      std::vector<float> s(size_t(2 * total), 0.0f);
      s[size_t(2 * at + side)] = 1.0f;
      std::mt19937 gen(rate + side);
      for (int done = 0; done < total;) {
        const int n = std::min(total - done, int(gen() % 1024) + 1);
        x.process(s.data() + 2 * done, n);
        done += n;
      }
      for (int f = 0; f < total; ++f) {
        for (int c = 0; c < 2; ++c) {
          const float want = (f == at + lat && c == side) ? 1.0f : 0.0f;
          ASSERT_NEAR(s[size_t(2 * f + c)], want, 1e-5f) << rate << " frame " << f << " ch " << c;
        }
      }
    }
  }
}

// A song of centred and side sounds: the offline form adds no delay (the side noise comes out
// where it went in), and voice = 1 gives back the original, delayed by the latency.
TEST(CentreExtractorTiming, AlignedFormAndFullVoice) {
  std::mt19937 gen(5);
  std::uniform_real_distribution<float> u(-0.3f, 0.3f);
  const int frames = kRate;
  std::vector<float> sides(size_t(2 * frames)), song(size_t(2 * frames));
  const std::vector<float> centre = tone(700, 1.0, 0.8f, 0.8f);
  for (size_t i = 0; i < song.size(); i += 2) {
    sides[i] = u(gen);
    song[i] = centre[i] + sides[i];
    song[i + 1] = centre[i + 1];
  }
  const std::vector<float> kept = extractCentreAligned(sides, kRate);
  for (size_t i = 0; i < kept.size(); ++i) ASSERT_NEAR(kept[i], sides[i], 1e-5f) << i;

  const std::vector<float> whole = extractCentreAligned(song, kRate, 1.0f);
  for (size_t i = 0; i < whole.size(); ++i) ASSERT_NEAR(whole[i], song[i], 1e-5f) << i;

  CentreExtractor x(kRate, 256);
  std::vector<float> live = song;
  run(x, live, 256, 1.0f);
  const int lat = x.latencyFrames();
  for (int f = lat; f < frames; ++f)
    for (int c = 0; c < 2; ++c)
      ASSERT_NEAR(live[size_t(2 * f + c)], song[size_t(2 * (f - lat) + c)], 1e-5f) << f;
}

// Silence gives exact silence; a block of NaN and infinities gives no non-finite output, and
// after a reset (a seek) the same tone comes out as from a fresh extractor.
TEST(CentreExtractorState, SilenceAndNonFiniteInput) {
  CentreExtractor x(kRate, 512);
  std::vector<float> block(1024, 0.0f);
  for (int i = 0; i < 200; ++i) {
    x.process(block.data(), 512);
    for (float v : block) ASSERT_EQ(v, 0.0f);
  }
  const float kBad[] = {std::numeric_limits<float>::quiet_NaN(),
                        std::numeric_limits<float>::infinity(),
                        -std::numeric_limits<float>::infinity(), 3e38f};
  for (size_t i = 0; i < block.size(); ++i) block[i] = kBad[i % 4];
  x.process(block.data(), 512);
  const std::vector<float> song = tone(1000, 1.0, 1.0f, 0.3f);
  std::vector<float> first = song, again = song, reference = song;
  run(x, first, 512);
  for (float v : first) ASSERT_TRUE(std::isfinite(v));

  x.reset();
  CentreExtractor fresh(kRate, 512);
  run(x, again, 512);
  run(fresh, reference, 512);
  EXPECT_EQ(again, reference);
}

}  // namespace
