// The equaliser's inner loops against a plain direct-form cascade in long double: the skewed
// stereo kernels for every band count and for blocks shorter than the cascade, and the
// equaliser itself on any channel count, through silence and its ringing.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "Effect.h"
#include "TestAudio.h"
#include "bass.h"
#include "effects/BiquadCascade.h"

using audiolib::Biquad;
using audiolib::StereoCascadeState;

namespace {

// A peaking band as in the audio EQ cookbook, from its bandwidth in octaves.
Biquad peaking(double fs, double center, double gainDb, double octaves) {
  const double a = std::pow(10.0, gainDb / 40.0), w0 = 2.0 * std::numbers::pi * center / fs;
  const double alpha =
      std::sin(w0) * std::sinh(std::numbers::ln2 / 2.0 * octaves * w0 / std::sin(w0));
  const double a0 = 1.0 + alpha / a;
  return {(1.0 + alpha * a) / a0, -2.0 * std::cos(w0) / a0, (1.0 - alpha * a) / a0,
          -2.0 * std::cos(w0) / a0, (1.0 - alpha / a) / a0};
}

// y[n] = b0 x[n] + b1 x[n-1] + b2 x[n-2] - a1 y[n-1] - a2 y[n-2], band after band, per channel.
class Reference {
 public:
  Reference(std::vector<Biquad> bands, int channels)
      : bands_(std::move(bands)), channels_(channels), mem_(bands_.size() * size_t(channels)) {}
  float next(float in, int channel) {
    long double x = in;
    for (size_t k = 0; k < bands_.size(); ++k) {
      const Biquad& q = bands_[k];
      auto& [x1, x2, y1, y2] = mem_[k * size_t(channels_) + size_t(channel)];
      const long double y = q.b0 * x + q.b1 * x1 + q.b2 * x2 - q.a1 * y1 - q.a2 * y2;
      x2 = x1, x1 = x, y2 = y1, y1 = y;
      x = y;
    }
    return float(x);
  }

 private:
  std::vector<Biquad> bands_;
  int channels_;
  std::vector<std::array<long double, 4>> mem_;  // x[n-1], x[n-2], y[n-1], y[n-2]
};

// Loud and quiet noise, different on each channel, with a silent stretch after `silentFrom`.
std::vector<float> programme(int channels, int64_t frames, int64_t silentFrom) {
  std::mt19937 gen(3);
  std::uniform_real_distribution<float> d(-0.5f, 0.5f);
  std::vector<float> s(size_t(frames * channels));
  for (int64_t f = 0; f < frames; ++f)
    for (int c = 0; c < channels; ++c)
      s[size_t(f * channels + c)] =
          f >= silentFrom ? 0.0f : d(gen) * (c + 1) / float(channels) + (f % 500 < 3 ? 0.4f : 0.f);
  return s;
}

// The largest deviation of `out` from `in` through the reference cascade of `bands`.
double deviation(const std::vector<float>& in, const std::vector<float>& out,
                 std::vector<Biquad> bands, int channels) {
  Reference ref(std::move(bands), channels);
  double worst = 0;
  for (size_t i = 0; i < in.size(); ++i)
    worst = std::max(worst, std::fabs(double(out[i]) - ref.next(in[i], int(i % size_t(channels)))));
  return worst;
}

// Block sizes that cover one frame, blocks shorter than the cascade and whole chunks.
constexpr size_t kBlocks[] = {1, 2, 3, 5, 7, 64, 1024, 13, 700, 1, 4, 9, 512};

constexpr double kTolerance = 2e-6;  // float output rounding and double arithmetic

std::vector<Biquad> someBands(int n, double fs) {
  // Low, narrow and high bands, boosts and cuts: the extremes of what the player sets.
  std::vector<Biquad> q;
  for (int k = 0; k < n; ++k)
    q.push_back(peaking(fs, 30.0 * std::pow(1.6, k), (k % 3 - 1) * 10.0 + 1.0, 0.5 + k % 4));
  return q;
}

enum class Kernel { Sse2, Avx2 };
class StereoCascadeKernel : public testing::TestWithParam<std::tuple<Kernel, int>> {};

TEST_P(StereoCascadeKernel, MatchesTheDirectFormReferenceAcrossBlocks) {
  const auto [kernel, n] = GetParam();
  if (kernel == Kernel::Avx2 && !audiolib::haveAvx2Fma()) GTEST_SKIP() << "no AVX2/FMA";
  const auto run =
      kernel == Kernel::Avx2 ? &audiolib::stereoCascadeAvx2 : &audiolib::stereoCascadeSse2;
  const std::vector<Biquad> q = someBands(n, 44100);
  const int64_t frames = 20000;
  const std::vector<float> in = programme(2, frames, 15000);
  std::vector<float> s = in;

  StereoCascadeState z{};
  for (size_t b = 0, done = 0, count; done < size_t(frames); ++b, done += count) {
    count = std::min(kBlocks[b % std::size(kBlocks)], size_t(frames) - done);
    run(s.data() + 2 * done, count, q.data(), n, z);
  }
  EXPECT_LE(deviation(in, s, q, 2), kTolerance);
  EXPECT_GT(std::fabs(s[size_t(2 * 15010)]), 1e-4);  // the silence starts with ringing
}

INSTANTIATE_TEST_SUITE_P(BandCounts, StereoCascadeKernel,
                         testing::Combine(testing::Values(Kernel::Sse2, Kernel::Avx2),
                                          testing::Values(1, 2, 3, 4, 5, 8, 9, 15, 16)),
                         [](const auto& info) {
                           return (std::get<0>(info.param) == Kernel::Avx2 ? "Avx2_" : "Sse2_") +
                                  std::to_string(std::get<1>(info.param));
                         });

// The equaliser on any channel count, with the player's bands, bands at 0 dB left out, and
// a silence long enough to come to rest and be passed through untouched.
class EqChannels : public testing::TestWithParam<int> {};

TEST_P(EqChannels, EveryChannelMatchesTheReference) {
  const int channels = GetParam();
  const int rate = 44100;
  const float centres[] = {40, 100, 200, 1500, 3000, 4000, 5000, 8000};
  const float gains[] = {10, 0, 1, -9, 0, -9, 6, -9};
  auto eq = audiolib::createEffect(kFxPeakingEq);
  eq->prepare(rate, channels);
  std::vector<Biquad> active;
  for (int b = 0; b < 8; ++b) {
    const EqBand band{b, DWORD(rate), 2.5f, 0.0f, centres[b], gains[b]};
    ASSERT_TRUE(eq->setParameters(&band));
    if (gains[b] != 0) active.push_back(peaking(rate, centres[b], gains[b], 2.5));
  }
  const int64_t frames = 5 * rate, silentFrom = rate;
  const std::vector<float> in = programme(channels, frames, silentFrom);
  std::vector<float> s = in;
  for (int64_t f = 0; f < frames; f += 1024)
    eq->process(s.data() + f * channels, size_t(std::min<int64_t>(1024, frames - f)));
  EXPECT_LE(deviation(in, s, active, channels), kTolerance);
  // The 40 Hz band rings on into the silence, then the filter is at rest and passes zeros.
  EXPECT_GT(std::fabs(s[size_t((silentFrom + 100) * channels)]), 1e-4);
  for (size_t i = size_t((frames - rate) * channels); i < s.size(); ++i)
    ASSERT_EQ(std::bit_cast<uint32_t>(s[i]), 0u) << i;
}

INSTANTIATE_TEST_SUITE_P(Counts, EqChannels, testing::Values(1, 2, 3, 6));

}  // namespace
