// Loudness measuring speed as a multiple of real time ("x_realtime": seconds of song measured
// per second of wall clock): a 3-minute 44.1 kHz stereo WAV, the same as a 192 kb/s MP3 (made
// by lame), and a 3-minute 16-channel MIDI song rendered through the synthesizer. No cache:
// every iteration measures the whole song.
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "BenchSongs.h"
#include "Loudness.h"

namespace {

constexpr int kRate = 44100;
constexpr double kSeconds = 180;

std::filesystem::path tempPath(const std::string& name) {
  return std::filesystem::temp_directory_path() /
         ("orivelR-bench-loudness-" + std::to_string(::getpid()) + "-" + name);
}

// Three minutes of a chord with noise, written as 16-bit WAV.
std::string makeWav() {
  const std::string path = tempPath("song.wav").string();
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) return {};
  std::mt19937 gen(7);
  std::uniform_real_distribution<float> noise(-0.05f, 0.05f);
  std::vector<float> block(2 * 4096);
  const auto frames = int64_t(kSeconds * kRate);
  for (int64_t at = 0; at < frames; at += 4096) {
    for (int i = 0; i < 4096; ++i) {
      const double t = double(at + i) / kRate, w = 2 * std::numbers::pi;
      block[size_t(2 * i)] =
          float(0.3 * std::sin(w * 220 * t) + 0.2 * std::sin(w * 277 * t)) + noise(gen);
      block[size_t(2 * i + 1)] =
          float(0.3 * std::sin(w * 220 * t) + 0.2 * std::sin(w * 330 * t)) + noise(gen);
    }
    sf_writef_float(f, block.data(), 4096);
  }
  sf_close(f);
  return path;
}

struct Songs {
  std::string wav, mp3, midi;
  Songs() {
    wav = makeWav();
    mp3 = tempPath("song.mp3").string();
    if (std::system(("lame --quiet -b 192 '" + wav + "' '" + mp3 + "'").c_str()) != 0) mp3.clear();
    const std::string name = "orivelR-bench-loudness-" + std::to_string(::getpid()) + ".mid";
    midi = benchsongs::writeTemp(benchsongs::makeSong(16, int(kSeconds * 2)), name.c_str());
  }
  ~Songs() {
    std::error_code ec;
    for (const auto& p : {wav, mp3, midi})
      if (!p.empty()) std::filesystem::remove(p, ec);
  }
};

const Songs& songs() {
  static Songs s;
  return s;
}

void measure(benchmark::State& state, const std::string& path) {
  if (path.empty()) {
    state.SkipWithError("no song");
    return;
  }
  for (auto _ : state) {
    const auto lufs = audiolib::LoudnessScanner::measure(path, "", "");
    if (!lufs) {
      state.SkipWithError("not measured");
      return;
    }
    state.counters["lufs"] = *lufs;
  }
  state.counters["x_realtime"] =
      benchmark::Counter(kSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_LoudnessWav(benchmark::State& state) {
  measure(state, songs().wav);
}
void BM_LoudnessMp3(benchmark::State& state) {
  measure(state, songs().mp3);
}
void BM_LoudnessMidi(benchmark::State& state) {
  measure(state, songs().midi);
}

BENCHMARK(BM_LoudnessWav)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoudnessMp3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoudnessMidi)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
