#include "effects/ChannelGain.h"

#include <cmath>

namespace audiolib {

namespace {

bool validGain(float g) {
  return std::isfinite(g) && g >= 0.0f;
}

}  // namespace

void ChannelGain::prepare(int sampleRate, int channels) {
  channels_ = channels > 0 ? channels : 1;
}

bool ChannelGain::setParameters(const void* record) {
  if (!record) return false;
  const auto& r = *static_cast<const FxChannelGain*>(record);
  if (!validGain(r.left) || !validGain(r.right)) return false;
  record_ = r;
  mailbox_.publish(record_);
  return true;
}

bool ChannelGain::getParameters(void* record) const {
  if (!record) return false;
  *static_cast<FxChannelGain*>(record) = record_;
  return true;
}

void ChannelGain::process(float* frames, size_t count) {
  mailbox_.fetch(gains_);
  // A mono stream takes the left gain. Streams with more than two channels take the left gain
  // on even channels and the right one on odd channels, so every left/right pair follows it.
  const size_t ch = size_t(channels_);
  for (size_t f = 0; f < count; ++f, frames += ch)
    for (size_t c = 0; c < ch; ++c) frames[c] *= (c & 1) ? gains_.right : gains_.left;
}

}  // namespace audiolib
