// The singer's pitch: the cost of our own YIN and of aubio's YIN-FFT per second of audio as a
// share of one core, their accuracy on steady tones and on a spoken voice (espeak-ng), and
// their delay from a tone's onset to its first estimate.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "PitchTracker.h"

namespace {

using singing::PitchMethod;

constexpr int kRate = 44100;

std::vector<float> harmonicTone(double hz, int rate, double seconds, double onset = 0) {
  std::vector<float> x(size_t(seconds * rate));
  for (size_t i = size_t(onset * rate); i < x.size(); ++i) {
    double v = 0;
    for (int h = 1; h <= 4; ++h)
      v += std::sin(2 * std::numbers::pi * hz * h * double(i) / rate) / h;
    x[i] = float(0.24 * v);
  }
  return x;
}

// This thread's processor time: the share of one core, whatever else the machine runs.
double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

PitchMethod methodOf(const benchmark::State& state) {
  return state.range(0) == 0 ? PitchMethod::Yin : PitchMethod::YinFft;
}

// One second of a voice-like glide, streamed in 10 ms blocks as the capture worker does.
void BM_PitchCost(benchmark::State& state) {
  std::vector<float> x(kRate);
  double phase = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    phase += 2 * std::numbers::pi * (150 + 150 * double(i) / kRate) / kRate;
    x[i] = float(0.3 * std::sin(phase) + 0.1 * std::sin(2 * phase));
  }
  singing::PitchTracker tracker(kRate, methodOf(state));
  std::vector<singing::PitchPoint> out(256);
  double seconds = 0;
  for (auto _ : state) {
    const double start = threadSeconds();
    for (size_t at = 0; at < x.size(); at += 441) {
      tracker.push(x.data() + at, int(std::min<size_t>(441, x.size() - at)));
      benchmark::DoNotOptimize(tracker.read(out));
    }
    seconds += threadSeconds() - start;
  }
  state.counters["core_pct"] = 100.0 * seconds / double(state.iterations());
}
BENCHMARK(BM_PitchCost)->Arg(0)->Arg(1)->ArgName("yin0_yinfft1")->Unit(benchmark::kMillisecond);

// Steady harmonic tones from 65 to 988 Hz: mean and worst error in cents, and the voiced share
// after the first 50 ms.
void BM_PitchSteadyTones(benchmark::State& state) {
  double sum = 0, worst = 0;
  int voiced = 0, steps = 0;
  for (auto _ : state) {
    sum = worst = 0;
    voiced = steps = 0;
    for (double hz : {65.4, 110.0, 146.8, 196.0, 261.6, 329.6, 440.0, 523.3, 659.3, 784.0, 987.8}) {
      for (const auto& p :
           singing::trackPitch(harmonicTone(hz, kRate, 1.0), kRate, methodOf(state))) {
        if (p.sample < kRate / 20 || p.sample > kRate * 95 / 100) continue;
        ++steps;
        if (p.hz <= 0) continue;
        ++voiced;
        const double e = std::abs(1200 * std::log2(p.hz / hz));
        sum += e;
        worst = std::max(worst, e);
      }
    }
  }
  state.counters["mean_cents"] = voiced ? sum / voiced : 0;
  state.counters["worst_cents"] = worst;
  state.counters["voiced_pct"] = 100.0 * voiced / std::max(1, steps);
}
BENCHMARK(BM_PitchSteadyTones)->Arg(0)->Arg(1)->ArgName("yin0_yinfft1")->Iterations(1);

// From a tone's onset after silence to the moment its first right estimate could be read:
// the analysis window's lookahead plus what the 10 ms steps and the gate add.
void BM_PitchDelay(benchmark::State& state) {
  const auto x = harmonicTone(220, kRate, 1.0, 0.5);
  double delayMs = 0;
  for (auto _ : state) {
    singing::PitchTracker tracker(kRate, methodOf(state));
    std::vector<singing::PitchPoint> out(64);
    delayMs = -1;
    for (size_t at = 0; at < x.size() && delayMs < 0; at += 32) {
      tracker.push(x.data() + at, 32);
      const size_t n = tracker.read(out);
      for (size_t i = 0; i < n; ++i)
        if (std::abs(1200 * std::log2(std::max(out[i].hz, 1.f) / 220.0)) < 50 && delayMs < 0)
          delayMs = (double(at + 32) - 0.5 * kRate) * 1000.0 / kRate;
    }
  }
  singing::PitchTracker t(kRate, methodOf(state));
  state.counters["onset_to_estimate_ms"] = delayMs;
  state.counters["lookahead_ms"] = t.lookahead() * 1000.0 / kRate;
}
BENCHMARK(BM_PitchDelay)->Arg(0)->Arg(1)->ArgName("yin0_yinfft1")->Iterations(1);

std::vector<float> spokenVoice(int& rate) {
  const auto path = std::filesystem::temp_directory_path() / "orivelR-bench-voice.wav";
  const std::string command =
      "espeak-ng -w '" + path.string() +
      "' 'The singer follows the words on the screen, and the notes rise and fall with the "
      "tune of the song, from the first verse to the last chorus.' 2>/dev/null";
  std::vector<float> x;
  rate = 0;
  if (std::system(command.c_str()) != 0) return x;
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return x;
  std::vector<float> frame(size_t(info.channels));
  while (sf_readf_float(f, frame.data(), 1) == 1) x.push_back(frame[0]);
  sf_close(f);
  std::filesystem::remove(path);
  rate = info.samplerate;
  return x;
}

// A spoken voice: the voiced share, the jitter (median change between neighbouring voiced
// steps, in cents) and how often the two trackers agree within 50 cents where both hear a
// pitch. Speech glides, so jitter is an upper bound on the tracker's own noise.
void BM_PitchSpokenVoice(benchmark::State& state) {
  int rate = 0;
  const auto voice = spokenVoice(rate);
  if (voice.empty()) {
    state.SkipWithError("espeak-ng did not speak");
    return;
  }
  std::vector<singing::PitchPoint> mine, other;
  for (auto _ : state) {
    mine = singing::trackPitch(voice, rate, methodOf(state));
    other = singing::trackPitch(
        voice, rate, methodOf(state) == PitchMethod::Yin ? PitchMethod::YinFft : PitchMethod::Yin);
  }
  int voiced = 0, both = 0, agree = 0;
  std::vector<double> jumps;
  for (size_t i = 0; i < mine.size(); ++i) {
    if (mine[i].hz <= 0) continue;
    ++voiced;
    if (i > 0 && mine[i - 1].hz > 0)
      jumps.push_back(std::abs(1200 * std::log2(mine[i].hz / mine[i - 1].hz)));
    if (i < other.size() && other[i].hz > 0) {
      ++both;
      if (std::abs(1200 * std::log2(mine[i].hz / other[i].hz)) < 50) ++agree;
    }
  }
  std::sort(jumps.begin(), jumps.end());
  state.counters["voiced_pct"] = 100.0 * voiced / double(std::max<size_t>(1, mine.size()));
  state.counters["jitter_cents"] = jumps.empty() ? 0 : jumps[jumps.size() / 2];
  state.counters["agree_pct"] = 100.0 * agree / std::max(1, both);
  state.counters["seconds"] = double(voice.size()) / rate;
}
BENCHMARK(BM_PitchSpokenVoice)->Arg(0)->Arg(1)->ArgName("yin0_yinfft1")->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
