// Effect type 4: the linear gains of a stream's two channels (0 mutes a channel). The player
// uses it as the level of the unprocessed path of its bass boost.
#pragma once

#include "Effect.h"
#include "ParamMailbox.h"
#include "bass.h"

namespace audiolib {

class ChannelGain final : public Effect {
 public:
  void prepare(int sampleRate, int channels) override;
  bool setParameters(const void* record) override;
  bool getParameters(void* record) const override;
  void process(float* frames, size_t count) override;

 private:
  FxChannelGain record_{1.0f, 1.0f};  // window thread's copy
  ParamMailbox<FxChannelGain> mailbox_;

  // Mixing thread's own.
  int channels_ = 2;
  FxChannelGain gains_{1.0f, 1.0f};
};

}  // namespace audiolib
