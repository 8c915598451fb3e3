// One channel of the engine: a stream decoded from a file or a callback, or a module. The
// window thread creates it and changes it under the engine's lock; the mixing thread renders
// it without any lock, through atomics, snapshots and small queues.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DspChain.h"
#include "Resampler.h"
#include "RingBuffer.h"
#include "bass.h"

namespace audiolib {

class Engine;
class SongBus;
struct Source;

constexpr int64_t kChunkFrames = 1024;  // frames through the DSP chain at most per call
constexpr int kMaxBlockFrames = 4096;   // largest block the mixer renders at once
constexpr int kMaxChannelsPerStream = 8;

// Decoded frames on their way to the mixing thread, with the resampler that takes them from
// the channel's rate to the device rate. A new feed replaces the old one on every seek.
struct Feed {
  Feed(int channels, int64_t capacity, int64_t startFrame, uint64_t id, int rate, int deviceRate)
      : ring(channels, capacity, startFrame, id) {
    if (rate != deviceRate) resampler = std::make_unique<Resampler>(rate, deviceRate, channels);
  }
  RingBuffer ring;
  std::unique_ptr<Resampler> resampler;
};

// Makes a channel's frames on the mixing thread itself (the MIDI synthesizer), in place of
// frames decoded ahead into a feed. No lock, no allocation, no I/O.
class ChannelRenderer {
 public:
  virtual ~ChannelRenderer() = default;
  // Writes `count` interleaved frames at the channel's rate and channel count; returns how
  // many were made: fewer than `count` at the channel's end.
  virtual int64_t render(float* frames, int64_t count) = 0;
};

struct AttrCommand {
  enum Kind { Set, Slide } kind = Set;
  float volume = -1;   // 0..1, negative keeps
  float pan = NAN;     // -1..1, NaN keeps
  int64_t frames = 0;  // slide duration in device frames
};

struct SyncEntry {
  HSYNC handle;
  DWORD type;
  SYNCPROC* proc;
  void* user;
};

class Channel {
 public:
  Channel(DWORD flags, int rate, int channels, DWORD ctype, int64_t lengthFrames, int deviceRate,
          bool music, std::unique_ptr<ChannelRenderer> renderer = nullptr);

  // ---- immutable after creation
  DWORD handle = 0;
  const DWORD flags;
  const int rate;
  const int chans;
  const DWORD ctype;
  // Frames, -1 unknown. Set from the decoder by the engine: an MP3's length is exact only once
  // its scan is done.
  std::atomic<int64_t> lengthFrames;
  const int deviceRate;
  const bool music;
  const std::unique_ptr<ChannelRenderer> renderer;  // set: frames made while mixing
  std::string path;
  int bytesPerFrame() const { return chans * ((flags & BASS_SAMPLE_FLOAT) ? 4 : 2); }
  bool decodeOnly() const { return flags & BASS_STREAM_DECODE; }

  // ---- window side, under the engine's lock
  Source* source = nullptr;
  DspChain chain;
  std::vector<SyncEntry> syncs;
  bool autofree = false;
  bool loop = false;
  float shadowVolume = 1.0f;
  float shadowPan = 0.0f;
  std::vector<std::unique_ptr<Feed>> feeds;  // newest last; the producer writes the newest
  uint64_t nextFeedId = 1;
  Feed* producer() { return feeds.back().get(); }
  // Starts a new feed at `frame` and hands it to the mixing thread.
  void newFeed(int64_t frame);
  void collectGarbage();
  bool wantsData() const;

  // ---- shared with the mixing thread
  std::atomic<DWORD> state{BASS_ACTIVE_STOPPED};
  std::atomic<bool> armed{false};
  std::atomic<bool> stalled{false};
  std::atomic<bool> ended{false};
  std::atomic<int64_t> position{0};  // frames, as rendered
  // The device frame that carried the stream's first frame; -1 until it is mixed.
  std::atomic<int64_t> firstOutputFrame{-1};
  std::atomic<DWORD> level{0};
  std::atomic<bool> sliding{false};
  std::atomic<float> liveVolume{1.0f};
  std::atomic<float> livePan{0.0f};
  SpscQueue<AttrCommand, 64> commands;
  // Frames (at the channel's rate) by which its chain's effects delay it: what is heard is that
  // much behind what was read. Set with every change of the chain.
  std::atomic<int> dspLatency{0};
  // The latency when the first frame was mixed (firstOutputFrame counts it).
  std::atomic<int> firstLatency{0};
  // The song bus the channel is mixed into (then the bus renders it, not the engine's mix).
  std::atomic<SongBus*> bus{nullptr};

  // ---- mixing thread
  // Adds this channel's next `count` device frames into `out` (stereo). Returns true when
  // the channel reached its end during this block.
  // `outputFrame`: the device's frame at out[0].
  bool render(float* out, int count, bool floatDsp, int64_t outputFrame);
  // Picks up hand-overs from the window thread (feed, attributes) without rendering.
  void pickUp();
  // The feed being played (0 before the first) and the frame it started at.
  uint64_t feedId() const { return feed_ ? feed_->ring.id() : 0; }
  int64_t feedStart() const { return feed_ ? feed_->ring.startFrame() : 0; }
  // Whether the next `count` device frames can be rendered without running dry: the feed holds
  // them (or its end), or the channel makes its frames itself.
  bool canRender(int count) const;
  // Set by a bus whose stretcher still holds the channel's sound: at its end the channel keeps
  // playing (silent) until the bus calls `finishEnd` once the sound has come out.
  bool deferEnd = false;
  void finishEnd();

 private:
  void applyCommand(const AttrCommand& c);
  void mix(float* out, int count);

  std::atomic<Feed*> publishedFeed_{nullptr};
  std::atomic<uint64_t> feedAck_{0};
  Feed* feed_ = nullptr;
  int64_t consumed_ = 0;        // frames read from the current feed
  bool inputEnded_ = false;     // the feed's last frame went into the resampler
  // After the feed's last frame, the silence that brings out what the chain still delays.
  int64_t tailLeft_ = -1;       // -1: not begun
  std::vector<float> scratch_;  // kChunkFrames native frames
  std::vector<int16_t> s16_;    // same, for 16-bit DSP callbacks
  std::vector<float> fifo_;     // device-rate frames ready to mix
  int64_t fifoFrames_ = 0;
  int64_t fifoCapacity_ = 0;
  float vol_ = 1.0f, pan_ = 0.0f;
  float slideVol0_ = 1, slideVol1_ = 1, slidePan0_ = 0, slidePan1_ = 0;
  int64_t slideTotal_ = 0, slideDone_ = 0;
  bool slideVolOn_ = false, slidePanOn_ = false;

 public:
  bool slideFinished = false;  // mixing thread: a slide ended in the last block
};

}  // namespace audiolib
