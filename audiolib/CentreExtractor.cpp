#include "CentreExtractor.h"

#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <numbers>

namespace audiolib {

namespace {

// FFTW's planner keeps global state: plans are made and destroyed one at a time.
std::mutex gPlannerMutex;

// About 46 ms whatever the rate: 2048 frames at 44.1 and 48 kHz, 4096 at 96 kHz.
int windowFor(int sampleRate) {
  const double want = 2048.0 * std::max(sampleRate, 8000) / 44100.0;
  int size = 256;
  while (size * 1.5 < want) size *= 2;
  return size;
}

// The similarity 2g/(1+g²) of a sound panned `db` decibels to one side.
float similarityAt(float db) {
  const float g = std::pow(10.0f, -db / 20.0f);
  return 2.0f * g / (1.0f + g * g);
}

// Each averaged statistic follows a change within about this time: short enough to follow a
// syllable, long enough that the mask does not flutter from hop to hop.
constexpr double kSmoothingSeconds = 0.025;
// Larger samples are a broken file, not music; clamping keeps the squared spectra finite.
constexpr float kMaxSample = 1.0e6f;

}  // namespace

// Plans and buffers from fftwf_malloc, aligned for FFTW's vector code. FFTW_ESTIMATE: a plan is
// ready in microseconds where FFTW_MEASURE would time candidate algorithms for a good part of a
// second when a song opens, and for a power-of-two real transform of this size the estimated
// plan is within a few percent; the transforms are under 1 % of a core in any case.
struct CentreExtractor::Fft {
  float* time = nullptr;
  fftwf_complex* spectrum[2] = {nullptr, nullptr};
  fftwf_plan forward = nullptr;
  fftwf_plan inverse = nullptr;

  explicit Fft(int size) {
    std::lock_guard lock(gPlannerMutex);
    time = fftwf_alloc_real(size_t(size));
    for (auto& s : spectrum) s = fftwf_alloc_complex(size_t(size / 2 + 1));
    forward = fftwf_plan_dft_r2c_1d(size, time, spectrum[0], FFTW_ESTIMATE);
    inverse = fftwf_plan_dft_c2r_1d(size, spectrum[0], time, FFTW_ESTIMATE);
  }
  ~Fft() {
    std::lock_guard lock(gPlannerMutex);
    fftwf_destroy_plan(forward);
    fftwf_destroy_plan(inverse);
    fftwf_free(time);
    for (auto* s : spectrum) fftwf_free(s);
  }
};

CentreExtractor::CentreExtractor(int sampleRate, int maxBlockFrames)
    : rate_(std::max(sampleRate, 1)),
      maxBlock_(std::max(maxBlockFrames, 1)),
      size_(windowFor(sampleRate)),
      hop_(size_ / 4),
      bins_(size_ / 2 + 1),
      fft_(std::make_unique<Fft>(size_)),
      window_(size_t(size_)),
      history_(size_t(2 * size_)),
      sum_(size_t(2 * size_)),
      ready_(size_t(2 * hop_)),
      crossRe_(size_t(bins_)),
      powerL_(size_t(bins_)),
      powerR_(size_t(bins_)) {
  // Periodic Hann, square-rooted: analysis times synthesis is Hann, whose copies a quarter
  // window apart add up to exactly 2.
  for (int n = 0; n < size_; ++n)
    window_[size_t(n)] = float(std::sqrt(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * n / size_)));
  reset();
}

CentreExtractor::~CentreExtractor() = default;

void CentreExtractor::reset() {
  std::fill(history_.begin(), history_.end(), 0.0f);
  std::fill(sum_.begin(), sum_.end(), 0.0f);
  std::fill(ready_.begin(), ready_.end(), 0.0f);
  std::fill(crossRe_.begin(), crossRe_.end(), 0.0f);
  std::fill(powerL_.begin(), powerL_.end(), 0.0f);
  std::fill(powerR_.begin(), powerR_.end(), 0.0f);
  filled_ = 0;
}

void CentreExtractor::setWidth(float width) {
  width_.store(std::isfinite(width) ? std::clamp(width, 0.0f, 1.0f) : kDefaultWidth,
               std::memory_order_relaxed);
}
void CentreExtractor::setLowCut(float hz) {
  lowCut_.store(std::isfinite(hz) ? std::max(hz, 0.0f) : kDefaultLowCutHz,
                std::memory_order_relaxed);
}
void CentreExtractor::setHighCut(float hz) {
  highCut_.store(std::isfinite(hz) ? std::max(hz, 0.0f) : kDefaultHighCutHz,
                 std::memory_order_relaxed);
}

void CentreExtractor::process(float* frames, int count, float voice) {
  voice_ = std::isfinite(voice) ? std::clamp(voice, 0.0f, 1.0f) : 0.0f;
  float* inL = history_.data() + (size_ - hop_);
  float* inR = inL + size_;
  for (int done = 0; done < count;) {
    const int n = std::min(count - done, hop_ - filled_);
    float* f = frames + 2 * size_t(done);
    for (int i = 0; i < n; ++i) {
      // A NaN or an infinity becomes silence before it reaches the averaged statistics.
      for (int c = 0; c < 2; ++c) {
        const float x = f[2 * i + c];
        const bool finite = (std::bit_cast<uint32_t>(x) & 0x7f800000u) != 0x7f800000u;
        (c ? inR : inL)[filled_ + i] = finite ? std::clamp(x, -kMaxSample, kMaxSample) : 0.0f;
      }
      f[2 * i] = ready_[size_t(filled_ + i)];
      f[2 * i + 1] = ready_[size_t(hop_ + filled_ + i)];
    }
    filled_ += n;
    done += n;
    if (filled_ == hop_) {
      processHop();
      filled_ = 0;
    }
  }
}

