#include "PrefetchDecoder.h"

#include <algorithm>
#include <cstring>

namespace audiolib {

namespace {
constexpr int64_t kPrefetchFrames = 1 << 16;  // about 1.5 s at 44.1 kHz
constexpr int64_t kDecodeChunk = 4096;
}  // namespace

PrefetchDecoder::PrefetchDecoder(std::unique_ptr<Decoder> inner, bool waits)
    : inner_(std::move(inner)),
      chans_(inner_->channels()),
      waits_(waits),
      capacity_(kPrefetchFrames),
      buffer_(size_t(kPrefetchFrames * chans_)) {
  start();
}

PrefetchDecoder::~PrefetchDecoder() {
  stop();
}

void PrefetchDecoder::start() {
  quit_ = false;
  thread_ = std::thread([this] { run(); });
}

void PrefetchDecoder::stop() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void PrefetchDecoder::run() {
  std::vector<float> chunk(size_t(kDecodeChunk * chans_));
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return quit_ || capacity_ - (head_ - tail_) >= kDecodeChunk; });
      if (quit_) return;
    }
    // Decoding runs without the lock; only this thread writes past head_.
    const int64_t got = inner_->read(chunk.data(), kDecodeChunk);
    std::unique_lock lock(mutex_);
    if (got <= 0) {
      ended_ = true;
      failed_ = got < 0;
      changed_.notify_all();
      return;
    }
    for (int64_t f = 0; f < got;) {
      const int64_t at = (head_ + f) % capacity_;
      const int64_t n = std::min(got - f, capacity_ - at);
      std::memcpy(&buffer_[size_t(at * chans_)], &chunk[size_t(f * chans_)],
                  size_t(n * chans_) * sizeof(float));
      f += n;
    }
    head_ += got;
    changed_.notify_all();
  }
}

int64_t PrefetchDecoder::read(float* out, int64_t frames) {
  std::unique_lock lock(mutex_);
  if (waits_) changed_.wait(lock, [&] { return head_ - tail_ >= frames || ended_; });
  const int64_t n = std::min(frames, head_ - tail_);
  if (n == 0 && !ended_) return kDecoderNotReady;
  if (n == 0) return failed_ ? -1 : 0;
  for (int64_t f = 0; f < n;) {
    const int64_t at = (tail_ + f) % capacity_;
    const int64_t m = std::min(n - f, capacity_ - at);
    std::memcpy(out + f * chans_, &buffer_[size_t(at * chans_)],
                size_t(m * chans_) * sizeof(float));
    f += m;
  }
  tail_ += n;
  changed_.notify_all();
  return n;
}

bool PrefetchDecoder::seek(int64_t frame) {
  stop();
  const bool ok = inner_->seek(frame);
  head_ = tail_ = 0;
  ended_ = failed_ = false;
  start();
  return ok;
}

}  // namespace audiolib
