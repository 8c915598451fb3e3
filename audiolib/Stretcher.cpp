#include "Stretcher.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace audiolib {

namespace {
using RB = RubberBand::RubberBandStretcher;

RB::Options optionsFor(StretchEngine engine, bool shortWindow) {
  // One thread (the mixing thread), channels together so the two sides stay mono-compatible,
  // pitch high-consistency so a key that changes while playing glides without a click.
  RB::Options o = RB::OptionProcessRealTime | RB::OptionThreadingNever |
                  RB::OptionChannelsTogether | RB::OptionPitchHighConsistency |
                  RB::OptionFormantShifted;
  if (engine == StretchEngine::Finer) {
    o |= RB::OptionEngineFiner;
    if (shortWindow) o |= RB::OptionWindowShort;
  }
  return o;
}
}  // namespace

Stretcher::Stretcher(int rate, int channels, StretchEngine engine, int maxBlockFrames,
                     bool shortWindow)
    : rb_(std::make_unique<RB>(size_t(rate), size_t(channels), optionsFor(engine, shortWindow))),
      engine_(engine),
      rate_(rate),
      channels_(channels),
      maxBlock_(std::max(1, maxBlockFrames)),
      planar_(size_t(channels) * size_t(maxBlock_)),
      ptrs_(size_t(channels)),
      fifoCapacity_(4 * int64_t(maxBlock_) + 8192),
      fifo_(size_t(fifoCapacity_) * size_t(channels)) {
  for (int c = 0; c < channels_; ++c) ptrs_[size_t(c)] = planar_.data() + size_t(c) * maxBlock_;
  rb_->setMaxProcessSize(size_t(maxBlock_));

  // Every buffer Rubber Band sizes by the ratios reaches its largest here: a second of noise
  // at each corner of the key and tempo range, fed and drained as the mixing thread does.
  std::vector<float> noise(size_t(maxBlock_) * size_t(channels_));
  std::minstd_rand gen(5);
  std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
  for (float& s : noise) s = dist(gen);
  std::vector<float> out(size_t(maxBlock_) * size_t(channels_));
  constexpr double kCorners[][2] = {{kMaxSemitones, kMinTempo},
                                    {kMinSemitones, kMaxTempo},
                                    {kMinSemitones, kMinTempo},
                                    {kMaxSemitones, kMaxTempo},
                                    {2.0, 0.9},
                                    {0.0, 1.0}};
  for (const auto& [key, tempo] : kCorners) {
    setKeyTempo(key, tempo);
    for (int64_t fed = 0; fed < rate; fed += maxBlock_) {
      push(noise.data(), std::min(required(), maxBlock_));
      while (pull(out.data(), maxBlock_) > 0) {
      }
    }
  }
  setKeyTempo(0.0, 1.0);
  reset();
}

Stretcher::~Stretcher() = default;

void Stretcher::applyRatios() {
  rb_->setTimeRatio(1.0 / tempo_);
  rb_->setPitchScale(std::pow(2.0, semitones_ / 12.0));
}

void Stretcher::setKeyTempo(double semitones, double tempo) {
  semitones = std::clamp(semitones, kMinSemitones, kMaxSemitones);
  tempo = std::clamp(tempo, kMinTempo, kMaxTempo);
  if (semitones == semitones_ && tempo == tempo_) return;
  semitones_ = semitones;
  tempo_ = tempo;
  applyRatios();
}

void Stretcher::reset() {
  rb_->reset();
  started_ = false;
  dropLeft_ = 0;
  pushed_ = 0;
  fifoRead_ = 0;
  fifoFrames_ = 0;
}

int Stretcher::required() const {
  return std::clamp(int(rb_->getSamplesRequired()), 1, maxBlock_);
}

void Stretcher::start() {
  // The pad and the delay are those of the ratios in force when the sound starts.
  started_ = true;
  for (int64_t left = int64_t(rb_->getPreferredStartPad()); left > 0;) {
    const int n = int(std::min<int64_t>(left, maxBlock_));
    process(nullptr, n);
    left -= n;
  }
  dropLeft_ = int64_t(rb_->getStartDelay());
  drain();
}

void Stretcher::process(const float* interleaved, int frames) {
  for (int c = 0; c < channels_; ++c) {
    float* dst = ptrs_[size_t(c)];
    if (!interleaved) {
      std::fill(dst, dst + frames, 0.0f);
      continue;
    }
    for (int f = 0; f < frames; ++f) dst[f] = interleaved[size_t(f) * channels_ + c];
  }
  rb_->process(ptrs_.data(), size_t(frames), false);
}

void Stretcher::push(const float* interleaved, int frames) {
  frames = std::clamp(frames, 0, maxBlock_);
  if (!started_) start();
  process(interleaved, frames);
  pushed_ += frames;
  drain();
}

void Stretcher::drain() {
  for (;;) {
    const int64_t ready = rb_->available();
    const int64_t space = fifoCapacity_ - fifoFrames_;
    const int64_t n = std::min<int64_t>({ready, maxBlock_, dropLeft_ + space});
    if (n <= 0) return;
    const int64_t got = int64_t(rb_->retrieve(ptrs_.data(), size_t(n)));
    if (got <= 0) return;
    const int64_t dropped = std::min(dropLeft_, got);
    dropLeft_ -= dropped;
    for (int64_t f = dropped; f < got; ++f) {
      float* dst = fifo_.data() + size_t((fifoRead_ + fifoFrames_) % fifoCapacity_) * channels_;
      for (int c = 0; c < channels_; ++c) dst[c] = ptrs_[size_t(c)][f];
      ++fifoFrames_;
    }
  }
}

int Stretcher::pull(float* interleaved, int frames) {
  const int64_t n = std::min<int64_t>(std::max(frames, 0), fifoFrames_);
  for (int64_t done = 0; done < n;) {
    const int64_t run = std::min(n - done, fifoCapacity_ - fifoRead_);
    std::copy_n(fifo_.data() + size_t(fifoRead_) * channels_, size_t(run * channels_),
                interleaved + size_t(done) * channels_);
    fifoRead_ = (fifoRead_ + run) % fifoCapacity_;
    fifoFrames_ -= run;
    done += run;
  }
  // Room was made: whatever Rubber Band held back for want of it comes in now.
  if (rb_->available() > 0) drain();
  return int(n);
}

double Stretcher::pendingInputFrames() const {
  if (!started_) return 0.0;
  // Rubber Band keeps a window of twice the start pad of input, centred on the frame it is about
  // to make, and lacks getSamplesRequired() frames of it: what it holds beyond the centre, plus
  // its output delay and all the output made but not pulled, in input frames at the tempo now.
  const double pad = double(rb_->getPreferredStartPad());
  const double lacking = double(rb_->getSamplesRequired());
  const double outputHeld =
      double(rb_->getStartDelay()) - double(dropLeft_) + double(fifoFrames_) + rb_->available();
  return std::clamp(pad - lacking + outputHeld * tempo_, 0.0, double(pushed_));
}

double Stretcher::latencyMs() const {
  return (double(rb_->getPreferredStartPad()) / tempo_ + double(rb_->getStartDelay())) * 1000.0 /
         rate_;
}

}  // namespace audiolib
