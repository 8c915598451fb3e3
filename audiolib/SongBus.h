// A song's streams mixed and processed as one before the master mix. The song's main stream
// (with the remover and its effects) and its bass path are rendered into the bus, then moved
// in key and tempo by one stretcher, so that their sum does not comb and both are consumed at
// one rate, then given the song's loudness gain. The window thread changes a bus under the
// engine's lock; the mixing thread renders it through atomics, without lock or allocation.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "Stretcher.h"
#include "bass.h"

namespace audiolib {

class Channel;

class SongBus {
 public:
  static constexpr int kMaxMembers = 4;

  // `deviceRate`: the mixer's rate; `engine`: the stretcher's engine when one is built.
  SongBus(int deviceRate, StretchEngine engine);
  ~SongBus();
  SongBus(const SongBus&) = delete;
  SongBus& operator=(const SongBus&) = delete;

  // ---- window thread, under the engine's lock
  HBUS handle = 0;
  // False when the bus is full.
  bool add(Channel* c);
  // The member leaves the bus; the caller waits for the mixer before it frees the channel.
  void remove(Channel* c);
  std::vector<Channel*> members() const;
  // Key in semitones and tempo (1 = as recorded, 0.9 = slower). A stretcher must be installed
  // (see `needsStretcher`) before either leaves its default.
  void setKeyTempo(float semitones, float tempo);
  bool needsStretcher(float semitones, float tempo) const;
  // Built off the mixing thread (and off the engine's lock: it takes a while); installed once.
  void installStretcher(std::unique_ptr<Stretcher> stretcher);
  StretchEngine engine() const { return engine_; }
  // The song's gain; `ramp` false takes it at once (before the song is heard).
  void setGain(float dB, bool ramp);
  float gainDb() const { return gainDb_.load(std::memory_order_relaxed); }
  float semitones() const { return semitones_.load(std::memory_order_relaxed); }
  float tempo() const { return tempo_.load(std::memory_order_relaxed); }
  // True while the stretcher is in the path of what the listener hears.
  bool stretching() const { return stretchingNow_.load(std::memory_order_relaxed); }
  // The delay the stretcher adds at the ratios now, in ms (0 while it is out of the path).
  double latencyMs() const;

  // ---- mixing thread
  struct Report {
    std::array<Channel*, kMaxMembers> ended{};  // members whose sound has ended
    std::array<Channel*, kMaxMembers> slid{};   // members whose attribute slide finished
  };
  // Adds the bus's next `count` stereo frames into `out`; `outputFrame`: the device's frame at
  // out[0].
  void render(float* out, int count, bool floatDsp, int64_t outputFrame, Report* report);

 private:
  bool resetDue(const std::array<Channel*, kMaxMembers>& m);
  void renderDirect(float* out, const std::array<Channel*, kMaxMembers>& m, int count,
                    bool floatDsp, int64_t outputFrame, Report* report);
  void renderStretched(const std::array<Channel*, kMaxMembers>& m, int count, bool floatDsp,
                       Report* report);
  void addWithGain(float* out, const float* in, int count);

  const int deviceRate_;
  const StretchEngine engine_;
  std::array<std::atomic<Channel*>, kMaxMembers> members_{};
  std::atomic<uint32_t> membership_{0};  // changes with every add and remove
  std::unique_ptr<Stretcher> owned_;
  std::atomic<Stretcher*> stretcher_{nullptr};
  std::atomic<float> semitones_{0}, tempo_{1};
  std::atomic<float> gainDb_{0};
  std::atomic<float> gainTarget_{1};
  std::atomic<bool> gainJump_{false};
  std::atomic<bool> stretchingNow_{false};

  // Mixing thread only; buffers sized at construction.
  std::vector<float> in_;    // members' frames on their way into the stretcher or the mix
  std::vector<float> fifo_;  // stretched frames waiting for the mix
  int fifoFrames_ = 0;
  int fifoCapacity_ = 0;
  bool stretching_ = false;
  bool draining_ = false;
  bool started_ = false;  // frames have come out since the last reset
  double silencePushed_ = 0;
  int tailFrames_ = 0;
  float gain_ = 1;
  float appliedSemitones_ = 0, appliedTempo_ = 1;
  uint32_t seenMembership_ = 0;
  std::array<Channel*, kMaxMembers> seen_{};
  std::array<uint64_t, kMaxMembers> seenFeed_{};
  std::array<bool, kMaxMembers> inputEnded_{};
};

}  // namespace audiolib
