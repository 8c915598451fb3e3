#include "effects/CentreRemover.h"

#include <algorithm>
#include <cmath>

namespace audiolib {

void CentreRemover::prepare(int sampleRate, int channels) {
  if (channels == 2) extractor_ = std::make_unique<CentreExtractor>(sampleRate, kMaxDelayFrames);
}

bool CentreRemover::setParameters(const void* record) {
  if (!record) return false;
  const auto& r = *static_cast<const FxCentreRemover*>(record);
  if (!(r.voice >= 0.0f && r.voice <= 1.0f) || !(r.width >= 0.0f && r.width <= 1.0f)) return false;
  record_ = r;
  mailbox_.publish(record_);
  return true;
}

bool CentreRemover::getParameters(void* record) const {
  if (!record) return false;
  *static_cast<FxCentreRemover*>(record) = record_;
  return true;
}

void CentreRemover::process(float* frames, size_t count) {
  if (!extractor_) return;
  if (mailbox_.fetch(live_)) extractor_->setWidth(live_.width);
  extractor_->process(frames, int(count), live_.voice);
}

int CentreRemover::latencyFrames() const {
  return extractor_ ? extractor_->latencyFrames() : 0;
}

}  // namespace audiolib
