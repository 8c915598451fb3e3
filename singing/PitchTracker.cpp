// The singer's pitch, by our own YIN or by aubio's YIN-FFT (the benchmark weighs the two).
#include "PitchTracker.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace singing {

namespace {

// Below this level (about -55 dBFS RMS over the window) a frame is silence, whatever its shape.
constexpr float kSilenceRms = 0.0018f;
// YIN's absolute threshold: the first dip of the normalised difference below it is the period.
constexpr float kDipThreshold = 0.15f;
// A frame whose best dip stays above this is unvoiced (noise gives dips near 1).
constexpr float kVoicedDip = 0.3f;

int64_t stepCentre(int64_t k, int rate) {
  return std::llround(double(k) * rate / kStepsPerSecond);
}

float frameRms(const float* x, int n) {
  double sum = 0;
  for (int i = 0; i < n; ++i) sum += double(x[i]) * x[i];
  return n ? float(std::sqrt(sum / n)) : 0.f;
}

}  // namespace

double hzToKey(double hz) {
  return 69.0 + 12.0 * std::log2(hz / 440.0);
}
double keyToHz(double key) {
  return 440.0 * std::exp2((key - 69.0) / 12.0);
}

// YIN (de Cheveigné and Kawahara) on the signal low-passed and decimated to about 20 kHz:
// a window of two longest periods, the difference function computed directly.
struct PitchTracker::Yin {
  int rate;
  int factor;  // decimation
  double decimatedRate;
  std::vector<float> taps;   // low-pass FIR, odd length, centred
  int groupDelay;            // (taps - 1) / 2 input samples
  std::vector<float> input;  // ring of the last taps.size() input samples
  size_t inputPos = 0;
  int64_t inputCount = 0;
  std::vector<float> ring;  // decimated samples, power-of-two ring
  size_t mask;
  int64_t decimatedCount = 0;
  int tauMin, tauMax, window, frameLength;
  std::vector<float> frame, diff;
  int64_t nextStep = 0;

  explicit Yin(int r) : rate(r) {
    factor = std::max(1, rate / 20000);
    decimatedRate = double(rate) / factor;
    if (factor > 1) {
      // Blackman-windowed sinc, cut at 90 % of the decimated Nyquist frequency.
      const int length = 16 * factor + 1;
      const double cut = 0.9 * 0.5 / factor;
      taps.resize(size_t(length));
      double sum = 0;
      for (int i = 0; i < length; ++i) {
        const double m = i - (length - 1) / 2.0;
        const double sinc =
            m == 0 ? 2 * cut : std::sin(2 * std::numbers::pi * cut * m) / (std::numbers::pi * m);
        const double w = 0.42 - 0.5 * std::cos(2 * std::numbers::pi * i / (length - 1)) +
                         0.08 * std::cos(4 * std::numbers::pi * i / (length - 1));
        taps[size_t(i)] = float(sinc * w);
        sum += sinc * w;
      }
      for (float& t : taps) t = float(t / sum);
    } else {
      taps = {1.f};
    }
    groupDelay = int(taps.size() - 1) / 2;
    input.assign(taps.size(), 0.f);
    tauMin = std::max(2, int(std::floor(decimatedRate / kMaxPitchHz)));
    tauMax = int(std::ceil(decimatedRate / kMinPitchHz)) + 1;
    window = tauMax;
    frameLength = window + tauMax + 1;
    size_t size = 1;
    while (size < size_t(frameLength) + 16) size <<= 1;
    ring.assign(size, 0.f);
    mask = size - 1;
    frame.assign(size_t(frameLength), 0.f);
    diff.assign(size_t(tauMax + 2), 0.f);
  }

  // Input samples after a step's centre before its frame is complete.
  int lookahead() const { return (frameLength - frameLength / 2) * factor + groupDelay; }

