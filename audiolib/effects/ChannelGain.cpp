#include "effects/ChannelGain.h"

#include <xmmintrin.h>

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
  const float l = gains_.left, r = gains_.right;
  if (l == 1.0f && r == 1.0f) return;  // x * 1 is x
  // A mono stream takes the left gain. Streams with more than two channels take the left gain
  // on even channels and the right one on odd channels, so every left/right pair follows it.
  const size_t ch = size_t(channels_);
  if (ch == 1) {
    for (size_t i = 0; i < count; ++i) frames[i] *= l;
    return;
  }
  const size_t n = count * ch;  // even for an even channel count, so the pairs stay in step
  size_t i = 0;
  if (ch % 2 == 0) {
    const __m128 g = _mm_setr_ps(l, r, l, r);
    for (; i + 8 <= n; i += 8) {
      _mm_storeu_ps(frames + i, _mm_mul_ps(_mm_loadu_ps(frames + i), g));
      _mm_storeu_ps(frames + i + 4, _mm_mul_ps(_mm_loadu_ps(frames + i + 4), g));
    }
  }
  for (; i < n; ++i) frames[i] *= ((i % ch) & 1) ? r : l;
}

}  // namespace audiolib
