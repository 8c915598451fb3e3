// Decoder of tracker modules (MOD, S3M, XM, IT and the other formats libopenmpt reads),
// rendered as interleaved float stereo at the rate the engine asks for.
#pragma once

#include <libopenmpt/libopenmpt.h>

#include <cstdint>
#include <memory>
#include <span>

#include "Decoder.h"

namespace audiolib {

class OpenmptDecoder final : public Decoder {
 public:
  // Renders the module held in `data` at `sampleRate` (8000 to 192000 Hz). `loop` repeats the
  // song for ever; `ramp` keeps libopenmpt's default volume ramping, which is off otherwise.
  // nullptr with *error set (BASS_ERROR_FILEFORM, BASS_ERROR_MEM, BASS_ERROR_ILLPARAM) when the
  // bytes are not a module libopenmpt loads, or its song lasts longer than a day.
  static std::unique_ptr<OpenmptDecoder> create(std::span<const uint8_t> data, int sampleRate,
                                                bool loop, bool ramp, int* error);

  int sampleRate() const override { return rate_; }
  int channels() const override { return 2; }
  // One pass through the song, also when looping: the player shows the song's duration, and a
  // looping song has no end to count to.
  int64_t lengthFrames() const override { return length_; }
  uint32_t channelType() const override;
  int64_t read(float* out, int64_t frames) override;
  // Module positions are row-based: the song restarts at the row that plays at `frame`, so
  // the position is close to, not exactly, the frame asked for.
  bool seek(int64_t frame) override;

 private:
  struct Deleter {
    void operator()(openmpt_module* m) const { openmpt_module_destroy(m); }
  };
  using Handle = std::unique_ptr<openmpt_module, Deleter>;

  OpenmptDecoder(Handle m, int rate, int64_t length)
      : module_(std::move(m)), rate_(rate), length_(length) {}

  Handle module_;
  int rate_;
  int64_t length_;
};

}  // namespace audiolib
