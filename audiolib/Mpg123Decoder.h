// Decoder of MPEG audio files (MP3, and the MP1/MP2 files libmpg123 also reads): float frames
// at the file's own rate, gapless (the encoder's delay and padding taken off), with the exact
// length from a full scan and sample-exact seeks. The scan reads the whole file (seconds for
// an hour of MP3 on a slow disk), so it runs on a thread of its own on a second handle: the
// stream opens at once with the length its header tells (exact for files with a LAME/Xing
// header, else an estimate from the bit rate), which the scan then makes exact; the first
// seek after the scan moves to the scanned handle, whose frame index makes seeks quick.
#pragma once

#include <mpg123.h>

#include <atomic>
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
  ~Mpg123Decoder() override;

  int sampleRate() const override { return rate_; }
  int channels() const override { return channels_; }
  int64_t lengthFrames() const override { return length_.load(std::memory_order_acquire); }
  void waitForLength() override;
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

  struct Scan;

  Mpg123Decoder(Handle h, int rate, int channels, int64_t length);
  void startScan(const std::string& path);
  // The decoder's thread: takes the scanned handle once the scan is done.
  void adoptScannedHandle();

  // Declared before handle_: the scanned handle, once adopted, reads through the scan's file.
  std::unique_ptr<Scan> scan_;
  Handle handle_;
  int rate_;
  int channels_;
  std::atomic<int64_t> length_;
  int64_t maxFrames_;     // a day at the file's rate: reading stops there
  int64_t position_ = 0;  // the next frame read() gives
};

}  // namespace audiolib
