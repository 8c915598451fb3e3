// The MIDI synthesizer of the engine: one FluidSynth synth with the General MIDI sound font,
// rendered by the mixing thread as an engine stream, and the song playing on it.
//
// Threads. One controlling thread (the window's) calls everything except `render`. While
// the stream plays only the mixing thread touches the synth and the song's player: the
// controlling thread prepares a song off to the side (see MidiSong) and hands it over through
// a lock-free queue together with every other command (play, stop, program and controller
// messages); tempo, gain and transposition are single values the mixer picks up from atomics
// at the start of each block. Songs the mixer is done with come back through a second queue
// and are freed on the controlling thread. Loading a sound bank into the synth is the one
// thing that needs the synth to itself: `Exclusive` keeps the mixer off it (the mixer then
// renders silence for the MIDI stream instead of waiting) for the length of the load.
//
// On a real output device the synth runs ahead on a thread of its own (`runAhead`): the synth
// allocates as it plays (its voice threads, a tuning message, a reset), which the mixing
// thread may not, so the mixer only copies what the synth thread made into a ring a few
// blocks ahead of it. Everything said above of "the mixing thread" then holds for the synth
// thread. On the render-on-demand device the synth renders inline, block for block.
#pragma once

#include <fluidsynth.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "MidiSong.h"
#include "RingBuffer.h"

namespace audiolib {

class MidiRenderer {
 public:
  // Creates the synth at `sampleRate` with the sound font at `soundFont`; null when either
  // fails.
  static std::unique_ptr<MidiRenderer> create(int sampleRate, const std::string& soundFont);
  ~MidiRenderer();
  MidiRenderer(const MidiRenderer&) = delete;
  MidiRenderer& operator=(const MidiRenderer&) = delete;

  int sampleRate() const { return rate_; }
  float baseGain() const { return baseGain_; }  // the synth's own gain, at 0 dB

  // ---- controlling thread. The bool results are false when the queue to the mixer is full.
  bool play(std::unique_ptr<MidiSong> song);
  bool stop();
  bool programChange(int channel, int program);
  // A channel message (status 0x80..0xE0, the channel taken from `channel`).
  bool channelMessage(int channel, int status, int data1, int data2);
  void setTempo(double factor) { tempo_.store(factor, std::memory_order_relaxed); }
  double tempo() const { return tempo_.load(std::memory_order_relaxed); }
  void setGain(float gain) { gain_.store(gain, std::memory_order_relaxed); }
  void setTranspose(int channel, int semitones) {
    transpose_[size_t(channel)].store(semitones, std::memory_order_relaxed);
  }
  // Semitones the notes of `channel` that begin from now on are moved by: the key heard.
  int transpose(int channel) const {
    return transpose_[size_t(channel)].load(std::memory_order_relaxed);
  }
  // Voices sounding at the end of the latest block (notes still ringing out after a song).
  int activeVoices() const { return activeVoices_.load(std::memory_order_acquire); }
  // Frees the songs the mixer let go.
  void collect();
  // Puts the bank at `path` on top of the sound fonts (the General MIDI font stays below for
  // the instruments the bank lacks) and unloads the banks loaded before it when no song plays.
  // Returns the bank's font id, or -1.
  int loadBank(const std::string& path);

  // Keeps the mixer off the synth while it lives; waits for a block in progress to finish.
  class Exclusive {
   public:
    explicit Exclusive(MidiRenderer& r);
    ~Exclusive();
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;

   private:
    MidiRenderer& r_;
  };
  // The synth, for the controlling thread inside an Exclusive, or before the stream plays,
  // or on the render-on-demand device between two renders (tests read the synth's state).
  fluid_synth_t* synth() const { return synth_; }

  // Starts the synth thread; from then on `render` copies from its ring. Frames made ahead
  // of the mixer, at most: commands and the song's position are that much ahead of the ring's
  // reader.
  void runAhead();
  int64_t aheadFrames() const { return ahead_ ? kAheadFrames : 0; }
  // Blocks the mixer found the ring short of frames (the synth thread fell behind).
  int64_t underruns() const { return underruns_.load(std::memory_order_relaxed); }

  // The stream frame the latest song started on (frames of the stream from its first); -1
  // before any song.
  int64_t songStartFrame() const { return songStart_.load(std::memory_order_acquire); }

  // ---- mixing thread: writes `count` stereo frames; always all of them.
  int64_t render(float* frames, int64_t count);

 private:
  struct Command {
    enum Kind { Play, Stop, Program, Message } kind = Stop;
    MidiSong* song = nullptr;
    int channel = 0, status = 0, data1 = 0, data2 = 0;
  };
  static constexpr size_t kQueue = 256;

  static constexpr int64_t kAheadFrames = 2048;

  MidiRenderer() = default;
  int64_t synthesize(float* frames, int64_t count);
  void aheadLoop();
  bool push(const Command& c);
  void apply(const Command& c);
  void resetSynth();
  void retire(MidiSong* song);
  static void route(void* self, fluid_midi_event_t* event);
  void route(fluid_midi_event_t* event);

  int rate_ = 44100;
  float baseGain_ = 0.2f;
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;

  SpscQueue<Command, kQueue> commands_;
  SpscQueue<MidiSong*, kQueue + 2> retired_;
  std::atomic<double> tempo_{1.0};
  std::atomic<float> gain_{0.2f};
  std::array<std::atomic<int>, 16> transpose_{};
  std::atomic<int> activeVoices_{0};
  static constexpr int kWanted = 1, kInside = 2;
  std::atomic<int> gate_{0};
  std::vector<int> banks_;  // font ids of loaded banks, oldest first

  // The synth thread and its ring (null on the render-on-demand device).
  std::unique_ptr<RingBuffer> ahead_;
  std::thread aheadThread_;
  std::atomic<bool> aheadRunning_{false};
  std::counting_semaphore<1 << 20> aheadWake_{0};
  std::atomic<int64_t> underruns_{0};

  std::atomic<int64_t> songStart_{-1};
  // Mixing thread only.
  int64_t synthesized_ = 0;  // frames made since the stream started
  MidiSong* song_ = nullptr;
  int64_t songFrames_ = 0;
  int blockPhase_ = 0;  // frames of the current 64-frame block already written
  float appliedGain_ = -1;
  bool silenced_ = false;  // stopped: the synth's leftovers are rendered but not heard
  std::array<bool, 16> userProgram_{};
  std::array<bool, 16> userVolume_{};
  std::array<std::array<int16_t, 128>, 16> soundingKey_{};  // key a note-on sent, per file key
};

}  // namespace audiolib
