// Lock-free single-producer single-consumer queues: RingBuffer carries decoded frames from the
// feeder thread to the mixing thread; SpscQueue carries small commands and events.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

namespace audiolib {

class RingBuffer {
 public:
  // `startFrame` is the stream position of the first frame written; `id` orders the rings of
  // one channel so that the engine knows which ones the mixing thread has let go.
  RingBuffer(int channels, int64_t capacityFrames, int64_t startFrame, uint64_t id)
      : channels_(channels),
        capacity_(capacityFrames),
        data_(size_t(capacityFrames * channels)),
        startFrame_(startFrame),
        id_(id) {}

  int channels() const { return channels_; }
  int64_t capacity() const { return capacity_; }
  int64_t startFrame() const { return startFrame_; }
  uint64_t id() const { return id_; }

  // Producer side.
  int64_t writeSpace() const {
    return capacity_ -
           (written_.load(std::memory_order_relaxed) - read_.load(std::memory_order_acquire));
  }
  int64_t write(const float* frames, int64_t count) {
    const int64_t w = written_.load(std::memory_order_relaxed);
    count = std::min(count, writeSpace());
    copyIn(w % capacity_, frames, count);
    written_.store(w + count, std::memory_order_release);
    return count;
  }
  void setEof() { eof_.store(true, std::memory_order_release); }
  int64_t totalWritten() const { return written_.load(std::memory_order_acquire); }

  // Consumer side.
  int64_t readAvailable() const {
    return written_.load(std::memory_order_acquire) - read_.load(std::memory_order_relaxed);
  }
  int64_t read(float* frames, int64_t count) {
    const int64_t r = read_.load(std::memory_order_relaxed);
    count = std::min(count, readAvailable());
    copyOut(r % capacity_, frames, count);
    read_.store(r + count, std::memory_order_release);
    return count;
  }
  // True once the producer has written the last frame of the stream.
  bool eof() const { return eof_.load(std::memory_order_acquire); }

  // Either side, for copying what is buffered but not yet consumed (nobody consuming).
  int64_t peek(float* frames, int64_t count) const {
    const int64_t r = read_.load(std::memory_order_acquire);
    count = std::min(count, written_.load(std::memory_order_acquire) - r);
    copyOut(r % capacity_, frames, count);
    return count;
  }

 private:
  void copyIn(int64_t at, const float* src, int64_t count) {
    const int64_t first = std::min(count, capacity_ - at);
    std::memcpy(&data_[size_t(at * channels_)], src, size_t(first * channels_) * sizeof(float));
    std::memcpy(data_.data(), src + first * channels_,
                size_t((count - first) * channels_) * sizeof(float));
  }
  void copyOut(int64_t at, float* dst, int64_t count) const {
    const int64_t first = std::min(count, capacity_ - at);
    std::memcpy(dst, &data_[size_t(at * channels_)], size_t(first * channels_) * sizeof(float));
    std::memcpy(dst + first * channels_, data_.data(),
                size_t((count - first) * channels_) * sizeof(float));
  }

  const int channels_;
  const int64_t capacity_;
  std::vector<float> data_;
  const int64_t startFrame_;
  const uint64_t id_;
  std::atomic<int64_t> written_{0};
  std::atomic<int64_t> read_{0};
  std::atomic<bool> eof_{false};
};

// Fixed-capacity queue of trivially copyable items; one producer, one consumer at a time.
template <class T, size_t N>
class SpscQueue {
 public:
  bool push(const T& item) {
    const size_t h = head_.load(std::memory_order_relaxed);
    if (h - tail_.load(std::memory_order_acquire) >= N) return false;
    items_[h % N] = item;
    head_.store(h + 1, std::memory_order_release);
    return true;
  }
  bool pop(T& item) {
    const size_t t = tail_.load(std::memory_order_relaxed);
    if (t == head_.load(std::memory_order_acquire)) return false;
    item = items_[t % N];
    tail_.store(t + 1, std::memory_order_release);
    return true;
  }

 private:
  std::array<T, N> items_{};
  std::atomic<size_t> head_{0};
  std::atomic<size_t> tail_{0};
};

}  // namespace audiolib
