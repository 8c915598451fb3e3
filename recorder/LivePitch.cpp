#include "LivePitch.h"

#include <algorithm>
#include <chrono>

namespace recorder {
namespace {

constexpr size_t kBlock = 1024;  // frames the producer mixes and the worker takes at a time

}  // namespace

LivePitch::LivePitch(int rate, int seconds)
    : rate_(rate),
      samples_(1, int64_t(rate) * seconds, 0, 0),
      points_(size_t(singing::kStepsPerSecond * seconds)),
      mix_(kBlock),
      tracker_(std::make_unique<singing::PitchTracker>(rate)),
      worker_([this] { work(); }) {}

LivePitch::~LivePitch() {
  stop_.store(true, std::memory_order_release);
  wake_.notify_one();
  worker_.join();
}

void LivePitch::feed(const int16_t* frames, size_t count, int channels) {
  while (count > 0) {
    const size_t n = std::min(count, kBlock);
    for (size_t i = 0; i < n; ++i) {
      float sum = 0;
      for (int c = 0; c < channels; ++c) sum += frames[i * size_t(channels) + size_t(c)];
      mix_[i] = sum / (32768.0f * float(channels));
    }
    const int64_t taken = samples_.write(mix_.data(), int64_t(n));
    if (taken < int64_t(n)) dropped_.fetch_add(int64_t(n) - taken, std::memory_order_relaxed);
    frames += n * size_t(channels);
    count -= n;
  }
  wake_.notify_one();
}

size_t LivePitch::read(std::span<singing::PitchPoint> out) {
  const uint64_t r = pointsRead_.load(std::memory_order_relaxed);
  const uint64_t w = pointsWritten_.load(std::memory_order_acquire);
  const size_t n = size_t(std::min<uint64_t>(w - r, out.size()));
  for (size_t i = 0; i < n; ++i) out[i] = points_[(r + i) % points_.size()];
  pointsRead_.store(r + n, std::memory_order_release);
  return n;
}

void LivePitch::work() {
  std::vector<float> block(kBlock);
  std::vector<singing::PitchPoint> found(64);
  while (!stop_.load(std::memory_order_acquire)) {
    const int64_t n = samples_.read(block.data(), int64_t(block.size()));
    if (n > 0) {
      tracker_->push(block.data(), int(n));
      for (size_t k; (k = tracker_->read(found)) > 0;) {
        uint64_t w = pointsWritten_.load(std::memory_order_relaxed);
        const uint64_t r = pointsRead_.load(std::memory_order_acquire);
        for (size_t i = 0; i < k && w - r < points_.size(); ++i, ++w)
          points_[w % points_.size()] = found[i];  // a reader seconds behind loses the newest
        pointsWritten_.store(w, std::memory_order_release);
      }
      continue;
    }
    std::unique_lock lock(wakeMutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(10), [this] {
      return stop_.load(std::memory_order_acquire) || samples_.readAvailable() > 0;
    });
  }
}

}  // namespace recorder
