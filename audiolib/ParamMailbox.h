// A single-writer, single-reader mailbox for a small trivially copyable value: the window
// thread publishes, the mixing thread fetches the latest complete value without waiting
// (a sequence lock over atomic words).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace audiolib {

template <class T>
class ParamMailbox {
  static_assert(std::is_trivially_copyable_v<T>);
  static constexpr size_t kWords = (sizeof(T) + 3) / 4;

 public:
  // Writer side (one thread at a time).
  void publish(const T& value) {
    std::array<uint32_t, kWords> raw{};
    std::memcpy(raw.data(), &value, sizeof(T));
    const uint32_t s = seq_.load(std::memory_order_relaxed);
    seq_.store(s + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (size_t i = 0; i < kWords; ++i) words_[i].store(raw[i], std::memory_order_relaxed);
    seq_.store(s + 2, std::memory_order_release);
  }

  // Reader side: true and `out` filled when a complete value newer than the last one fetched
  // is there; false when nothing changed or a write is under way (try again next block).
  bool fetch(T& out) {
    const uint32_t s1 = seq_.load(std::memory_order_acquire);
    if (s1 == seen_ || (s1 & 1u)) return false;
    std::array<uint32_t, kWords> raw;
    for (size_t i = 0; i < kWords; ++i) raw[i] = words_[i].load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (seq_.load(std::memory_order_relaxed) != s1) return false;
    std::memcpy(&out, raw.data(), sizeof(T));
    seen_ = s1;
    return true;
  }

 private:
  std::atomic<uint32_t> seq_{0};
  std::array<std::atomic<uint32_t>, kWords> words_{};
  uint32_t seen_ = 0;  // reader's own
};

}  // namespace audiolib
