// Effect type 11: a make-up gain followed by a limiter that keeps every sample within full
// scale. The limiter has no look-ahead: the gain reduction reaches the very sample that needs
// it (instant attack, the same reduction on all channels) and returns towards unity
// exponentially with the release time.
#pragma once

#include <cstdint>

#include "Effect.h"
#include "ParamMailbox.h"
#include "bass.h"

namespace audiolib {

class Compressor final : public Effect {
 public:
  void prepare(int sampleRate, int channels) override;
  bool setParameters(const void* record) override;
  bool getParameters(void* record) const override;
  void process(float* frames, size_t count) override;

 private:
  // The limiter has nothing to do in a block that stays within full scale at the make-up
  // gain; the rest takes the limiter frame by frame.
  bool quietAtMakeUp(const float* samples, size_t n) const;
  void scaleByMakeUp(float* samples, size_t n) const;
  void limitStereo(float* frames, size_t count);
  void limitChannels(float* frames, size_t count);

  // Kept trivial (no member initialisers) for the mailbox's word-wise copy.
  struct Settings {
    uint32_t rate;
    FxCompressor record;
  };
  static constexpr Settings kDefaults{44100, {10.0f, 10.0f, 10.0f, 0.0f, 1000.0f}};

  Settings settings_ = kDefaults;  // window thread's copy
  ParamMailbox<Settings> mailbox_;

  // Mixing thread's own.
  int channels_ = 2;
  Settings current_ = kDefaults;
  double makeUp_ = 1.0;
  double release_ = 0.0;    // per-sample factor of the remaining gain reduction
  double remaining_ = 0.0;  // 1 - the limiter's present gain, 0 = none
};

}  // namespace audiolib
