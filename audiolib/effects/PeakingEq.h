// Effect type 5: a peaking equaliser of up to kMaxBands bands, one EqBand record per band
// index. Each band is a biquad peaking filter (bandwidth in octaves, or Q when given) run in
// double precision with its own state per channel.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "Effect.h"
#include "ParamMailbox.h"
#include "bass.h"
#include "effects/BiquadCascade.h"

namespace audiolib {

class PeakingEq final : public Effect {
 public:
  static constexpr int kMaxBands = kMaxCascade;

  PeakingEq();
  void prepare(int sampleRate, int channels) override;
  bool setParameters(const void* record) override;
  bool getParameters(void* record) const override;
  void process(float* frames, size_t count) override;

 private:
  // What the window thread hands to the mixing thread: the whole band table. Kept trivial
  // (no member initialisers) for the mailbox's word-wise copy.
  struct Settings {
    uint32_t rate;  // the prepared rate, for bands whose record gives none
    uint32_t used;  // bit i: band i has a record
    std::array<EqBand, kMaxBands> bands;
  };
  void recompute(const Settings& s);
  void processStereo(float* frames, size_t count);
  void processChannels(float* frames, size_t count);

  Settings settings_{44100, 0, {}};  // window thread's copy
  ParamMailbox<Settings> mailbox_;

  // Mixing thread's own. state_ holds {z1, z2} per band index and channel, sized in prepare();
  // a block works on copies of the active bands' states in their order.
  int channels_ = 2;
  Settings current_{44100, 0, {}};
  std::array<int, kMaxBands> active_{};           // indices of the bands that change the signal
  std::array<Biquad, kMaxBands> activeCoeffs_{};  // of active_[k], in the same order
  int activeCount_ = 0;
  std::vector<std::array<double, 2>> state_;
};

}  // namespace audiolib
