// When a frame of a running device meets the world: the output's frames reach the listener,
// the capture's frames left the microphone. The device's own thread publishes one reference
// pair (a frame index and its time on the monotonic clock) after each period; any thread reads
// it without a lock and counts from it at the device's rate.
#pragma once

#include <time.h>

#include <atomic>
#include <cstdint>

namespace audiolib {

inline int64_t monotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

class FrameClock {
 public:
  // Device thread only: frame `frame` meets the world at `ns`.
  void publish(int64_t frame, int64_t ns) {
    const uint32_t s = seq_.load(std::memory_order_relaxed);
    seq_.store(s + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    frame_.store(frame, std::memory_order_relaxed);
    ns_.store(ns, std::memory_order_relaxed);
    seq_.store(s + 2, std::memory_order_release);
  }
  void reset() { publish(-1, 0); }

  // Any thread: the time of `frame` at `rate` frames per second; false before the device
  // published anything.
  bool timeOf(int64_t frame, int rate, int64_t* ns) const {
    int64_t f, t;
    for (;;) {
      const uint32_t s0 = seq_.load(std::memory_order_acquire);
      f = frame_.load(std::memory_order_relaxed);
      t = ns_.load(std::memory_order_relaxed);
      std::atomic_thread_fence(std::memory_order_acquire);
      if ((s0 & 1) == 0 && seq_.load(std::memory_order_relaxed) == s0) break;
    }
    if (f < 0 || rate <= 0) return false;
    *ns = t + (frame - f) * 1'000'000'000 / rate;
    return true;
  }

 private:
  std::atomic<uint32_t> seq_{0};
  std::atomic<int64_t> frame_{-1};
  std::atomic<int64_t> ns_{0};
};

}  // namespace audiolib
