// The singer's pitch: an estimate every 10 ms of a mono signal, 65 to 1000 Hz, 0 Hz where the
// signal has no clear pitch (silence, noise, breath). Built off the audio thread with every
// buffer sized; `push` and `read` then run on the analysis worker without allocating.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace singing {

constexpr double kMinPitchHz = 65.0;
constexpr double kMaxPitchHz = 1000.0;
constexpr int kStepsPerSecond = 100;  // one estimate every 10 ms

struct PitchPoint {
  int64_t sample = 0;    // the input sample the estimate is centred on
  float hz = 0;          // 0 = no pitch
  float confidence = 0;  // 0..1 (for the YIN methods: 1 - the normalised dip)
};

enum class PitchMethod {
  Yin,     // our own YIN on the signal decimated to about 20 kHz, direct difference function
  YinFft,  // aubio's "yinfft" on a 2048-sample window at the input rate
};

class PitchTracker {
 public:
  // `capacity` estimates are held until read; later ones are dropped (and counted).
  explicit PitchTracker(int rate, PitchMethod method = PitchMethod::Yin, size_t capacity = 256);
  ~PitchTracker();
  PitchTracker(const PitchTracker&) = delete;
  PitchTracker& operator=(const PitchTracker&) = delete;

  // Takes `n` more samples of the signal and analyses every 10 ms step that became complete.
  void push(const float* samples, int n);
  // Moves up to out.size() pending estimates, oldest first, into `out`; returns how many.
  size_t read(std::span<PitchPoint> out);
  // Pending estimates.
  size_t available() const { return count_; }
  uint64_t dropped() const { return dropped_; }

  int rate() const { return rate_; }
  // Samples after an estimate's centre the tracker needs before it can give it (the delay of
  // the analysis, not counting the wait for the next 10 ms step).
  int lookahead() const { return lookahead_; }
  // Input samples written into the estimates' `sample` field before the first one pushed: an
  // offline caller that wants estimates on the 10 ms grid of its signal pushes this many zeros
  // first (0 for Yin, whose steps are on that grid already).
  int gridPadding() const { return gridPadding_; }

 private:
  struct Yin;
  struct Aubio;
  void record(int64_t sample, float hz, float confidence);

  int rate_;
  PitchMethod method_;
  int lookahead_ = 0;
  int gridPadding_ = 0;
  std::unique_ptr<Yin> yin_;
  std::unique_ptr<Aubio> aubio_;
  std::vector<PitchPoint> queue_;  // ring of estimates
  size_t head_ = 0, count_ = 0;
  uint64_t dropped_ = 0;
};

// The pitch of a whole signal on its 10 ms grid: point k is centred on sample
// round(k * rate / 100) (for YinFft: k * (rate / 100)), up to the signal's end.
std::vector<PitchPoint> trackPitch(const std::vector<float>& mono, int rate,
                                   PitchMethod method = PitchMethod::Yin);

// MIDI key number (fractional) of a frequency; 69 = 440 Hz.
double hzToKey(double hz);
double keyToHz(double key);

}  // namespace singing
