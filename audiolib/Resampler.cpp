#include "Resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace audiolib {

namespace {
// Chunks of silence the resampler is run on before it is used: enough, at every rate the
// decoders accept, for its buffers to stop growing.
constexpr int kPrimingChunks = 64;
}  // namespace

int64_t Resampler::chunkFrames(double inRate, double outRate) {
  // Small chunks keep the mixer's reads small; from four times the device rate up, bigger
  // ones keep the output per call steady.
  return inRate > 4 * outRate ? 1024 : 256;
}

int64_t Resampler::maxOutputFrames(double inRate, double outRate) {
  // libsoxr hands its output over in blocks of its own: a call may return several chunks'
  // worth at once (measured: up to 3.2 chunks, 6 for the largest rate ratios).
  const double perChunk = double(chunkFrames(inRate, outRate)) * outRate / inRate;
  return 8 * int64_t(std::ceil(perChunk)) + 2048;
}

Resampler::Resampler(double inRate, double outRate, int channels)
    : ratio_(outRate / inRate),
      channels_(channels),
      chunk_(chunkFrames(inRate, outRate)),
      maxOut_(maxOutputFrames(inRate, outRate)) {
  soxr_error_t err = nullptr;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  // High quality at a low delay: the song must start at once and stay in step with the other.
  soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
  const soxr_runtime_spec_t rt = soxr_runtime_spec(1);
  soxr_t s = soxr_create(inRate, outRate, unsigned(channels), &err, &io, &q, &rt);
  if (err) return;
  soxr_.reset(s);
  padded_.assign(size_t(chunk_ * channels), 0.0f);
  std::vector<float> out(size_t(maxOut_ * channels));
  int64_t in = 0, produced = 0;
  for (int i = 0; i < kPrimingChunks; ++i) {
    size_t idone = 0, odone = 0;
    soxr_process(s, padded_.data(), size_t(chunk_), &idone, out.data(), size_t(maxOut_), &odone);
    in += int64_t(idone);
    produced += int64_t(odone);
  }
  discard_ = std::llround(double(in) * ratio_) - produced;
}

int64_t Resampler::run(const float* in, float* out) {
  size_t idone = 0, odone = 0;
  soxr_process(soxr_.get(), in, size_t(chunk_), &idone, out, size_t(maxOut_), &odone);
  int64_t got = int64_t(odone);
  const int64_t drop = std::min(discard_, got);
  if (drop > 0) {
    discard_ -= drop;
    got -= drop;
    std::memmove(out, out + drop * channels_, size_t(got * channels_) * sizeof(float));
  }
  if (inputEnded_) {
    // Past the frame the input's end maps to, it is the padding coming out.
    const int64_t due = std::llround(double(inFrames_) * ratio_);
    got = std::clamp<int64_t>(due - outFrames_, 0, got);
  }
  outFrames_ += got;
  return got;
}

int64_t Resampler::process(const float* in, int64_t frames, float* out) {
  inFrames_ += frames;
  if (frames >= chunk_) return run(in, out);
  inputEnded_ = true;
  std::memcpy(padded_.data(), in, size_t(frames * channels_) * sizeof(float));
  const int64_t got = run(padded_.data(), out);
  std::fill(padded_.begin(), padded_.end(), 0.0f);  // silence for finish()
  return got;
}

int64_t Resampler::finish(float* out) {
  inputEnded_ = true;
  // libsoxr may keep a chunk's output back until it has a block: pad until some comes out.
  for (int i = 0; i < kPrimingChunks; ++i) {
    if (outFrames_ >= std::llround(double(inFrames_) * ratio_)) return 0;
    if (const int64_t got = run(padded_.data(), out)) return got;
  }
  return 0;
}

double Resampler::delayOutFrames() const {
  return std::max(0.0, soxr_delay(soxr_.get()) - double(discard_));
}

}  // namespace audiolib