  template <typename Emit>
  void push(const float* x, int n, Emit&& emit) {
    const size_t nt = taps.size();
    for (int s = 0; s < n; ++s) {
      input[inputPos] = x[s];
      const int64_t m = inputCount++;
      const size_t newest = inputPos;
      inputPos = (inputPos + 1) % nt;
      if (m < groupDelay || (m - groupDelay) % factor != 0) continue;
      // y[m] = sum h[i] x[m - i]; the decimated sample (m - G) / D stands for input (m - G).
      float y = 0;
      for (size_t i = 0; i < nt; ++i) y += taps[i] * input[(newest + nt - i) % nt];
      ring[size_t(decimatedCount) & mask] = y;
      ++decimatedCount;
      for (;;) {
        const int64_t centre = stepCentre(nextStep, rate);
        const int64_t first = std::llround(double(centre) / factor) - frameLength / 2;
        if (first + frameLength > decimatedCount) break;
        float hz = 0, confidence = 0;
        analyse(first, hz, confidence);
        emit(centre, hz, confidence);
        ++nextStep;
      }
    }
  }

  void analyse(int64_t first, float& hz, float& confidence) {
    for (int i = 0; i < frameLength; ++i) {
      const int64_t j = first + i;
      frame[size_t(i)] = j < 0 ? 0.f : ring[size_t(j) & mask];
    }
    if (frameRms(frame.data(), frameLength) < kSilenceRms) return;
    const float* f = frame.data();
    diff[0] = 1.f;
    double running = 0;
    float best = 2.f;
    int bestTau = -1, chosen = -1;
    for (int tau = 1; tau <= tauMax; ++tau) {
      // Eight partial sums, so the compiler can use vector lanes without reordering a sum.
      float part[8] = {};
      const float* g = f + tau;
      int i = 0;
      for (; i + 8 <= window; i += 8)
        for (int l = 0; l < 8; ++l) {
          const float e = f[i + l] - g[i + l];
          part[l] += e * e;
        }
      float d = 0;
      for (; i < window; ++i) d += (f[i] - g[i]) * (f[i] - g[i]);
      for (float p : part) d += p;
      running += d;
      diff[size_t(tau)] = running > 0 ? float(d * tau / running) : 1.f;
    }
    for (int tau = tauMin; tau < tauMax; ++tau) {
      if (diff[size_t(tau)] < kDipThreshold) {
        while (tau + 1 < tauMax && diff[size_t(tau + 1)] < diff[size_t(tau)]) ++tau;
        chosen = tau;
        break;
      }
      if (diff[size_t(tau)] < best) {
        best = diff[size_t(tau)];
        bestTau = tau;
      }
    }
    if (chosen < 0) chosen = bestTau;
    if (chosen < 0 || diff[size_t(chosen)] > kVoicedDip) return;
    // A parabola through the dip and its neighbours places the period between samples.
    const double a = diff[size_t(chosen - 1)], b = diff[size_t(chosen)],
                 c = diff[size_t(chosen + 1)];
    const double curve = a - 2 * b + c;
    const double shift = curve > 0 ? std::clamp(0.5 * (a - c) / curve, -0.5, 0.5) : 0.0;
    const double period = chosen + shift;
    const double estimate = decimatedRate / period;
    if (estimate < kMinPitchHz * 0.97 || estimate > kMaxPitchHz * 1.03) return;
    hz = float(estimate);
    confidence = std::clamp(1.f - float(b), 0.f, 1.f);
  }
};

struct PitchTracker::Aubio {
  struct PitchDeleter {
    void operator()(aubio_pitch_t* p) const { del_aubio_pitch(p); }
  };
  struct VecDeleter {
    void operator()(fvec_t* v) const { del_fvec(v); }
  };
  std::unique_ptr<aubio_pitch_t, PitchDeleter> pitch;
  std::unique_ptr<fvec_t, VecDeleter> in, out;
  int bufferSize = 1, hop;
  int filled = 0;
  int64_t fed = 0;

