// The processing chain per second of 44.1 kHz stereo audio: the vocal remover, the 8-band
// peaking equaliser alone, and the player's whole chain on the render-on-demand device
// (decoding, both streams, both equalisers, "Compr", the channel gain and the mixer). The
// "core" counter is the fraction of one core the work takes in real time.
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "AudioPlayer.h"
#include "ControlPanel.h"
#include "Effect.h"
#include "bass.h"
#include "modDSPtest.h"

namespace {

constexpr int kRate = 44100;
constexpr int kBlock = 1024;  // frames per call, as the engine's chunks

// One second of music-like stereo: a chord apart on each side, a sine in the centre, noise.
std::vector<float> testSignal(int64_t frames) {
  std::mt19937 gen(11);
  std::uniform_real_distribution<float> noise(-0.05f, 0.05f);
  std::vector<float> s(size_t(frames) * 2);
  for (int64_t f = 0; f < frames; ++f) {
    const double t = double(f) / kRate, w = 2.0 * std::numbers::pi;
    const double centre = 0.3 * std::sin(w * 220.0 * t);
    s[size_t(2 * f)] = float(centre + 0.2 * std::sin(w * 130.8 * t) + noise(gen));
    s[size_t(2 * f + 1)] = float(centre + 0.2 * std::sin(w * 164.8 * t) + noise(gen));
  }
  return s;
}

// Seconds of audio per second of one core: time per iteration over the audio it handled.
void reportCoreFraction(benchmark::State& state, double audioSeconds) {
  state.counters["core"] = benchmark::Counter(
      audioSeconds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_VocalRemoverProc(benchmark::State& state) {
  std::vector<float> buf = testSignal(kRate);
  for (auto _ : state) {
    for (int64_t f = 0; f < kRate; f += kBlock) {
      const int64_t n = std::min<int64_t>(kBlock, kRate - f);
      VocalRemoverProc(0, 0, buf.data() + 2 * f, DWORD(n * 2 * sizeof(float)), nullptr);
    }
    // Later passes see the remover's own output; the work per frame is the same.
    benchmark::DoNotOptimize(buf.data());
    benchmark::ClobberMemory();
  }
  reportCoreFraction(state, 1.0);
}
BENCHMARK(BM_VocalRemoverProc);

void BM_PeakingEq8Bands(benchmark::State& state) {
  // The second stream's equaliser at the panel's initial positions.
  auto eq = audiolib::createEffect(kFxPeakingEq);
  eq->prepare(kRate, 2);
  const float gains[8] = {10, 10, 1, -9, -9, -9, -9, -9};
  for (int b = 0; b < 8; ++b) {
    const EqBand band{b, kRate, 2.5f, 0.0f, player::kPeakingBands[size_t(b)], gains[b]};
    eq->setParameters(&band);
  }
  const std::vector<float> in = testSignal(kRate);
  std::vector<float> buf(in.size());
  for (auto _ : state) {
    state.PauseTiming();
    buf = in;  // the same input each time keeps the filter's levels steady
    state.ResumeTiming();
    for (int64_t f = 0; f < kRate; f += kBlock)
      eq->process(buf.data() + 2 * f, size_t(std::min<int64_t>(kBlock, kRate - f)));
    benchmark::DoNotOptimize(buf.data());
    benchmark::ClobberMemory();
  }
  reportCoreFraction(state, 1.0);
}
BENCHMARK(BM_PeakingEq8Bands);

class SilentMessages final : public player::MessageSink {
 public:
  int show(int, const std::string&, const std::string&) override { return 1; }
};

// A 20-second 16-bit stereo WAV of the test signal in the temporary folder, removed at exit.
class TestSong {
 public:
  TestSong() {
    path_ = (std::filesystem::temp_directory_path() /
             ("orivelR-bench-" + std::to_string(getpid()) + ".wav"))
                .string();
    const std::vector<float> second = testSignal(kRate);
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path_.c_str(), SFM_WRITE, &info);
    if (!f) return;
    for (int s = 0; s < kSeconds; ++s) sf_writef_float(f, second.data(), kRate);
    ok_ = sf_close(f) == 0;
  }
  ~TestSong() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }
  bool ok() const { return ok_; }
  static constexpr int kSeconds = 20;

 private:
  std::string path_;
  bool ok_ = false;
};

void BM_WholeChain(benchmark::State& state) {
  static const TestSong song;
  if (!song.ok()) {
    state.SkipWithError("cannot write the test song");
    return;
  }
  BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
  if (!BASS_Init(BASS_DEVICE_NOSOUND, kRate, 0, nullptr, nullptr)) {
    state.SkipWithError("BASS_Init failed");
    return;
  }
  {
    player::ControlPanel panel;
    SilentMessages messages;
    player::AudioPlayer p(panel, messages);
    panel.setPlayer(&p);
    panel.setValue(player::Ctl::Chkrem, 1);
    if (!p.playSong(song.path())) {
      state.SkipWithError("the test song does not play");
      BASS_Free();
      return;
    }
    std::vector<float> out(size_t(kRate) * 2);
    int played = 0;  // seconds since the song started
    for (auto _ : state) {
      if (played + 1 >= TestSong::kSeconds) {
        state.PauseTiming();
        p.freeStreams();
        p.playSong(song.path());
        played = 0;
        state.ResumeTiming();
      }
      BASS_MixGetData(out.data(), DWORD(out.size() * sizeof(float)));
      benchmark::DoNotOptimize(out.data());
      ++played;
    }
    p.freeStreams();
  }
  BASS_Free();
  reportCoreFraction(state, 1.0);
}
BENCHMARK(BM_WholeChain)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
