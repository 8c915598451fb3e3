#include "Resampler.h"

namespace audiolib {

Resampler::Resampler(double inRate, double outRate, int channels) : ratio_(outRate / inRate) {
  soxr_error_t err = nullptr;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  // High quality at a low delay: the song must start at once and stay in step with the other.
  soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
  const soxr_runtime_spec_t rt = soxr_runtime_spec(1);
  soxr_t s = soxr_create(inRate, outRate, unsigned(channels), &err, &io, &q, &rt);
  if (!err) soxr_.reset(s);
}

int64_t Resampler::process(const float* in, int64_t inFrames, float* out, int64_t outCapacity,
                           int64_t* consumed) {
  size_t idone = 0, odone = 0;
  soxr_process(soxr_.get(), in, size_t(in ? inFrames : 0), &idone, out, size_t(outCapacity),
               &odone);
  if (consumed) *consumed = int64_t(idone);
  return int64_t(odone);
}

double Resampler::delayOutFrames() const {
  return soxr_delay(soxr_.get());
}

void Resampler::clear() {
  soxr_clear(soxr_.get());
}

}  // namespace audiolib
