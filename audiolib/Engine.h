// The engine behind the audio library interface: the channel registry and its handles, the
// sources that decode files into the channels' feeds, the output device and its mixing
// thread with the limiter at the end of its mix, and the worker thread that feeds the
// channels and delivers syncs.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Channel.h"
#include "Decoder.h"
#include "Device.h"
#include "SongBus.h"

namespace audiolib {

constexpr int kMaxSlots = 1024;  // handle = generation << 10 | slot, slot 1..1023
constexpr int kMaxBuses = 16;    // bus handle = generation << 4 | slot, slot 1..15

// What decodes frames for one or more channels. Two streams of one file created one after
// the other share one decoder while they stay in step; a channel that leaves the step (a
// seek, a pause while the other plays) gets a decoder of its own.
struct Source {
  // Shared so that a decoding stream's read can go on outside the engine's lock (a disc that
  // takes seconds over a scratch), with the decoder alive even if the stream is freed meanwhile.
  std::shared_ptr<Decoder> decoder;
  // Held by the one read or seek of a decoding stream under way, never with the engine's lock.
  std::shared_ptr<std::mutex> reading = std::make_shared<std::mutex>();
  std::vector<Channel*> readers;
  std::string path;  // empty for callback streams and modules (never shared)
  DWORD flags = 0;
  int64_t decoded = 0;  // frames decoded so far
  bool ended = false;
  std::vector<float> buffer;
};

struct EngineEvent {
  DWORD type;  // BASS_SYNC_END or BASS_SYNC_SLIDE
  DWORD handle;
};

// The output stage's peak limiter. Transparent (the samples left as they are) while the mix
// stays within full scale. A frame over full scale lowers the gain at once, so that it comes
// out at the ceiling; the gain then recovers with the release time, and a frame over full
// scale meanwhile comes out at the ceiling or under it. Both channels share the gain, which
// keeps the stereo image.
class PeakLimiter {
 public:
  static constexpr float kCeiling = 0.98f;  // about -0.2 dBFS
  static constexpr double kReleaseSeconds = 0.05;

  // Before the mixer runs: back to unity gain, the release set for `sampleRate`.
  void prepare(int sampleRate);
  // Mixing thread: `count` stereo frames in place.
  void process(float* frames, int count);

 private:
  double gain_ = 1.0;
  double release_ = 0;  // share of the distance to unity recovered per frame
};

class Engine {
 public:
  static Engine& get();

  // All of the following run under `mutex`, never on the mixing thread.
  std::mutex mutex;
  bool initialised = false;
  int device = -1;
  int rate = 44100;
  std::unique_ptr<OutputDevice> output;

  Channel* find(DWORD handle) const;
  DWORD add(std::unique_ptr<Channel> channel, std::unique_ptr<Source> source);
  // Joins `channel` to an existing source of the same file that has decoded nothing yet.
  Source* joinableSource(const std::string& path, DWORD flags);
  void attach(Channel* channel, Source* source);
  void free(Channel* channel);
  void freeAll();
  // Decodes into the feeds of every channel that wants data (all of a source's readers).
  void feedAll();
  void feed(Source& source, int64_t limitFrames);
  // Gives `channel` a new feed starting at `frame`, with a decoder of its own when it shared
  // one. False when the source can't seek there.
  bool seek(Channel* channel, int64_t frame);
  // Marks `channel` to start with the next block (grouped with other starts close in time).
  void arm(Channel* channel);
  void disarm(Channel* channel);
  // Decoding channels: `got` frames the caller read from the channel's decoder outside the
  // lock go through the channel's chain; `got` <= 0 ends the channel.
  void decoded(Channel* channel, float* out, int64_t got);
  // The channels' lengths as their decoders know them now (an MP3's exact length arrives
  // after its stream was created).
  void refreshLengths();
  // A file's stream decoder; rendering on demand, an MP3 decodes ahead on a thread of its own.
  std::unique_ptr<Decoder> openDecoder(const std::string& path, int* error);
  // Song buses: a bus renders its members in place of the mix, then adds them to it.
  HBUS addBus(std::unique_ptr<SongBus> bus);
  SongBus* findBus(HBUS handle) const;
  void freeBus(SongBus* bus);
  // The bus a channel joins leaves it first (and any other bus it was in).
  bool joinBus(SongBus* bus, Channel* channel);
  HDSP newDspHandle() { return nextDsp_++; }
  HSYNC newSyncHandle() { return nextSync_++; }

  bool start(int deviceIndex, int rate, int* error);
  void stop();
  // Runs due syncs and frees channels that ended with the free-at-end flag. Must be called
  // without holding `mutex` (sync callbacks may call the library).
  void dispatchEvents();

  // Mixing thread (or the caller of BASS_MixGetData on device 0).
  void render(float* out, int frames);

  // Frames the mixer has made since the device started (the device's frame count).
  int64_t mixedFrames() const { return mixed_.load(std::memory_order_relaxed); }

  std::atomic<bool> floatDsp{false};
  std::atomic<int> masterVolume{100};
  PeakLimiter limiter;  // the mixing thread's, after the master volume

 private:
  Engine() = default;
  void waitForMixer();
  void splitReader(Source& source, Channel* reader);
  void workerLoop();
  void commitStarts();

  std::atomic<int64_t> mixed_{0};
  std::array<std::atomic<Channel*>, kMaxSlots> slots_{};
  std::array<std::unique_ptr<Channel>, kMaxSlots> owned_{};
  std::array<uint32_t, kMaxSlots> generation_{};
  std::vector<std::unique_ptr<Source>> sources_;
  std::array<std::atomic<SongBus*>, kMaxBuses> buses_{};
  std::array<std::unique_ptr<SongBus>, kMaxBuses> busOwned_{};
  std::array<uint32_t, kMaxBuses> busGeneration_{};
  int nextSlot_ = 1;
  HDSP nextDsp_ = 1;
  HSYNC nextSync_ = 1;

  std::atomic<uint64_t> epoch_{0};  // odd while the mixer renders
  std::atomic<int> armedCount_{0};
  std::atomic<int64_t> lastArmNs_{0};
  SpscQueue<EngineEvent, 1024> events_;

  std::thread worker_;
  std::atomic<bool> running_{false};
  std::condition_variable wake_;
  std::mutex wakeMutex_;
};

// Reads from `decoder` with every non-finite sample made 0: each decoder's output passes here
// (the feeder, decoding streams) before any filter can keep a NaN in its state.
int64_t readFinite(Decoder& decoder, float* out, int64_t frames);

// True on the thread that is rendering (inside DSP callbacks and effects).
bool inRender();

// When frame `frame` of stream `handle` (at the stream's own rate) reaches the listener, on
// the monotonic clock: how a recording started beside the stream lines up with it (at the
// tempo of its song bus). False until the stream's first frame has been mixed, or when the
// device tells no time.
bool streamFrameHeardNs(DWORD handle, int64_t frame, int64_t* ns);

}  // namespace audiolib
