// The song's key and tempo (Rubber Band in real-time mode): one stretcher on the song bus,
// built off the mixing thread, fed and drained on it without allocating, and kept aligned so
// that the k-th frame pulled after a start or reset() is the input at time k × tempo.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace RubberBand {
class RubberBandStretcher;
}

namespace audiolib {

enum class StretchEngine { Faster /* R2 */, Finer /* R3 */ };

// Measured by bench/bench_stretch (44.1 kHz stereo, key +2, 512-frame blocks, one core of a
// shared 2-core machine; share of one core in real time, added latency at tempo 1 / 0.9):
//   Faster (R2)                6.6 %   44 / 46 ms
//   Finer (R3), short window   6.4 %   55 / 58 ms
//   Finer (R3), standard      14 %     88 / 93 ms
// R2 costs as much as R3's short window here (its pitch shift resamples) and was measured
// several cents off the key at ±6 and 11 ms off its place at key +6, half speed; R3 keeps the
// key exactly. Live: R3 with its short window, the latency a singer can still follow. The
// offline render takes the same (a file then sounds as the window plays, and it renders a
// 3-minute song at key +2 in 0.6 of the time the `rubberband` command takes with R3, where the
// standard window took 1.3 of it); the standard window (shortWindow = false) stays for a use
// that wants its finer sound at any cost.
// Formants are shifted with the key (OptionFormantPreserved was not measured; off is the
// library's default for music).
constexpr StretchEngine kLiveStretchEngine = StretchEngine::Finer;
constexpr StretchEngine kRenderStretchEngine = StretchEngine::Finer;

class Stretcher {
 public:
  static constexpr double kMinSemitones = -6.0, kMaxSemitones = 6.0;
  static constexpr double kMinTempo = 0.5, kMaxTempo = 1.5;

  // Off the mixing thread: builds Rubber Band in real-time mode for `rate` Hz and `channels`
  // interleaved channels, sized for pushes of at most `maxBlockFrames`, warmed with extreme
  // ratios so that nothing it does later on the mixing thread allocates. `shortWindow` picks
  // R3's single short window (ignored by R2); the live bus wants it, the offline render not.
  Stretcher(int rate, int channels, StretchEngine engine, int maxBlockFrames,
            bool shortWindow = true);
  ~Stretcher();
  Stretcher(const Stretcher&) = delete;
  Stretcher& operator=(const Stretcher&) = delete;

  // ---- mixing thread: no allocation, no lock, no I/O in any of these
  // Key in semitones (−6…+6) and tempo (0.5…1.5; 0.9 = slower, the song lasts 1/0.9 as
  // long); values outside are clamped.
  void setKeyTempo(double semitones, double tempo);
  // Back to rest at the current ratios; the next push() starts aligned again.
  void reset();
  // Input frames it wants before more output can come (>= 1, <= maxBlockFrames).
  int required() const;
  // Takes `frames` <= maxBlockFrames interleaved frames.
  void push(const float* interleaved, int frames);
  // Writes up to `frames` output frames; returns how many.
  int pull(float* interleaved, int frames);
  int available() const { return int(fifoFrames_); }
  // Input frames pushed whose sound has not come out of pull() yet, at the ratios now: the
  // song position the listener hears is the input consumed minus this. It is read from the
  // stretcher's state (its input window, its delay, the frames waiting here), so it never
  // drifts however often the ratios change.
  double pendingInputFrames() const;
  // Added latency at the current ratios: how far ahead of what is heard the input runs, in
  // output time, at most.
  double latencyMs() const;

  double semitones() const { return semitones_; }
  double tempo() const { return tempo_; }
  StretchEngine engine() const { return engine_; }
  int maxBlockFrames() const { return maxBlock_; }
  // Output frames the internal queue holds; pull often enough that it never fills.
  int64_t capacityFrames() const { return fifoCapacity_; }

 private:
  void applyRatios();
  void start();  // pads the start with silence and arms the drop of the start delay
  void process(const float* interleaved, int frames);  // nullptr: silence
  void drain();  // moves what Rubber Band has into the queue, dropping the start delay

  std::unique_ptr<RubberBand::RubberBandStretcher> rb_;
  StretchEngine engine_;
  int rate_;
  int channels_;
  int maxBlock_;
  double semitones_ = 0.0;
  double tempo_ = 1.0;
  bool started_ = false;  // the start pad is in
  int64_t dropLeft_ = 0;  // output frames of the start delay still to drop
  int64_t pushed_ = 0;    // input frames since the start, the pad not counted

  std::vector<float> planar_;  // channels × maxBlock_, input and output of Rubber Band
  std::vector<float*> ptrs_;
  // Interleaved output queue: Rubber Band is always drained after each push, so that its own
  // input window (which required() and pendingInputFrames() read) is known.
  int64_t fifoCapacity_ = 0;
  std::vector<float> fifo_;
  int64_t fifoRead_ = 0;
  int64_t fifoFrames_ = 0;
};

}  // namespace audiolib
