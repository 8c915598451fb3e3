// Converts one channel's frames from its own rate to the device rate (libsoxr). Created and
// primed on the window thread; process() and finish() run on the mixing thread.
//
// libsoxr grows its buffers as the sizes it is given change, and its end-of-input flush
// allocates too. So the mixing thread gives it frames in one fixed chunk size only, the
// resampler is run here on enough silence in that size for its buffers to reach their
// steady size (that silence is never heard), and the end of the input is padded with
// silence instead of flushed, the output cut at the frame the input's end maps to.
#pragma once

#include <soxr.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace audiolib {

class Resampler {
 public:
  Resampler(double inRate, double outRate, int channels);
  bool valid() const { return soxr_ != nullptr; }

  // Input frames of every process() call (the last one of a stream may be shorter).
  static int64_t chunkFrames(double inRate, double outRate);
  // Most frames one process() or finish() call writes.
  static int64_t maxOutputFrames(double inRate, double outRate);
  int64_t chunk() const { return chunk_; }

  // Takes `frames` (at most chunk(); fewer only at the input's end, which it then is) and
  // writes at most maxOutputFrames() frames to `out`; returns how many.
  int64_t process(const float* in, int64_t frames, float* out);
  // After the input's end: writes what is still inside; 0 once everything is out.
  int64_t finish(float* out);
  // Frames held inside the resampler, in output frames (for position reporting).
  double delayOutFrames() const;

 private:
  int64_t run(const float* in, float* out);

  struct Deleter {
    void operator()(soxr_t s) const { soxr_delete(s); }
  };
  std::unique_ptr<std::remove_pointer_t<soxr_t>, Deleter> soxr_;
  double ratio_;
  int channels_;
  int64_t chunk_;
  int64_t maxOut_;
  int64_t discard_ = 0;        // output frames of the priming silence still to drop
  int64_t inFrames_ = 0;       // real input frames given
  int64_t outFrames_ = 0;      // real output frames returned
  bool inputEnded_ = false;    // the rest of the chunks are padding
  std::vector<float> padded_;  // one chunk, for the last short one and the padding
};

}  // namespace audiolib