  explicit Aubio(int rate) : hop(std::max(1, rate / kStepsPerSecond)) {
    // Half the window must hold the longest period.
    while (bufferSize < 2 * rate / kMinPitchHz) bufferSize <<= 1;
    pitch.reset(new_aubio_pitch("yinfft", uint_t(bufferSize), uint_t(hop), uint_t(rate)));
    aubio_pitch_set_unit(pitch.get(), "Hz");
    aubio_pitch_set_silence(pitch.get(), -90.f);  // the gate below decides
    // Its default tolerance (0.85) finds a pitch in one noise frame in twenty.
    aubio_pitch_set_tolerance(pitch.get(), kVoicedDip);
    in.reset(new_fvec(uint_t(hop)));
    out.reset(new_fvec(1));
  }

  template <typename Emit>
  void push(const float* x, int n, Emit&& emit) {
    while (n > 0) {
      const int take = std::min(n, hop - filled);
      std::copy(x, x + take, in->data + filled);
      filled += take;
      x += take;
      n -= take;
      fed += take;
      if (filled < hop) break;
      filled = 0;
      aubio_pitch_do(pitch.get(), in.get(), out.get());
      // aubio gives 0 Hz when its dip stays above its tolerance (and reports no confidence
      // for this method). The rms gate would need the whole window; the hop's level stands
      // for it.
      float hz = out->data[0];
      const float confidence = hz > 0 ? 1.f : 0.f;
      if (hz < kMinPitchHz * 0.97 || hz > kMaxPitchHz * 1.03 ||
          frameRms(in->data, hop) < kSilenceRms)
        hz = 0;
      emit(fed - bufferSize / 2, hz, confidence);
    }
  }
};

PitchTracker::PitchTracker(int rate, PitchMethod method, size_t capacity)
    : rate_(rate), method_(method), queue_(std::max<size_t>(1, capacity)) {
  if (method == PitchMethod::Yin) {
    yin_ = std::make_unique<Yin>(rate);
    lookahead_ = yin_->lookahead();
  } else {
    aubio_ = std::make_unique<Aubio>(rate);
    lookahead_ = aubio_->bufferSize / 2;
    const int half = aubio_->bufferSize / 2;
    gridPadding_ = (aubio_->hop - half % aubio_->hop) % aubio_->hop;
  }
}

PitchTracker::~PitchTracker() = default;

void PitchTracker::record(int64_t sample, float hz, float confidence) {
  if (count_ == queue_.size()) {
    ++dropped_;
    return;
  }
  queue_[(head_ + count_) % queue_.size()] = PitchPoint{sample, hz, confidence};
  ++count_;
}

void PitchTracker::push(const float* samples, int n) {
  auto sink = [this](int64_t s, float hz, float c) { record(s, hz, c); };
  if (yin_)
    yin_->push(samples, n, sink);
  else
    aubio_->push(samples, n, sink);
}

size_t PitchTracker::read(std::span<PitchPoint> out) {
  const size_t n = std::min(out.size(), count_);
  for (size_t i = 0; i < n; ++i) out[i] = queue_[(head_ + i) % queue_.size()];
  head_ = (head_ + n) % queue_.size();
  count_ -= n;
  return n;
}

std::vector<PitchPoint> trackPitch(const std::vector<float>& mono, int rate, PitchMethod method) {
  std::vector<PitchPoint> points;
  if (rate <= 0 || mono.empty()) return points;
  PitchTracker tracker(rate, method);
  const int pad = tracker.gridPadding();
  std::vector<PitchPoint> chunk(256);
  auto drain = [&] {
    while (const size_t n = tracker.read(chunk)) {
      for (size_t i = 0; i < n; ++i) {
        PitchPoint p = chunk[i];
        p.sample -= pad;
        if (p.sample >= 0 && p.sample < int64_t(mono.size())) points.push_back(p);
      }
    }
  };
  const std::vector<float> zeros(size_t(std::max(pad, tracker.lookahead() + rate / 50)), 0.f);
  tracker.push(zeros.data(), pad);
  constexpr size_t kBlock = 4096;
  for (size_t at = 0; at < mono.size(); at += kBlock) {
    tracker.push(mono.data() + at, int(std::min(kBlock, mono.size() - at)));
    drain();
  }
  tracker.push(zeros.data(), int(zeros.size()));
  drain();
  return points;
}

}  // namespace singing
