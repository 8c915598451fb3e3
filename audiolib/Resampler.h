// Converts one channel's frames from its own rate to the device rate (libsoxr). Created on the
// window thread; process() runs on the mixing thread and allocates nothing.
#pragma once

#include <soxr.h>

#include <cstdint>
#include <memory>

namespace audiolib {

class Resampler {
 public:
  Resampler(double inRate, double outRate, int channels);
  bool valid() const { return soxr_ != nullptr; }
  // Consumes up to `inFrames` (all of them, as a rule) and writes at most `outCapacity`
  // frames; returns the frames written and sets *consumed. `in` null flushes the tail.
  int64_t process(const float* in, int64_t inFrames, float* out, int64_t outCapacity,
                  int64_t* consumed);
  // Frames held inside the resampler, in output frames (for position reporting).
  double delayOutFrames() const;
  void clear();

 private:
  struct Deleter {
    void operator()(soxr_t s) const { soxr_delete(s); }
  };
  std::unique_ptr<std::remove_pointer_t<soxr_t>, Deleter> soxr_;
  double ratio_;
};

}  // namespace audiolib
