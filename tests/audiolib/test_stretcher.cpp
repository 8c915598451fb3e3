// The song's key and tempo: the pitch that comes out, the length and the alignment of the
// stretched sound, and the song position read back from the stretcher while the tempo moves.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "Stretcher.h"

namespace {

using audiolib::StretchEngine;
using audiolib::Stretcher;

constexpr int kRate = 44100;
constexpr int kBlock = 512;

const char* engineName(StretchEngine e) {
  return e == StretchEngine::Faster ? "R2" : "R3";
}

// Feeds `in` (interleaved stereo) through `s` as the song bus does, from frame `fed` up to
// `end`, then silence, until `done` says so; appends what comes out to `out`.
void feed(Stretcher& s, const std::vector<float>& in, int64_t& fed, int64_t end,
          std::vector<float>& out, const std::function<bool()>& done) {
  std::vector<float> block(size_t(kBlock) * 2), silence(size_t(kBlock) * 2);
  while (!done()) {
    const int n = int(std::min<int64_t>(s.required(), std::max<int64_t>(end - fed, 0)));
    s.push(n ? in.data() + fed * 2 : silence.data(), n ? n : s.required());
    fed += n;
    while (const int got = s.pull(block.data(), kBlock))
      out.insert(out.end(), block.begin(), block.begin() + got * 2);
  }
}

// The first `outFrames` frames of `in` stretched, silence after it.
std::vector<float> stretch(Stretcher& s, const std::vector<float>& in, int64_t outFrames) {
  std::vector<float> out;
  int64_t fed = 0;
  feed(s, in, fed, int64_t(in.size() / 2), out,
       [&] { return int64_t(out.size() / 2) >= outFrames; });
  out.resize(size_t(outFrames) * 2);
  return out;
}

// Frequency of the strongest partial between lo and hi Hz in one channel: the magnitude of the
// Hann-windowed spectrum, evaluated on a fine grid and refined by a parabola through the peak.
double peakHz(const std::vector<float>& x, int channel, int64_t from, int64_t count, double lo,
              double hi) {
  std::vector<double> w(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i)
    w[size_t(i)] = x[size_t(2 * (from + i) + channel)] *
                   (0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(count)));
  auto magnitude = [&](double hz) {
    const double step = 2 * std::numbers::pi * hz / kRate;
    double re = 0, im = 0;
    for (int64_t i = 0; i < count; ++i) {
      re += w[size_t(i)] * std::cos(step * double(i));
      im += w[size_t(i)] * std::sin(step * double(i));
    }
    return std::hypot(re, im);
  };
  const double grid = 0.1;
  double best = lo, bestMag = -1;
  for (double f = lo; f <= hi; f += grid)
    if (const double m = magnitude(f); m > bestMag) bestMag = m, best = f;
  const double a = magnitude(best - grid), c = magnitude(best + grid);
  const double denom = a - 2 * bestMag + c;
  return denom < 0 ? best + 0.5 * grid * (a - c) / denom : best;
}

double cents(double hz, double reference) {
  return 1200.0 * std::log2(hz / reference);
}

// ---- Pitch: a tone on the left and a two-tone chord on the right come out at the key asked.
// R3 keeps the key exactly; R2 in real-time mode was measured a few cents off at the far keys
// (−6.3 at −6, −6.5 at +6 here), a reason it is not the live engine.
struct KeyCase {
  StretchEngine engine;
  double semitones;
  double tempo;
  double centsWithin;
};
class StretcherKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(StretcherKey, TonesComeOutAtTheKey) {
  const auto [engine, semitones, tempo, centsWithin] = GetParam();
  constexpr double kA = 440.0, kE = 659.255;  // A4 and the E above
  const int64_t frames = 3 * kRate;
  std::vector<float> in(size_t(frames) * 2);
  for (int64_t f = 0; f < frames; ++f) {
    const double t = double(f) / kRate, w = 2 * std::numbers::pi;
    in[size_t(2 * f)] = float(0.4 * std::sin(w * kA * t));
    in[size_t(2 * f + 1)] = float(0.3 * std::sin(w * kA * t) + 0.3 * std::sin(w * kE * t));
  }
  // The estimator itself, on the input.
  const int64_t span = kRate * 3 / 2;
  ASSERT_NEAR(cents(peakHz(in, 0, kRate / 2, span, 430, 450), kA), 0.0, 0.5);
  ASSERT_NEAR(cents(peakHz(in, 1, kRate / 2, span, 640, 680), kE), 0.0, 0.5);

