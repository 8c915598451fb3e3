#include "LatencyProbe.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "Capture.h"
#include "Engine.h"
#include "Latency.h"
#include "bass.h"

namespace recorder {
namespace {

constexpr int kRate = 48000;
constexpr double kLeadMs = 300;  // silence before the first click, while the output settles
// The capture's first frames, before its timing has settled, are not searched.
constexpr double kSettleMs = 200;
// How long the capture is read at most past the train's end, and before the stream is heard.
constexpr double kTailMs = 700;
constexpr int kHeardTimeoutMs = 3000;
constexpr auto kPoll = std::chrono::milliseconds(10);

// The click train as a stereo float stream; the engine's feeder copies from it.
struct Clicks {
  std::vector<float> frames;  // stereo
  std::atomic<size_t> at{0};  // frames handed over
};

DWORD clicksProc(HSTREAM, void* buffer, DWORD length, void* user) {
  auto& c = *static_cast<Clicks*>(user);
  const size_t total = c.frames.size() / 2, at = c.at.load(std::memory_order_relaxed);
  const size_t n = std::min<size_t>(length / (2 * sizeof(float)), total - at);
  std::memcpy(buffer, c.frames.data() + 2 * at, n * 2 * sizeof(float));
  c.at.store(at + n, std::memory_order_relaxed);
  const DWORD bytes = DWORD(n * 2 * sizeof(float));
  return at + n >= total ? (bytes | BASS_STREAMPROC_END) : bytes;
}

}  // namespace

LatencyProbeResult measureRoundTrip(const std::string& source, const std::function<void()>& idle) {
  LatencyProbeResult result;
  singing::ClickTrain train;
  Clicks clicks;
  {
    const std::vector<float> click = singing::clickSound(kRate);
    const size_t frames = size_t((kLeadMs + train.count * train.spacingMs) * kRate / 1000);
    clicks.frames.assign(2 * frames, 0.0f);
    for (int k = 0; k < train.count; ++k) {
      const size_t at = size_t((kLeadMs + k * train.spacingMs) * kRate / 1000);
      for (size_t i = 0; i < click.size(); ++i)
        clicks.frames[2 * (at + i)] = clicks.frames[2 * (at + i) + 1] = click[i];
    }
  }

  std::string why;
  auto capture = audiolib::CaptureDevice::open(source.empty() ? audiolib::kDefaultSource : source,
                                               {kRate, 1, 16}, &why);
  if (!capture) return {std::nullopt, "no capture: " + why};
  std::vector<int16_t> heard;
  auto drain = [&] {
    int16_t block[4096];
    for (size_t n; (n = capture->read(reinterpret_cast<uint8_t*>(block), sizeof block)) > 0;)
      heard.insert(heard.end(), block, block + n / 2);
    if (idle) idle();
    std::this_thread::sleep_for(kPoll);  // the capture's ring holds seconds
  };
  // The capture starts first, so that it holds the whole train.
  int64_t captureNs0 = 0;
  for (int waited = 0; !capture->frameCapturedNs(0, &captureNs0); waited += 10) {
    if (capture->failed() || waited > kHeardTimeoutMs)
      return {std::nullopt, "the capture gave no timing"};
    drain();
  }

  const HSTREAM stream = BASS_StreamCreate(kRate, 2, BASS_SAMPLE_FLOAT, &clicksProc, &clicks);
  if (!stream) return {std::nullopt, "the clicks could not be played"};
  struct Free {
    HSTREAM h;
    ~Free() {
      BASS_ChannelStop(h);
      BASS_StreamFree(h);
    }
  } freeStream{stream};
  if (!BASS_StreamPlay(stream, FALSE, 0)) return {std::nullopt, "the clicks could not be played"};
  int64_t streamNs0 = 0;
  for (int waited = 0; !audiolib::streamFrameHeardNs(stream, 0, &streamNs0); waited += 10) {
    if (waited > kHeardTimeoutMs) return {std::nullopt, "the output gave no timing"};
    drain();
  }
  // The capture's frame the server says was taken as the stream's first frame was heard.
  const double startMs = double(streamNs0 - captureNs0) / 1e6;
  train.firstMs = startMs + kLeadMs;
  const auto endFrame =
      int64_t((train.firstMs + train.count * train.spacingMs + kTailMs) * kRate / 1000);
  while (int64_t(heard.size()) < endFrame) {
    if (capture->failed()) return {std::nullopt, "the capture stopped"};
    drain();
  }
  capture->stop();

  // The frames before the capture settled are left out of the search.
  const size_t skip = std::min(heard.size(), size_t(kSettleMs * kRate / 1000));
  std::vector<float> mono(heard.size() - skip);
  for (size_t i = 0; i < mono.size(); ++i) mono[i] = heard[skip + i] / 32768.0f;
  train.firstMs -= kSettleMs;
  result.roundTripMs = singing::findClickDelayMs(mono, kRate, train);
  if (!result.roundTripMs) result.why = "the clicks were not heard";
  return result;
}

}  // namespace recorder
