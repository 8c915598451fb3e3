// The song's key and tempo: what the stretcher costs the mixing thread per second of 44.1 kHz
// stereo at key +2 (the "core" counter is the fraction of one core it takes in real time), and
// the latency it adds ("latency_ms") at tempo 1 and 0.9, for R2, R3 with its short window (the
// live choice) and R3 with its standard window (the offline render's choice).
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "Stretcher.h"

namespace {

using audiolib::StretchEngine;
using audiolib::Stretcher;

constexpr int kRate = 44100;
constexpr int kBlock = 512;

// One second of music-like stereo: a chord apart on each side, a sine in the centre, noise.
std::vector<float> testSignal() {
  std::mt19937 gen(11);
  std::uniform_real_distribution<float> noise(-0.05f, 0.05f);
  std::vector<float> s(size_t(kRate) * 2);
  for (int f = 0; f < kRate; ++f) {
    const double t = double(f) / kRate, w = 2.0 * std::numbers::pi;
    const double centre = 0.3 * std::sin(w * 220.0 * t);
    s[size_t(2 * f)] = float(centre + 0.2 * std::sin(w * 130.8 * t) + noise(gen));
    s[size_t(2 * f + 1)] = float(centre + 0.2 * std::sin(w * 164.8 * t) + noise(gen));
  }
  return s;
}

// range(0): 2 = R2, 3 = R3 short window, 4 = R3 standard window; range(1): tempo in percent.
void BM_Stretch(benchmark::State& state) {
  const bool r2 = state.range(0) == 2;
  Stretcher s(kRate, 2, r2 ? StretchEngine::Faster : StretchEngine::Finer, kBlock,
              state.range(0) == 3);
  const double tempo = double(state.range(1)) / 100.0;
  s.setKeyTempo(2.0, tempo);
  const std::vector<float> in = testSignal();
  std::vector<float> out(size_t(kBlock) * 2);
  for (auto _ : state) {
    // One second of output, as the song bus asks for it.
    for (int made = 0; made < kRate;) {
      while (s.available() < kBlock)
        s.push(in.data() + size_t(made % (kRate - kBlock)) * 2, s.required());
      made += s.pull(out.data(), kBlock);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["core"] = benchmark::Counter(
      1.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["latency_ms"] = s.latencyMs();
  state.counters["pending_ms"] = s.pendingInputFrames() / tempo * 1000.0 / kRate;
}
BENCHMARK(BM_Stretch)
    ->ArgNames({"engine", "tempo"})
    ->Args({2, 100})
    ->Args({2, 90})
    ->Args({3, 100})
    ->Args({3, 90})
    ->Args({4, 100})
    ->Args({4, 90})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