  Stretcher s(kRate, 2, engine, kBlock);
  s.setKeyTempo(semitones, tempo);
  const std::vector<float> out = stretch(s, in, int64_t(double(frames) / tempo));
  const double ratio = std::pow(2.0, semitones / 12.0);
  for (const auto& [channel, hz] : {std::pair{0, kA}, {1, kA}, {1, kE}}) {
    const double want = hz * ratio;
    const double got = peakHz(out, channel, kRate / 2, span, want * std::pow(2.0, -0.8 / 12),
                              want * std::pow(2.0, 0.8 / 12));
    EXPECT_NEAR(cents(got, want), 0.0, centsWithin)
        << engineName(engine) << " key " << semitones << " channel " << channel << ": " << got
        << " Hz for " << want;
  }
}

INSTANTIATE_TEST_SUITE_P(Keys, StretcherKey,
                         ::testing::Values(KeyCase{StretchEngine::Finer, -6, 1.0, 5},
                                           KeyCase{StretchEngine::Finer, -1, 1.0, 5},
                                           KeyCase{StretchEngine::Finer, 2, 1.0, 5},
                                           KeyCase{StretchEngine::Finer, 6, 1.0, 5},
                                           KeyCase{StretchEngine::Finer, 2, 0.9, 5},
                                           KeyCase{StretchEngine::Faster, -6, 1.0, 10},
                                           KeyCase{StretchEngine::Faster, 2, 0.9, 5},
                                           KeyCase{StretchEngine::Faster, 6, 1.0, 10}));

// ---- Clicks: a train of short bursts at known input frames, found again in the output.
constexpr int64_t kClickEvery = kRate / 10;
constexpr int64_t kFirstClick = kRate / 20;

std::vector<float> clickTrain(int64_t frames) {
  std::vector<float> in(size_t(frames) * 2);
  for (int64_t c = kFirstClick; c + 8 < frames; c += kClickEvery)
    for (int i = -2; i <= 2; ++i) in[size_t(2 * (c + i))] = in[size_t(2 * (c + i) + 1)] = 0.8f;
  return in;
}

// Output frame where the click expected near `expected` lies: the centre of its energy within
// 20 ms either side.
double clickAt(const std::vector<float>& out, double expected) {
  const int64_t reach = kRate / 50, centre = int64_t(std::lround(expected));
  const int64_t lo = std::max<int64_t>(0, centre - reach);
  const int64_t hi = std::min<int64_t>(int64_t(out.size() / 2) - 1, centre + reach);
  double peak = 0, sum = 0, moment = 0;
  for (int64_t f = lo; f <= hi; ++f) peak = std::max(peak, double(std::abs(out[size_t(2 * f)])));
  for (int64_t f = lo; f <= hi; ++f) {
    const double e = std::pow(out[size_t(2 * f)], 2);
    if (std::abs(out[size_t(2 * f)]) < 0.3 * peak) continue;  // the peak's own lobes only
    sum += e, moment += e * double(f);
  }
  return sum > 0 ? moment / sum : -1e9;
}

// ---- Length and alignment: clicks come out at input time / tempo after construction and
// after reset(), and the stretched sound's length is its input's over the tempo.
// A click stretched to half speed and shifted far comes out smeared over several milliseconds,
// so those cases allow each click more room; the line through all of them stays the measure.
// (R2 at key +6 and half speed was measured 11 ms late or early on average: its start delay is
// not exact there, so it is left out.)
struct TimeCase {
  StretchEngine engine;
  double semitones;
  double tempo;
  double clickMsWithin;
};
class StretcherTime : public ::testing::TestWithParam<TimeCase> {};

