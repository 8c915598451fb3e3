// Decoder of the PCM files libsndfile reads (WAV, AIFF, FLAC, Ogg, ...): float frames at the
// file's own rate, exact length from the file's header, frame-exact seek. MPEG audio is left to
// Mpg123Decoder, whose length is exact after the encoder's delay and padding are taken off.
#pragma once

#include <sndfile.h>

#include <memory>
#include <string>

#include "Decoder.h"

namespace audiolib {

class SndfileDecoder final : public Decoder {
 public:
  // nullptr when libsndfile cannot read `path` or the file is MPEG audio (another decoder may
  // take it), and also, with *refusal set to checkFileFormat's code, when libsndfile reads it
  // but its rate, channels or length are past the engine's limits.
  static std::unique_ptr<SndfileDecoder> open(const std::string& path, int* refusal);

  int sampleRate() const override { return info_.samplerate; }
  int channels() const override { return info_.channels; }
  int64_t lengthFrames() const override { return info_.frames; }
  uint32_t channelType() const override;
  int64_t read(float* out, int64_t frames) override;
  bool seek(int64_t frame) override;

 private:
  struct Closer {
    void operator()(SNDFILE* f) const { sf_close(f); }
  };
  using Handle = std::unique_ptr<SNDFILE, Closer>;

  SndfileDecoder(Handle file, const SF_INFO& info) : file_(std::move(file)), info_(info) {}

  Handle file_;
  SF_INFO info_;
  int64_t position_ = 0;
};

}  // namespace audiolib
