#include "SongBus.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Channel.h"

namespace audiolib {

namespace {
constexpr float kDefaultTempo = 1.0f;
// Most stretcher rounds one block may take: a fresh stretcher wants its start pad and its
// delay's worth of input before the first frame comes out.
constexpr int kMaxRounds = 64;
// After the last frame of the song has come out, this much more (silent) output is given, so
// that a renderer that counts the song's length at the new tempo never runs short.
constexpr int kTailFrames = 2048;
// Before its first frame after a start or a seek the stretcher wants a burst of input (its
// start delay): it waits until each stream's feed holds this much more, so that the feeder
// is not caught short right after the song was heard to begin (a gap then would delay the
// whole song against a take lined up with its first frame).
constexpr int kPrerollFrames = 8192;
// Largest gain step per block when the gain ramps (the loudness estimate grows as a song is
// measured): about 1.5 dB.
constexpr float kMaxRampStep = 1.19f;

bool isDefault(float semitones, float tempo) {
  return semitones == 0.0f && tempo == kDefaultTempo;
}
}  // namespace

SongBus::SongBus(int deviceRate, StretchEngine engine) : deviceRate_(deviceRate), engine_(engine) {
  in_.resize(size_t(2 * kMaxBlockFrames));
  fifoCapacity_ = 2 * kMaxBlockFrames;
  fifo_.resize(size_t(2 * fifoCapacity_));
}

SongBus::~SongBus() = default;

bool SongBus::add(Channel* c) {
  for (auto& m : members_)
    if (m.load() == c) return true;
  for (auto& m : members_) {
    if (m.load() == nullptr) {
      m.store(c, std::memory_order_release);
      c->bus.store(this, std::memory_order_release);
      membership_.fetch_add(1, std::memory_order_release);
      return true;
    }
  }
  return false;
}

void SongBus::remove(Channel* c) {
  for (auto& m : members_) {
    if (m.load() == c) {
      m.store(nullptr, std::memory_order_seq_cst);
      membership_.fetch_add(1, std::memory_order_release);
    }
  }
}

std::vector<Channel*> SongBus::members() const {
  std::vector<Channel*> list;
  for (auto& m : members_)
    if (Channel* c = m.load()) list.push_back(c);
  return list;
}

bool SongBus::needsStretcher(float semitones, float tempo) const {
  return !stretcher_.load(std::memory_order_acquire) && !isDefault(semitones, tempo);
}

void SongBus::installStretcher(std::unique_ptr<Stretcher> stretcher) {
  if (owned_ || !stretcher) return;
  owned_ = std::move(stretcher);
  stretcher_.store(owned_.get(), std::memory_order_release);
}

void SongBus::setKeyTempo(float semitones, float tempo) {
  semitones_.store(semitones, std::memory_order_relaxed);
  tempo_.store(tempo, std::memory_order_relaxed);
}

void SongBus::setGain(float dB, bool ramp) {
  gainDb_.store(dB, std::memory_order_relaxed);
  gainTarget_.store(std::pow(10.0f, dB / 20.0f), std::memory_order_relaxed);
  gainJump_.store(!ramp, std::memory_order_release);
}

double SongBus::latencyMs() const {
  const Stretcher* s = stretcher_.load(std::memory_order_acquire);
  return s && stretching() ? s->latencyMs() : 0.0;
}

bool SongBus::resetDue(const std::array<Channel*, kMaxMembers>& m) {
  bool due = false;
  const uint32_t membership = membership_.load(std::memory_order_acquire);
  if (membership != seenMembership_) {
    seenMembership_ = membership;
    due = true;
  }
  for (int i = 0; i < kMaxMembers; ++i) {
    Channel* c = m[size_t(i)];
    const uint64_t feed = c ? c->feedId() : 0;
    if (c != seen_[size_t(i)] || feed != seenFeed_[size_t(i)]) due = true;
    seen_[size_t(i)] = c;
    seenFeed_[size_t(i)] = feed;
  }
  return due;
}

void SongBus::render(float* out, int count, bool floatDsp, int64_t outputFrame, Report* report) {
  std::array<Channel*, kMaxMembers> m{};
  for (int i = 0; i < kMaxMembers; ++i) {
    m[size_t(i)] = members_[size_t(i)].load(std::memory_order_seq_cst);
    if (m[size_t(i)]) m[size_t(i)]->pickUp();
  }
  if (gainJump_.exchange(false, std::memory_order_acquire))
    gain_ = gainTarget_.load(std::memory_order_relaxed);

  Stretcher* stretcher = stretcher_.load(std::memory_order_acquire);
  const float semitones = semitones_.load(std::memory_order_relaxed);
  const float tempo = tempo_.load(std::memory_order_relaxed);
  const bool wanted = stretcher && !isDefault(semitones, tempo);
  if (resetDue(m)) {
    // A seek or a new song: the stretcher starts from rest, and leaves the path if the key
    // and tempo are back at their defaults.
    stretching_ = wanted;
    fifoFrames_ = 0;
    draining_ = false;
    inputEnded_ = {};
    started_ = false;
    if (stretching_) stretcher->reset();
  } else if (wanted && !stretching_) {
    // It comes into the path mid-song: aligned, its first frame is the next input frame.
    stretching_ = true;
    fifoFrames_ = 0;
    started_ = true;  // the feeds are full by now: no waiting mid-song
    stretcher->reset();
  }
  stretchingNow_.store(stretching_, std::memory_order_relaxed);
  if (!stretching_) {
    renderDirect(out, m, count, floatDsp, outputFrame, report);
    return;
  }
  if (semitones != appliedSemitones_ || tempo != appliedTempo_) {
    stretcher->setKeyTempo(semitones, tempo);
    appliedSemitones_ = semitones;
    appliedTempo_ = tempo;
  }
  renderStretched(m, count, floatDsp, report);
  const int n = std::min(count, fifoFrames_);
  if (n <= 0) return;
  addWithGain(out, fifo_.data(), n);
  fifoFrames_ -= n;
  if (fifoFrames_ > 0)
    std::memmove(fifo_.data(), fifo_.data() + 2 * n, size_t(2 * fifoFrames_) * sizeof(float));

  started_ = true;
  // The listener hears the song's first frame now, when the stretcher started with it.
  // (Effects that delay a stream delay its first frame too, by their latency at this tempo.)
  for (Channel* c : m) {
    if (c && c->feedStart() == 0 && c->firstOutputFrame.load(std::memory_order_relaxed) < 0) {
      const int latency = c->dspLatency.load(std::memory_order_relaxed);
      c->firstLatency.store(latency, std::memory_order_relaxed);
      c->firstOutputFrame.store(
          outputFrame + std::llround(double(latency) * deviceRate_ / c->rate / tempo),
          std::memory_order_release);
    }
  }
  // What the listener hears is behind what the members consumed by what the stretcher and
  // the bus still hold.
  const double pending = stretcher->pendingInputFrames() + double(fifoFrames_) * tempo;
  for (Channel* c : m) {
    if (!c) continue;
    const int64_t held = int64_t(std::llround(pending * c->rate / deviceRate_));
    const int64_t pos = c->position.load(std::memory_order_relaxed);
    c->position.store(std::max(c->feedStart(), pos - held), std::memory_order_relaxed);
  }
}

void SongBus::renderDirect(float* out, const std::array<Channel*, kMaxMembers>& m, int count,
                           bool floatDsp, int64_t outputFrame, Report* report) {
  std::memset(in_.data(), 0, size_t(2 * count) * sizeof(float));
  for (int i = 0; i < kMaxMembers; ++i) {
    Channel* c = m[size_t(i)];
    if (!c) continue;
    c->deferEnd = false;
    if (c->render(in_.data(), count, floatDsp, outputFrame)) report->ended[size_t(i)] = c;
    if (c->slideFinished) report->slid[size_t(i)] = c;
  }
  addWithGain(out, in_.data(), count);
}

void SongBus::renderStretched(const std::array<Channel*, kMaxMembers>& m, int count, bool floatDsp,
                              Report* report) {
  Stretcher* stretcher = stretcher_.load(std::memory_order_relaxed);
  bool playing = false, allEnded = true, anyMember = false;
  for (int i = 0; i < kMaxMembers; ++i) {
    Channel* c = m[size_t(i)];
    if (!c) continue;
    anyMember = true;
    c->deferEnd = true;
    if (c->state.load(std::memory_order_relaxed) == BASS_ACTIVE_PLAYING) {
      playing = true;
      if (!inputEnded_[size_t(i)]) allEnded = false;
    }
  }
  // Paused or stopped: the stretcher keeps what it holds for the resume.
  if (!anyMember || !playing) return;
  if (allEnded && !draining_) {
    draining_ = true;
    silencePushed_ = 0;
    tailFrames_ = 0;
  }
  for (int round = 0; round < kMaxRounds && fifoFrames_ < count; ++round) {
    const int want = std::clamp(stretcher->required(), 1, kMaxBlockFrames);
    // A member whose feed has not caught up would give silence in place of the song, and
    // the stretcher would keep it: this block then plays what is ready and the song waits.
    if (!draining_) {
      bool ready = true;
      const int needed = want + (started_ ? 0 : kPrerollFrames);
      for (int i = 0; i < kMaxMembers; ++i) {
        Channel* c = m[size_t(i)];
        if (c && !inputEnded_[size_t(i)] &&
            c->state.load(std::memory_order_relaxed) == BASS_ACTIVE_PLAYING &&
            !c->canRender(needed))
          ready = false;
      }
      if (!ready) break;
    }
    std::memset(in_.data(), 0, size_t(2 * want) * sizeof(float));
    if (!draining_) {
      for (int i = 0; i < kMaxMembers; ++i) {
        Channel* c = m[size_t(i)];
        if (!c || inputEnded_[size_t(i)]) continue;
        if (c->render(in_.data(), want, floatDsp, -1)) inputEnded_[size_t(i)] = true;
        if (c->slideFinished) report->slid[size_t(i)] = c;
      }
    } else {
      silencePushed_ += want;
    }
    stretcher->push(in_.data(), want);
    const int room = fifoCapacity_ - fifoFrames_;
    fifoFrames_ += stretcher->pull(&fifo_[size_t(2 * fifoFrames_)], room);
    if (!draining_) {
      allEnded = true;
      for (int i = 0; i < kMaxMembers; ++i)
        if (m[size_t(i)] && !inputEnded_[size_t(i)] &&
            m[size_t(i)]->state.load(std::memory_order_relaxed) == BASS_ACTIVE_PLAYING)
          allEnded = false;
      if (allEnded) {
        draining_ = true;
        silencePushed_ = 0;
        tailFrames_ = 0;
      }
    }
  }
  if (!draining_) return;
  // The song's input has ended: once the stretcher has given out all of it (only pushed
  // silence left inside) and a short silent tail has followed, the members end.
  if (stretcher->pendingInputFrames() <= silencePushed_)
    tailFrames_ += std::min(count, fifoFrames_);
  if (tailFrames_ < kTailFrames) return;
  for (int i = 0; i < kMaxMembers; ++i) {
    Channel* c = m[size_t(i)];
    if (!c) continue;
    c->finishEnd();
    report->ended[size_t(i)] = c;
  }
  draining_ = false;
}

void SongBus::addWithGain(float* out, const float* in, int count) {
  const float target = gainTarget_.load(std::memory_order_relaxed);
  float end = target;
  if (gain_ > 0 && target > 0) end = std::clamp(target, gain_ / kMaxRampStep, gain_ * kMaxRampStep);
  const float step = count > 0 ? (end - gain_) / float(count) : 0.0f;
  float g = gain_;
  for (int f = 0; f < count; ++f) {
    g += step;
    out[2 * f] += in[2 * f] * g;
    out[2 * f + 1] += in[2 * f + 1] * g;
  }
  gain_ = end;
}

}  // namespace audiolib
