// The vocal removers on the mixing thread: what each costs per second of 44.1 kHz stereo in
// blocks of 512 frames (the "core" counter is the fraction of one core it takes in real time) and
// the delay it adds ("latency_ms"): the side signal, (R-L)/2 on both channels, and centre
// extraction at 44.1 and 96 kHz.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "CentreExtractor.h"

namespace {

constexpr int kBlock = 512;

// One second of music-like stereo: a chord apart on each side, a sine in the centre, noise.
std::vector<float> testSignal(int rate) {
  std::mt19937 gen(11);
  std::uniform_real_distribution<float> noise(-0.05f, 0.05f);
  std::vector<float> s(size_t(rate) * 2);
  for (int f = 0; f < rate; ++f) {
    const double t = double(f) / rate, w = 2.0 * std::numbers::pi;
    const double centre = 0.3 * std::sin(w * 220.0 * t);
    s[size_t(2 * f)] = float(centre + 0.2 * std::sin(w * 130.8 * t) + noise(gen));
    s[size_t(2 * f + 1)] = float(centre + 0.2 * std::sin(w * 164.8 * t) + noise(gen));
  }
  return s;
}

void reportPerSecond(benchmark::State& state, double latencyMs) {
  state.counters["core"] = benchmark::Counter(
      1.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["latency_ms"] = latencyMs;
}

void BM_SideSignal(benchmark::State& state) {
  const int rate = 44100;
  const std::vector<float> in = testSignal(rate);
  std::vector<float> block(2 * kBlock);
  for (auto _ : state) {
    for (int at = 0; at + kBlock <= rate; at += kBlock) {
      const float* src = in.data() + 2 * at;
      for (int i = 0; i < kBlock; ++i)
        block[size_t(2 * i)] = block[size_t(2 * i + 1)] = 0.5f * (src[2 * i + 1] - src[2 * i]);
      benchmark::DoNotOptimize(block.data());
    }
  }
  reportPerSecond(state, 0.0);
}
BENCHMARK(BM_SideSignal)->Unit(benchmark::kMillisecond);

// range(0): the sample rate.
void BM_CentreExtraction(benchmark::State& state) {
  const int rate = int(state.range(0));
  audiolib::CentreExtractor x(rate, kBlock);
  const std::vector<float> in = testSignal(rate);
  std::vector<float> block(2 * kBlock);
  for (auto _ : state) {
    for (int at = 0; at + kBlock <= rate; at += kBlock) {
      std::copy(in.begin() + 2 * at, in.begin() + 2 * (at + kBlock), block.begin());
      x.process(block.data(), kBlock);
      benchmark::DoNotOptimize(block.data());
    }
  }
  reportPerSecond(state, 1000.0 * x.latencyFrames() / rate);
}
BENCHMARK(BM_CentreExtraction)
    ->ArgName("rate")
    ->Arg(44100)
    ->Arg(96000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