void CentreExtractor::processHop() {
  const size_t n = size_t(size_), hop = size_t(hop_);
  auto* spectrumL = reinterpret_cast<std::complex<float>*>(fft_->spectrum[0]);
  auto* spectrumR = reinterpret_cast<std::complex<float>*>(fft_->spectrum[1]);
  for (int c = 0; c < 2; ++c) {
    const float* in = history_.data() + c * n;
    for (size_t i = 0; i < n; ++i) fft_->time[i] = in[i] * window_[i];
    fftwf_execute_dft_r2c(fft_->forward, fft_->time, fft_->spectrum[c]);
  }

  // The mask rises from 0 at the similarity of a sound panned `off` decibels to 1 at `on`.
  const float width = width_.load(std::memory_order_relaxed);
  const float offDb = 0.5f + 3.5f * width + 8.0f * width * width, onDb = 0.4f * offDb;
  const float psiOff = similarityAt(offDb), psiOn = similarityAt(onDb);
  const float psiScale = 1.0f / std::max(psiOn - psiOff, 1e-6f);
  // The band: nothing at or below the low cut, all from a third of an octave above it; the
  // same mirrored at the high cut.
  const float binHz = float(rate_) / float(size_);
  const float lowCut = lowCut_.load(std::memory_order_relaxed);
  const float highCut = highCut_.load(std::memory_order_relaxed);
  constexpr float kThird = 1.2599210f;
  const float lowFull = lowCut * kThird, highFull = highCut / kThird;
  const float alpha = float(std::exp(-double(hop_) / (kSmoothingSeconds * rate_)));
  const float take = 1.0f - voice_;

  for (int k = 0; k < bins_; ++k) {
    const std::complex<float> l = spectrumL[k], r = spectrumR[k];
    const size_t kk = size_t(k);
    crossRe_[kk] =
        alpha * crossRe_[kk] + (1.0f - alpha) * (l.real() * r.real() + l.imag() * r.imag());
    powerL_[kk] = alpha * powerL_[kk] + (1.0f - alpha) * std::norm(l);
    powerR_[kk] = alpha * powerR_[kk] + (1.0f - alpha) * std::norm(r);
    const float powerSum = powerL_[kk] + powerR_[kk];
    if (powerSum < 1e-24f) {  // silence: no denormals decaying for ever
      crossRe_[kk] = powerL_[kk] = powerR_[kk] = 0.0f;
      continue;
    }
    const float hz = float(k) * binHz;
    float band = 1.0f;
    if (hz <= lowCut || hz >= highCut)
      band = 0.0f;
    else if (hz < lowFull)
      band = (hz - lowCut) / (lowFull - lowCut);
    else if (hz > highFull)
      band = (highCut - hz) / (highCut - highFull);
    if (band <= 0.0f || take <= 0.0f) continue;
    // What the channels have in common, Re(L·R*) on average: the centre's power when the rest of
    // each channel is uncorrelated with it. A single sound panned with the gains gL > gR leaves
    // only gR/gL of it on its quieter side, a centred sound at least all of it on both: that
    // ratio, as the similarity 2g/(1+g²), says how central the common part is.
    const float common = crossRe_[kk];
    if (common <= 0.0f) continue;
    const float g = std::min(std::min(powerL_[kk], powerR_[kk]) / common, 1.0f);
    const float psi = 2.0f * g / (1.0f + g * g);
    float m = std::clamp((psi - psiOff) * psiScale, 0.0f, 1.0f);
    m = m * m * (3.0f - 2.0f * m) * band * take;
    // Each channel loses the common part's share of its power (a Wiener gain), so a part on one
    // side that shares a bin with the singer keeps most of its level and never leaks to the
    // other side.
    spectrumL[k] = l * (1.0f - m * std::min(common / std::max(powerL_[kk], 1e-30f), 1.0f));
    spectrumR[k] = r * (1.0f - m * std::min(common / std::max(powerR_[kk], 1e-30f), 1.0f));
  }

  // Synthesis: window again, overlap-add, and hand out the hop that is now complete.
  const float scale = 1.0f / (2.0f * float(size_));
  for (int c = 0; c < 2; ++c) {
    fftwf_execute_dft_c2r(fft_->inverse, fft_->spectrum[c], fft_->time);
    float* sum = sum_.data() + c * n;
    for (size_t i = 0; i < n; ++i) sum[i] += fft_->time[i] * window_[i] * scale;
    std::memcpy(ready_.data() + c * hop, sum, hop * sizeof(float));
    std::memmove(sum, sum + hop, (n - hop) * sizeof(float));
    std::fill(sum + (n - hop), sum + n, 0.0f);
    float* history = history_.data() + c * n;
    std::memmove(history, history + hop, (n - hop) * sizeof(float));
  }
}

std::vector<float> extractCentreAligned(const std::vector<float>& frames, int sampleRate,
                                        float voice) {
  constexpr int kBlock = 4096;
  CentreExtractor extractor(sampleRate, kBlock);
  const size_t count = frames.size() / 2, latency = size_t(extractor.latencyFrames());
  // The input followed by one latency of silence, which pushes the tail out.
  std::vector<float> work(2 * (count + latency), 0.0f);
  std::copy(frames.begin(), frames.begin() + ptrdiff_t(2 * count), work.begin());
  for (size_t at = 0; at < count + latency; at += kBlock)
    extractor.process(work.data() + 2 * at, int(std::min<size_t>(kBlock, count + latency - at)),
                      voice);
  return {work.begin() + ptrdiff_t(2 * latency), work.end()};
}

}  // namespace audiolib
