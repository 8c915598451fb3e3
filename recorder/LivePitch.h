// The singer's pitch while the take records: the take's writer hands each block it reads from
// the capture to `feed` (a copy into a single-producer ring: no lock, no allocation), and a
// worker of its own runs the pitch tracker on it at its 10 ms step. The window reads the
// estimates (`read`), each with the capture frame it is centred on, and maps that frame to
// song time itself (the frame's capture time minus the song's start as heard, minus the
// measured round trip).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "PitchTracker.h"
#include "RingBuffer.h"

namespace recorder {

class LivePitch {
 public:
  // `rate` of the capture; the rings hold `seconds` of samples and of estimates.
  explicit LivePitch(int rate, int seconds = 4);
  ~LivePitch();
  LivePitch(const LivePitch&) = delete;
  LivePitch& operator=(const LivePitch&) = delete;

  // The producer (one thread): interleaved 16-bit frames of `channels`, mixed to mono. What
  // does not fit (the worker fell seconds behind) is dropped and counted.
  void feed(const int16_t* frames, size_t count, int channels);
  // The reader (one thread): moves up to out.size() estimates, oldest first; returns how many.
  size_t read(std::span<singing::PitchPoint> out);
  int64_t droppedFrames() const { return dropped_.load(std::memory_order_relaxed); }
  int rate() const { return rate_; }

 private:
  void work();

  int rate_;
  audiolib::RingBuffer samples_;             // fed frames, mono
  std::vector<singing::PitchPoint> points_;  // estimates, a single-producer ring
  std::atomic<uint64_t> pointsWritten_{0}, pointsRead_{0};
  std::vector<float> mix_;  // the producer's mono block
  std::unique_ptr<singing::PitchTracker> tracker_;
  std::atomic<int64_t> dropped_{0};
  std::atomic<bool> stop_{false};
  std::mutex wakeMutex_;  // the worker sleeps on it; the producer only notifies
  std::condition_variable wake_;
  std::thread worker_;
};

}  // namespace recorder
