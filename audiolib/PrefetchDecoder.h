// A decoder that decodes ahead on a thread of its own, so that offline rendering decodes on
// one core while it mixes and processes on the other, and a slow disc holds up that thread
// rather than its reader. read() waits for what it asks for, or, made with `waits` false,
// returns what is there (kDecoderNotReady for nothing yet). Never called on the mixing thread.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Decoder.h"

namespace audiolib {

class PrefetchDecoder final : public Decoder {
 public:
  explicit PrefetchDecoder(std::unique_ptr<Decoder> inner, bool waits = true);
  ~PrefetchDecoder() override;

  int sampleRate() const override { return inner_->sampleRate(); }
  int channels() const override { return inner_->channels(); }
  int64_t lengthFrames() const override { return inner_->lengthFrames(); }
  void waitForLength() override { inner_->waitForLength(); }
  uint32_t channelType() const override { return inner_->channelType(); }
  int64_t read(float* out, int64_t frames) override;
  bool seek(int64_t frame) override;

 private:
  void start();
  void stop();
  void run();

  std::unique_ptr<Decoder> inner_;
  const int chans_;
  const bool waits_;
  const int64_t capacity_;       // frames
  std::vector<float> buffer_;    // ring of capacity_ frames
  int64_t head_ = 0, tail_ = 0;  // frames written / read, under mutex_
  bool ended_ = false;           // the inner decoder has no more (or failed)
  bool failed_ = false;
  bool quit_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;
};

}  // namespace audiolib
