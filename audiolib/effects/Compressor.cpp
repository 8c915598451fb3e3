#include "effects/Compressor.h"

#include <cmath>

namespace audiolib {

void Compressor::prepare(int sampleRate, int channels) {
  channels_ = channels > 0 ? channels : 1;
  if (sampleRate > 0) settings_.rate = uint32_t(sampleRate);
  mailbox_.publish(settings_);  // the release factor depends on the rate
}

bool Compressor::setParameters(const void* record) {
  if (!record) return false;
  const auto& r = *static_cast<const FxCompressor*>(record);
  if (!std::isfinite(r.gain) || !std::isfinite(r.release) || r.release < 0.0f) return false;
  settings_.record = r;
  mailbox_.publish(settings_);
  return true;
}

bool Compressor::getParameters(void* record) const {
  if (!record) return false;
  *static_cast<FxCompressor*>(record) = settings_.record;
  return true;
}

void Compressor::process(float* frames, size_t count) {
  if (mailbox_.fetch(current_)) {
    makeUp_ = std::pow(10.0, double(current_.record.gain) / 20.0);
    const double samples = double(current_.record.release) * 1e-3 * double(current_.rate);
    release_ = samples > 0.0 ? std::exp(-1.0 / samples) : 0.0;
  }
  const size_t ch = size_t(channels_);
  for (size_t f = 0; f < count; ++f, frames += ch) {
    double peak = 0.0;
    for (size_t c = 0; c < ch; ++c) {
      const double a = std::fabs(double(frames[c]) * makeUp_);
      if (a > peak) peak = a;  // a NaN sample is not a peak; it is silenced below
    }
    // Release first, then the instant attack: the gain never exceeds what this frame allows.
    // The reduction left decays until it rounds away, so that reduction_ becomes exactly 1
    // again and a quiet stream passes bit for bit after a loud passage.
    if (reduction_ < 1.0) reduction_ = 1.0 - (1.0 - reduction_) * release_;
    if (peak * reduction_ > 1.0) reduction_ = 1.0 / peak;  // 0 for an infinite peak
    const double g = makeUp_ * reduction_;
    for (size_t c = 0; c < ch; ++c) {
      double y = double(frames[c]) * g;
      // Rounding of 1 / peak may leave a sample a hair above full scale; an infinite sample
      // times a zero gain is NaN.
      if (y > 1.0)
        y = 1.0;
      else if (y < -1.0)
        y = -1.0;
      else if (y != y)
        y = 0.0;
      frames[c] = float(y);
    }
  }
}

}  // namespace audiolib
