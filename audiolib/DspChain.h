// The chain of DSP callbacks and effects of one channel. The window thread keeps the list,
// sorted by priority (higher first; equal priorities in the order attached), and publishes an
// immutable snapshot of it; the mixing thread runs the newest snapshot it has picked up.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "Effect.h"
#include "bass.h"

namespace audiolib {

constexpr int kMaxChainEntries = 48;

struct ChainEntry {
  int priority = 0;
  uint64_t order = 0;  // attachment order, breaks ties between equal priorities
  HDSP handle = 0;     // DSP callbacks only
  DSPPROC* proc = nullptr;
  void* user = nullptr;
  Effect* effect = nullptr;  // effects only (owned by the chain's owner)
  int fxType = 0;
};

struct ChainSnapshot {
  uint64_t version = 0;
  int count = 0;
  std::array<ChainEntry, kMaxChainEntries> entries{};
};

class DspChain {
 public:
  // Window side. Each change publishes a new snapshot; false when the chain is full.
  bool addCallback(HDSP handle, DSPPROC* proc, void* user, int priority);
  bool removeCallback(HDSP handle);
  bool hasEffect(int type) const { return findEffect(type) != nullptr; }
  Effect* findEffect(int type) const;
  bool addEffect(int type, std::unique_ptr<Effect> effect, int priority);
  bool removeEffect(int type);
  // Frees snapshots and detached effects that the mixing thread no longer uses.
  void collectGarbage();
  bool empty() const { return entries_.empty(); }
  // Frames by which the chain's effects delay what passes through them.
  int latencyFrames() const;

  // Mixing thread: picks up the newest snapshot (no lock) and runs it over the frames.
  // `floatSamples` false hands DSP callbacks 16-bit samples, converted through `s16scratch`.
  void process(DWORD channel, float* frames, int64_t count, int channels, bool floatSamples,
               int16_t* s16scratch);

 private:
  void publish();

  // window side
  std::vector<ChainEntry> entries_;
  std::vector<std::pair<int, std::unique_ptr<Effect>>> effects_;
  std::vector<std::pair<uint64_t, std::unique_ptr<Effect>>> graveyard_;  // freed at version
  std::vector<std::unique_ptr<ChainSnapshot>> snapshots_;                // published, oldest first
  uint64_t nextOrder_ = 1;
  uint64_t nextVersion_ = 1;

  // shared
  std::atomic<ChainSnapshot*> published_{nullptr};
  std::atomic<uint64_t> acknowledged_{0};
  // mixing thread
  ChainSnapshot* current_ = nullptr;
};

}  // namespace audiolib
