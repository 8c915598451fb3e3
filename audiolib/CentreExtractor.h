// The remover that keeps the band: takes out of a stereo song what sits in the centre (the same
// level and phase on both channels: the singer) and leaves everything panned to a side, the bass
// below a low cut and the cymbals above a high cut, in stereo.
//
// A short-time Fourier transform of both channels (a window of about 46 ms, hop a quarter of it,
// square-root Hann on analysis and synthesis, so an untouched signal comes back exactly). In each
// bin, averaged over a few hops: the power the channels have in common, Re(L·R*), and each
// channel's power. Where the common part is central (a single sound panned with gains gL > gR
// leaves only gR/gL of the common power on its quieter side, a centred one all of it), a soft
// mask takes from each channel the common part's share of its power (a Wiener gain): a part on
// one side that shares a bin with the singer keeps most of its level and stays on its side.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

namespace audiolib {

class CentreExtractor {
 public:
  static constexpr float kDefaultWidth = 0.5f;
  static constexpr float kDefaultLowCutHz = 120.0f;
  static constexpr float kDefaultHighCutHz = 12000.0f;

  // Off the mixing thread: plans the FFTs and sizes every buffer. process() takes blocks of any
  // length (it works a hop at a time); maxBlockFrames is kept for callers that size their own.
  CentreExtractor(int sampleRate, int maxBlockFrames);
  ~CentreExtractor();
  CentreExtractor(const CentreExtractor&) = delete;
  CentreExtractor& operator=(const CentreExtractor&) = delete;

  // ---- mixing thread: no allocation, lock or I/O.
  // In place: `count` interleaved stereo frames in, as many out, delayed by latencyFrames().
  // `voice` 0..1 blends the equally delayed original back:
  // out = (1 - voice) * extracted + voice * original. It is taken at each hop, and the overlap of
  // the hops fades a change in.
  void process(float* frames, int count, float voice = 0.0f);
  // Back to silence, as after a seek.
  void reset();
  // The fixed delay process() adds: one window.
  int latencyFrames() const { return size_; }
  int windowFrames() const { return size_; }
  int maxBlockFrames() const { return maxBlock_; }

  // Read at each hop. Width 0..1: how close to the centre a sound must be to go (0: only the exact
  // centre; the default takes sounds within about 1.7 dB of the centre and keeps those more than
  // about 4.3 dB to a side; 1 reaches sounds 12 dB to a side). Nothing below the low cut and
  // nothing above the high cut is removed.
  void setWidth(float width);
  void setLowCut(float hz);
  void setHighCut(float hz);

 private:
  void processHop();

  struct Fft;
  const int rate_;
  const int maxBlock_;
  const int size_;  // window, a power of two
  const int hop_;   // a quarter window
  const int bins_;  // size_ / 2 + 1
  std::unique_ptr<Fft> fft_;

  std::atomic<float> width_{kDefaultWidth};
  std::atomic<float> lowCut_{kDefaultLowCutHz};
  std::atomic<float> highCut_{kDefaultHighCutHz};
  float voice_ = 0.0f;

  std::vector<float> window_;   // square-root Hann
  std::vector<float> history_;  // the last size_ input frames per channel: [channel][frame]
  std::vector<float> sum_;      // overlap-add of the synthesised hops: [channel][frame]
  std::vector<float> ready_;    // the hop of output being handed out: [channel][frame]
  std::vector<float> crossRe_;  // smoothed Re(L·R*) per bin
  std::vector<float> powerL_;   // smoothed |L|² per bin
  std::vector<float> powerR_;   // smoothed |R|² per bin
  int filled_ = 0;              // input frames of the current hop
};

// The offline form: the whole of `frames` (interleaved stereo) processed and aligned, with no
// added delay (the start is padded, the tail flushed). For tests and benchmarks.
std::vector<float> extractCentreAligned(const std::vector<float>& frames, int sampleRate,
                                        float voice = 0.0f);

}  // namespace audiolib
