#include "effects/Delay.h"

#include <algorithm>

namespace audiolib {

void Delay::prepare(int, int channels) {
  channels_ = std::max(channels, 1);
  ring_.assign(size_t(kMaxDelayFrames) * size_t(channels_), 0.0f);
}

bool Delay::setParameters(const void* record) {
  if (!record) return false;
  const auto& r = *static_cast<const FxDelay*>(record);
  if (r.frames < 0 || r.frames > kMaxDelayFrames) return false;
  record_ = r;
  mailbox_.publish(record_);
  return true;
}

bool Delay::getParameters(void* record) const {
  if (!record) return false;
  *static_cast<FxDelay*>(record) = record_;
  return true;
}

void Delay::process(float* frames, size_t count) {
  FxDelay next{frames_};
  if (mailbox_.fetch(next) && next.frames != frames_) {
    // A new length starts from silence: what the ring held belonged to the old one.
    std::fill(ring_.begin(), ring_.end(), 0.0f);
    frames_ = next.frames;
    at_ = 0;
  }
  if (frames_ == 0) return;
  const size_t c = size_t(channels_);
  for (size_t f = 0; f < count; ++f) {
    float* slot = &ring_[at_ * c];
    for (size_t k = 0; k < c; ++k) std::swap(slot[k], frames[f * c + k]);
    if (++at_ == size_t(frames_)) at_ = 0;
  }
}

}  // namespace audiolib
