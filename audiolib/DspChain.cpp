#include "DspChain.h"

#include <algorithm>
#include <cmath>

namespace audiolib {

bool DspChain::addCallback(HDSP handle, DSPPROC* proc, void* user, int priority) {
  if (entries_.size() >= kMaxChainEntries) return false;
  ChainEntry e;
  e.priority = priority;
  e.order = nextOrder_++;
  e.handle = handle;
  e.proc = proc;
  e.user = user;
  entries_.push_back(e);
  publish();
  return true;
}

bool DspChain::removeCallback(HDSP handle) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const ChainEntry& e) { return e.proc && e.handle == handle; });
  if (it == entries_.end()) return false;
  entries_.erase(it);
  publish();
  return true;
}

Effect* DspChain::findEffect(int type) const {
  for (auto& [t, fx] : effects_)
    if (t == type) return fx.get();
  return nullptr;
}

bool DspChain::addEffect(int type, std::unique_ptr<Effect> effect, int priority) {
  if (entries_.size() >= kMaxChainEntries) return false;
  ChainEntry e;
  e.priority = priority;
  e.order = nextOrder_++;
  e.effect = effect.get();
  e.fxType = type;
  entries_.push_back(e);
  effects_.emplace_back(type, std::move(effect));
  publish();
  return true;
}

int DspChain::latencyFrames() const {
  int frames = 0;
  for (const auto& [type, effect] : effects_) frames += effect->latencyFrames();
  return frames;
}

bool DspChain::removeEffect(int type) {
  auto it = std::find_if(effects_.begin(), effects_.end(),
                         [&](const auto& p) { return p.first == type; });
  if (it == effects_.end()) return false;
  std::erase_if(entries_, [&](const ChainEntry& e) { return e.effect == it->second.get(); });
  graveyard_.emplace_back(nextVersion_, std::move(it->second));
  effects_.erase(it);
  publish();
  return true;
}

void DspChain::publish() {
  auto snap = std::make_unique<ChainSnapshot>();
  snap->version = nextVersion_++;
  std::vector<ChainEntry> sorted = entries_;
  std::stable_sort(sorted.begin(), sorted.end(), [](const ChainEntry& a, const ChainEntry& b) {
    return a.priority != b.priority ? a.priority > b.priority : a.order < b.order;
  });
  snap->count = int(sorted.size());
  std::copy(sorted.begin(), sorted.end(), snap->entries.begin());
  published_.store(snap.get(), std::memory_order_release);
  snapshots_.push_back(std::move(snap));
  collectGarbage();
}

void DspChain::collectGarbage() {
  const uint64_t ack = acknowledged_.load(std::memory_order_acquire);
  // Keep the newest snapshot and every one the mixing thread may still be running.
  std::erase_if(snapshots_, [&](const std::unique_ptr<ChainSnapshot>& s) {
    return s->version < ack && s.get() != published_.load(std::memory_order_relaxed);
  });
  std::erase_if(graveyard_, [&](const auto& p) { return p.first <= ack; });
}

void DspChain::process(DWORD channel, float* frames, int64_t count, int channels, bool floatSamples,
                       int16_t* s16scratch) {
  ChainSnapshot* snap = published_.load(std::memory_order_acquire);
  if (snap != current_) {
    current_ = snap;
    acknowledged_.store(snap ? snap->version : 0, std::memory_order_release);
  }
  if (!current_ || count <= 0) return;
  const int64_t samples = count * channels;
  for (int i = 0; i < current_->count; ++i) {
    const ChainEntry& e = current_->entries[size_t(i)];
    if (e.effect) {
      e.effect->process(frames, size_t(count));
    } else if (floatSamples) {
      e.proc(e.handle, channel, frames, DWORD(samples * sizeof(float)), e.user);
    } else {
      for (int64_t s = 0; s < samples; ++s) {
        const float v = std::clamp(frames[s] * 32768.0f, -32768.0f, 32767.0f);
        s16scratch[s] = int16_t(std::lrint(v));
      }
      e.proc(e.handle, channel, s16scratch, DWORD(samples * sizeof(int16_t)), e.user);
      for (int64_t s = 0; s < samples; ++s) frames[s] = float(s16scratch[s]) / 32768.0f;
    }
  }
}

}  // namespace audiolib
