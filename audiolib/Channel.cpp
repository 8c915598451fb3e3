#include "Channel.h"

#include <algorithm>
#include <cstring>

namespace audiolib {

namespace {
int64_t ringCapacity(int rate) {
  return std::max<int64_t>(int64_t(rate) * 3 / 4, 16384);
}
}  // namespace

Channel::Channel(DWORD flags_, int rate_, int chans_, DWORD ctype_, int64_t lengthFrames_,
                 int deviceRate_, bool music_, std::unique_ptr<ChannelRenderer> renderer_)
    : flags(flags_),
      rate(rate_),
      chans(chans_),
      ctype(ctype_),
      lengthFrames(lengthFrames_),
      deviceRate(deviceRate_),
      music(music_),
      renderer(std::move(renderer_)) {
  scratch_.resize(size_t(kChunkFrames * chans));
  s16_.resize(size_t(kChunkFrames * chans));
  // Room for a whole block plus what one chunk can add after resampling.
  fifoCapacity_ =
      kMaxBlockFrames +
      (rate == deviceRate ? kChunkFrames : Resampler::maxOutputFrames(rate, deviceRate));
  fifo_.resize(size_t(fifoCapacity_ * chans));
  autofree = flags & BASS_STREAM_AUTOFREE;
  loop = flags & BASS_SAMPLE_LOOP;
  if (!decodeOnly() && !renderer) newFeed(0);
}

void Channel::newFeed(int64_t frame) {
  feeds.push_back(
      std::make_unique<Feed>(chans, ringCapacity(rate), frame, nextFeedId++, rate, deviceRate));
  position.store(frame, std::memory_order_relaxed);
  ended.store(false, std::memory_order_relaxed);
  publishedFeed_.store(feeds.back().get(), std::memory_order_release);
  collectGarbage();
}

void Channel::collectGarbage() {
  const uint64_t ack = feedAck_.load(std::memory_order_acquire);
  std::erase_if(feeds, [&](const std::unique_ptr<Feed>& f) {
    return f->ring.id() < ack && f.get() != feeds.back().get();
  });
  chain.collectGarbage();
}

bool Channel::wantsData() const {
  const DWORD s = state.load(std::memory_order_relaxed);
  return s == BASS_ACTIVE_PLAYING || armed.load(std::memory_order_relaxed);
}

void Channel::pickUp() {
  Feed* f = publishedFeed_.load(std::memory_order_acquire);
  if (f && f != feed_) {
    feed_ = f;
    consumed_ = 0;
    fifoFrames_ = 0;
    inputEnded_ = false;
    tailLeft_ = -1;
    feedAck_.store(f->ring.id(), std::memory_order_release);
  }
  AttrCommand c;
  while (commands.pop(c)) applyCommand(c);
}

void Channel::applyCommand(const AttrCommand& c) {
  if (c.kind == AttrCommand::Set) {
    if (c.volume >= 0) {
      vol_ = c.volume;
      slideVolOn_ = false;
    }
    if (!std::isnan(c.pan)) {
      pan_ = c.pan;
      slidePanOn_ = false;
    }
  } else {
    slideVolOn_ = c.volume >= 0;
    slidePanOn_ = !std::isnan(c.pan);
    slideVol0_ = vol_;
    slideVol1_ = slideVolOn_ ? c.volume : vol_;
    slidePan0_ = pan_;
    slidePan1_ = slidePanOn_ ? c.pan : pan_;
    slideTotal_ = std::max<int64_t>(c.frames, 1);
    slideDone_ = 0;
  }
  liveVolume.store(vol_, std::memory_order_relaxed);
  livePan.store(pan_, std::memory_order_relaxed);
}

bool Channel::render(float* out, int count, bool floatDsp, int64_t outputFrame) {
  pickUp();
  slideFinished = false;
  if (state.load(std::memory_order_relaxed) != BASS_ACTIVE_PLAYING || (!feed_ && !renderer))
    return false;

  const bool floatSamples = floatDsp || (flags & BASS_SAMPLE_FLOAT);
  const double ratio = double(deviceRate) / rate;
  bool reachedEnd = false;
  float peakL = 0, peakR = 0;
  while (renderer && fifoFrames_ < count && !reachedEnd) {
    // Made here, at the device rate: no feed, no resampler.
    const int64_t want = std::min<int64_t>(kChunkFrames, count - fifoFrames_);
    const int64_t n = renderer->render(scratch_.data(), want);
    reachedEnd = n < want;
    consumed_ += n;
    chain.process(handle, scratch_.data(), n, chans, floatSamples, s16_.data());
    for (int64_t f = 0; f < n; ++f) {
      peakL = std::max(peakL, std::fabs(scratch_[size_t(f * chans)]));
      peakR = std::max(peakR, std::fabs(scratch_[size_t(f * chans + (chans > 1 ? 1 : 0))]));
    }
    std::memcpy(&fifo_[size_t(fifoFrames_ * chans)], scratch_.data(),
                size_t(n * chans) * sizeof(float));
    fifoFrames_ += n;
  }
  while (!renderer && fifoFrames_ < count) {
    Resampler* rs = feed_->resampler.get();
    float* dst = &fifo_[size_t(fifoFrames_ * chans)];
    if (rs && inputEnded_) {
      // The input has ended: the resampler's tail comes out, then the channel ends.
      const int64_t n = rs->finish(dst);
      fifoFrames_ += n;
      if (n > 0) continue;
      reachedEnd = true;
      break;
    }
    // The resampler takes whole chunks only, but for the last one.
    const int64_t want = rs ? rs->chunk() : std::min<int64_t>(kChunkFrames, count - fifoFrames_);
    if (rs && feed_->ring.readAvailable() < want && !feed_->ring.eof()) {
      stalled.store(true, std::memory_order_relaxed);
      break;
    }
    int64_t n = feed_->ring.read(scratch_.data(), want);
    if (n == 0 && feed_->ring.eof()) {
      // The song is read: the chain gives out what it still delays, fed with silence.
      if (tailLeft_ < 0) tailLeft_ = dspLatency.load(std::memory_order_relaxed);
      if (tailLeft_ > 0) {
        n = std::min<int64_t>(want, tailLeft_);
        tailLeft_ -= n;
        std::memset(scratch_.data(), 0, size_t(n * chans) * sizeof(float));
        consumed_ -= n;  // silence, not the song's frames
      }
    }
    if (n == 0) {
      if (!feed_->ring.eof()) {
        stalled.store(true, std::memory_order_relaxed);
        break;
      }
      if (rs) {
        inputEnded_ = true;
        continue;
      }
      reachedEnd = true;
      break;
    }
    stalled.store(false, std::memory_order_relaxed);
    consumed_ += n;
    chain.process(handle, scratch_.data(), n, chans, floatSamples, s16_.data());
    for (int64_t f = 0; f < n; ++f) {
      peakL = std::max(peakL, std::fabs(scratch_[size_t(f * chans)]));
      peakR = std::max(peakR, std::fabs(scratch_[size_t(f * chans + (chans > 1 ? 1 : 0))]));
    }
    if (rs) {
      fifoFrames_ += rs->process(scratch_.data(), n, dst);
      if (n < want) inputEnded_ = true;
    } else {
      std::memcpy(dst, scratch_.data(), size_t(n * chans) * sizeof(float));
      fifoFrames_ += n;
    }
  }
  auto toLevel = [](float p) { return DWORD(std::min(p, 1.0f) * 32768.0f); };
  level.store(toLevel(peakL) | (toLevel(peakR) << 16), std::memory_order_relaxed);

  const int mixed = int(std::min<int64_t>(count, fifoFrames_));
  const int latency = dspLatency.load(std::memory_order_relaxed);
  if (mixed > 0 && firstOutputFrame.load(std::memory_order_relaxed) < 0 &&
      (!feed_ || feed_->ring.startFrame() == 0) && outputFrame >= 0) {
    // The song's first frame comes out of the chain `latency` frames after the first one mixed.
    firstLatency.store(latency, std::memory_order_relaxed);
    firstOutputFrame.store(outputFrame + int64_t(double(latency) * ratio),
                           std::memory_order_release);
  }
  mix(out, mixed);

  // Position as heard: what was read, less what still waits in the fifo and the resampler.
  double pending = double(fifoFrames_);
  if (feed_ && feed_->resampler) pending += feed_->resampler->delayOutFrames();
  const int64_t base = feed_ ? feed_->ring.startFrame() : 0;
  // The chain still holds `latency` frames of the song, fewer once the silence after the song
  // brings them out.
  const int64_t held = tailLeft_ >= 0 ? std::min<int64_t>(tailLeft_, latency) : latency;
  int64_t pos = base + consumed_ - int64_t(pending / ratio) - held;
  pos = std::max<int64_t>(pos, base);
  const int64_t length = lengthFrames.load(std::memory_order_relaxed);
  if (loop && length > 0) pos %= length;
  if (length >= 0) pos = std::min(pos, length);
  position.store(pos, std::memory_order_relaxed);

  if (reachedEnd && fifoFrames_ == 0) {
    if (deferEnd) return true;
    finishEnd();
    return true;
  }
  return false;
}

bool Channel::canRender(int count) const {
  if (renderer || fifoFrames_ >= count) return true;
  if (!feed_) return false;
  if (feed_->ring.eof()) return true;
  // Frames still wanted, at the channel's rate, and a whole chunk more for the resampler.
  const int64_t need = int64_t(double(count - fifoFrames_) * rate / deviceRate) + 1 +
                       (feed_->resampler ? feed_->resampler->chunk() : 0);
  return feed_->ring.readAvailable() >= need;
}

void Channel::finishEnd() {
  state.store(BASS_ACTIVE_STOPPED, std::memory_order_relaxed);
  level.store(0, std::memory_order_relaxed);
  ended.store(true, std::memory_order_release);
}

void Channel::mix(float* out, int count) {
  const bool slidingNow = slideVolOn_ || slidePanOn_;
  int f = 0;
  if (!slidingNow || slideDone_ >= slideTotal_) {
    // Steady gains: the same two products per frame, four samples at a time for stereo.
    const float gl = vol_ * (pan_ > 0 ? 1.0f - pan_ : 1.0f);
    const float gr = vol_ * (pan_ < 0 ? 1.0f + pan_ : 1.0f);
    const float* in = fifo_.data();
    if (chans == 2) {
      typedef float Quad __attribute__((vector_size(16)));
      const Quad g = {gl, gr, gl, gr};
      for (; f + 2 <= count; f += 2) {
        Quad o, x;
        std::memcpy(&o, out + 2 * f, sizeof o);
        std::memcpy(&x, in + 2 * f, sizeof x);
        o += x * g;
        std::memcpy(out + 2 * f, &o, sizeof o);
      }
    }
    for (; f < count; ++f) {
      const float* frame = in + size_t(f * chans);
      out[2 * f] += frame[0] * gl;
      out[2 * f + 1] += (chans > 1 ? frame[1] : frame[0]) * gr;
    }
  }
  for (; f < count; ++f) {
    if (slidingNow && slideDone_ < slideTotal_) {
      ++slideDone_;
      const float t = float(slideDone_) / float(slideTotal_);
      if (slideVolOn_) vol_ = slideVol0_ + (slideVol1_ - slideVol0_) * t;
      if (slidePanOn_) pan_ = slidePan0_ + (slidePan1_ - slidePan0_) * t;
    }
    const float gl = vol_ * (pan_ > 0 ? 1.0f - pan_ : 1.0f);
    const float gr = vol_ * (pan_ < 0 ? 1.0f + pan_ : 1.0f);
    const float* in = &fifo_[size_t(f * chans)];
    const float l = in[0];
    const float r = chans > 1 ? in[1] : in[0];
    out[2 * f] += l * gl;
    out[2 * f + 1] += r * gr;
  }
  if (slidingNow && slideDone_ >= slideTotal_) {
    slideVolOn_ = slidePanOn_ = false;
    sliding.store(false, std::memory_order_relaxed);
    slideFinished = true;
  }
  liveVolume.store(vol_, std::memory_order_relaxed);
  livePan.store(pan_, std::memory_order_relaxed);
  fifoFrames_ -= count;
  if (fifoFrames_ > 0)
    std::memmove(fifo_.data(), &fifo_[size_t(count * chans)],
                 size_t(fifoFrames_ * chans) * sizeof(float));
}

}  // namespace audiolib
