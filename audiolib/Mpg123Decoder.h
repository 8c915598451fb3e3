// Decoder of MPEG audio files (MP3, and the MP1/MP2 files libmpg123 also reads): float frames
// at the file's own rate, gapless (the encoder's delay and padding taken off), with the exact
// length from a full scan and sample-exact seeks.
#pragma once

#include <mpg123.h>

#include <cstdint>
#include <memory>
#include <string>

#include "Decoder.h"

namespace audiolib {

class Mpg123Decoder final : public Decoder {
 public:
  // nullptr when `path` is not MPEG audio that decodes, and also, with *refusal set to
  // checkFileFormat's code, when it is but is longer than the engine takes.
  static std::unique_ptr<Mpg123Decoder> open(const std::string& path, int* refusal);

  int sampleRate() const override { return rate_; }
  int channels() const override { return channels_; }
  int64_t lengthFrames() const override { return length_; }
  uint32_t channelType() const override;
  int64_t read(float* out, int64_t frames) override;
  bool seek(int64_t frame) override;

 private:
  struct Deleter {
    void operator()(mpg123_handle* h) const {
      mpg123_close(h);
      mpg123_delete(h);
    }
  };
  using Handle = std::unique_ptr<mpg123_handle, Deleter>;

  Mpg123Decoder(Handle h, int rate, int channels, int64_t length)
      : handle_(std::move(h)), rate_(rate), channels_(channels), length_(length) {}

  Handle handle_;
  int rate_;
  int channels_;
  int64_t length_;
};

}  // namespace audiolib
