// Effect type 20: the remover that keeps the band, on a stereo stream (see CentreExtractor). It
// delays the stream by the extractor's window; a stream of another channel count passes as it
// is. The player sets it in place of the side-signal remover when "Centre extraction" is chosen.
#pragma once

#include <memory>

#include "CentreExtractor.h"
#include "Effect.h"
#include "ParamMailbox.h"
#include "bass.h"

namespace audiolib {

class CentreRemover final : public Effect {
 public:
  void prepare(int sampleRate, int channels) override;
  bool setParameters(const void* record) override;
  bool getParameters(void* record) const override;
  void process(float* frames, size_t count) override;
  int latencyFrames() const override;

 private:
  std::unique_ptr<CentreExtractor> extractor_;  // null for a stream that is not stereo
  FxCentreRemover record_{0.0f, CentreExtractor::kDefaultWidth};  // window thread's copy
  ParamMailbox<FxCentreRemover> mailbox_;
  FxCentreRemover live_{0.0f, CentreExtractor::kDefaultWidth};  // mixing thread's
};

}  // namespace audiolib
