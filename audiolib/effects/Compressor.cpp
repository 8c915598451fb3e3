#include "effects/Compressor.h"

#include <emmintrin.h>

#include <algorithm>
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
  if (count == 0) return;
  // The reduction is 1 - ceiling / peak, finite for any sample; kept so should a NaN ever get
  // into it, rather than silence the rest of the stream.
  if (!(remaining_ >= 0.0 && remaining_ <= 1.0)) remaining_ = 0.0;
  if (remaining_ == 0.0 && quietAtMakeUp(frames, count * size_t(channels_)))
    scaleByMakeUp(frames, count * size_t(channels_));
  else if (channels_ == 2)
    limitStereo(frames, count);
  else
    limitChannels(frames, count);
  // Once the reduction left rounds away against 1 the gain is exactly the make-up gain again,
  // and a quiet stream passes as it would have without the loud passage.
  if (1.0 - remaining_ == 1.0) remaining_ = 0.0;
}

bool Compressor::quietAtMakeUp(const float* s, size_t n) const {
  // The largest magnitude decides: rounding is monotonic, so no sample then exceeds full
  // scale at the make-up gain. A NaN needs the limiter, which silences it.
  __m128 peak = _mm_setzero_ps(), nan = _mm_setzero_ps();
  const __m128 abs = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 a = _mm_and_ps(_mm_loadu_ps(s + i), abs);
    peak = _mm_max_ps(peak, a);
    nan = _mm_or_ps(nan, _mm_cmpunord_ps(a, a));
  }
  float lanes[4];
  _mm_storeu_ps(lanes, peak);
  float top = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
  bool hasNan = (_mm_movemask_ps(nan) != 0);
  for (; i < n; ++i) {
    const float a = std::fabs(s[i]);
    hasNan = hasNan || a != a;
    top = std::max(top, a);
  }
  return !hasNan && double(top) * makeUp_ <= 1.0;
}

void Compressor::scaleByMakeUp(float* s, size_t n) const {
  // Each sample is rounded once from its double product, as in the limiter's own path.
  const __m128d g = _mm_set1_pd(makeUp_);
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 x = _mm_loadu_ps(s + i);
    const __m128 lo = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(x), g));
    const __m128 hi = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(x, x)), g));
    _mm_storeu_ps(s + i, _mm_movelh_ps(lo, hi));
  }
  for (; i < n; ++i) s[i] = float(double(s[i]) * makeUp_);
}

void Compressor::limitStereo(float* frames, size_t count) {
  const __m128d g0 = _mm_set1_pd(makeUp_);
  const __m128d abs = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffff));
  const __m128d one = _mm_set1_pd(1.0), minusOne = _mm_set1_pd(-1.0);
  const __m128d inf = _mm_set1_pd(HUGE_VAL);
  const __m128d release = _mm_set_sd(release_);
  // The reduction left, 1 - gain, rides in the low lane: its decay is a single multiply per
  // frame, the only step one frame waits for from the one before.
  __m128d left = _mm_set_sd(remaining_);
  for (size_t f = 0; f < count; ++f, frames += 2) {
    const __m128d x =
        _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(frames))));
    // A NaN or an infinite sample is no peak, only a fault: it is silenced, and the gain
    // stays what the real samples around it ask for.
    const __m128d finite = _mm_cmplt_pd(_mm_and_pd(x, abs), inf);
    const __m128d a = _mm_and_pd(_mm_and_pd(_mm_mul_pd(x, g0), abs), finite);
    const __m128d peak = _mm_max_sd(_mm_unpackhi_pd(a, a), _mm_max_sd(a, _mm_setzero_pd()));
    // Release first, then the instant attack: the gain never exceeds what this frame allows.
    left = _mm_mul_sd(left, release);
    __m128d reduction = _mm_sub_sd(one, left);
    if (_mm_comigt_sd(_mm_mul_sd(peak, reduction), one)) {
      reduction = _mm_div_sd(one, peak);  // 0 for an infinite peak
      left = _mm_sub_sd(one, reduction);
    }
    __m128d y = _mm_mul_pd(x, _mm_mul_pd(g0, _mm_unpacklo_pd(reduction, reduction)));
    // Rounding of 1 / peak may leave a sample a hair above full scale.
    y = _mm_and_pd(y, finite);
    y = _mm_min_pd(_mm_max_pd(y, minusOne), one);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(frames), _mm_castps_si128(_mm_cvtpd_ps(y)));
  }
  remaining_ = _mm_cvtsd_f64(left);
}

void Compressor::limitChannels(float* frames, size_t count) {
  const size_t ch = size_t(channels_);
  double left = remaining_;
  for (size_t f = 0; f < count; ++f, frames += ch) {
    double peak = 0.0;
    for (size_t c = 0; c < ch; ++c) {
      const double a = std::fabs(double(frames[c]) * makeUp_);
      if (a > peak && std::isfinite(a)) peak = a;  // a NaN or an infinity is no peak
    }
    left *= release_;
    double reduction = 1.0 - left;
    if (peak * reduction > 1.0) {
      reduction = 1.0 / peak;
      left = 1.0 - reduction;
    }
    const double g = makeUp_ * reduction;
    for (size_t c = 0; c < ch; ++c) {
      double y = double(frames[c]) * g;
      if (!std::isfinite(y))
        y = 0.0;
      else if (y > 1.0)
        y = 1.0;
      else if (y < -1.0)
        y = -1.0;
      frames[c] = float(y);
    }
  }
  remaining_ = left;
}

}  // namespace audiolib