TEST_P(StretcherTime, ClicksComeOutAtInputTimeOverTempo) {
  const auto [engine, semitones, tempo, clickMsWithin] = GetParam();
  const int64_t frames = 8 * kRate;
  const std::vector<float> in = clickTrain(frames);
  Stretcher s(kRate, 2, engine, kBlock);
  for (const char* when : {"after construction", "after reset"}) {
    if (std::string(when) == "after reset") {
      // Somewhere else in a song at other ratios first, then back to the start.
      s.setKeyTempo(-3, 1.3);
      stretch(s, in, kRate);
      s.reset();
    }
    s.setKeyTempo(semitones, tempo);
    const std::vector<float> out = stretch(s, in, int64_t(double(frames) / tempo) + kRate / 10);
    // Every click near its place, the clicks on average within 5 ms of theirs; the line fitted
    // through all of them gives the length, checked to a frame per second or, where the clicks
    // are too smeared to tell that closely, to three standard errors of the fit.
    std::vector<std::pair<double, double>> at;  // input frame, output frame
    for (int64_t c = kFirstClick; c + kRate / 20 < frames; c += kClickEvery)
      at.emplace_back(double(c), clickAt(out, double(c) / tempo));
    const double n = double(at.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0, worst = 0, offset = 0;
    for (const auto& [x, y] : at) {
      sx += x, sy += y, sxx += x * x, sxy += x * y;
      worst = std::max(worst, std::abs(y - x / tempo));
      offset += (y - x / tempo) / n;
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    const double icept = (sy - slope * sx) / n;
    double residuals = 0;
    for (const auto& [x, y] : at) residuals += std::pow(y - icept - slope * x, 2);
    const double slopeError = std::sqrt(residuals / (n - 2) / (sxx - sx * sx / n));
    const std::string what = std::string(engineName(engine)) + " key " + std::to_string(semitones) +
                             " tempo " + std::to_string(tempo) + " " + when;
    EXPECT_LT(std::abs(offset) * 1000.0 / kRate, 5.0) << what;
    EXPECT_LT(worst * 1000.0 / kRate, clickMsWithin) << what;
    const double length = slope * double(frames), want = double(frames) / tempo;
    EXPECT_NEAR(length, want, std::max(double(frames) / kRate, 3 * slopeError * double(frames)))
        << what << " (fit's standard error " << slopeError * double(frames) << " frames)";
  }
}

INSTANTIATE_TEST_SUITE_P(Ratios, StretcherTime,
                         ::testing::Values(TimeCase{StretchEngine::Finer, 0, 0.9, 5},
                                           TimeCase{StretchEngine::Finer, 2, 0.9, 5},
                                           TimeCase{StretchEngine::Finer, -6, 1.5, 10},
                                           TimeCase{StretchEngine::Finer, 6, 0.5, 15},
                                           TimeCase{StretchEngine::Faster, 0, 0.9, 5},
                                           TimeCase{StretchEngine::Faster, 2, 0.9, 5}));

// ---- The heard position: after many tempo and key changes, input pushed minus
// pendingInputFrames() is the input frame of the sound just pulled.
class StretcherPosition : public ::testing::TestWithParam<StretchEngine> {};

TEST_P(StretcherPosition, HeardPositionHoldsThroughTempoChanges) {
  const StretchEngine engine = GetParam();
  const int64_t frames = 20 * kRate;
  const std::vector<float> in = clickTrain(frames);
  Stretcher s(kRate, 2, engine, kBlock);
  std::vector<float> out;
  int64_t fed = 0;
  auto run = [&](int64_t end) { feed(s, in, fed, end, out, [&] { return fed >= end; }); };
  // Forty changes, five a second, of tempo and key across the whole range.
  constexpr double kTempi[] = {0.6, 1.4, 0.8, 1.2, 0.95, 1.5, 0.5, 1.1};
  for (int i = 0; i < 40; ++i) {
    s.setKeyTempo(double(i % 13 - 6), kTempi[i % 8]);
    run(fed + kRate / 5);
  }
  const double tempo = 0.9;
  s.setKeyTempo(2, tempo);
  run(fed + kRate / 2);  // the last change has gone through the stretcher
  for (int check = 0; check < 3; ++check) {
    const double heard = double(fed) - s.pendingInputFrames();
    const auto pulled = double(out.size() / 2);
    // The next click after the heard frame, and where it came out: at constant tempo the
    // heard input frame is that click's frame less the output between, times the tempo.
    const int64_t click =
        kFirstClick +
        (int64_t(std::ceil((heard - kFirstClick) / double(kClickEvery))) + 1) * kClickEvery;
    const double clickOut = pulled + (double(click) - heard) / tempo;
    run(fed + kRate / 2);
    const double truth = double(click) - (clickAt(out, clickOut) - pulled) * tempo;
    EXPECT_NEAR(heard, truth, 5e-3 * kRate) << engineName(engine) << " check " << check;
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, StretcherPosition,
                         ::testing::Values(StretchEngine::Finer, StretchEngine::Faster));

}  // namespace
