// Effect type 21: a plain delay of up to kMaxDelayFrames frames, so that a stream stays in step
// with one that an effect with a latency delays (the bass path beside the centre remover).
#pragma once

#include <vector>

#include "Effect.h"
#include "ParamMailbox.h"
#include "bass.h"

namespace audiolib {

class Delay final : public Effect {
 public:
  void prepare(int sampleRate, int channels) override;
  bool setParameters(const void* record) override;
  bool getParameters(void* record) const override;
  void process(float* frames, size_t count) override;
  int latencyFrames() const override { return record_.frames; }

 private:
  FxDelay record_{0};  // window thread's copy
  ParamMailbox<FxDelay> mailbox_;
  // Mixing thread's: a ring of kMaxDelayFrames frames, sized in prepare().
  int channels_ = 2;
  int frames_ = 0;
  std::vector<float> ring_;
  size_t at_ = 0;  // the ring's frame that is read and then written next
};

}  // namespace audiolib
