// One Standard MIDI File on its way into the synthesizer: the header rules and music time
// (pure functions), and `MidiSong`, a FluidSynth player prepared on the caller's thread and
// then handed whole to the mixing thread.
#pragma once

#include <fluidsynth.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace audiolib {

// Music time: 768 units per quarter note, whatever the file's own division.
constexpr int64_t kMusicPerQuarter = 768;
// Ticks per quarter note assumed for a file whose division is zero or in SMPTE frames.
constexpr int kDefaultDivision = 480;

struct SmfHeader {
  int format = 0;
  int tracks = 0;
  int division = kDefaultDivision;  // ticks per quarter note, always > 0
  bool divisionReplaced = false;    // the file's own division was zero or SMPTE
};

// Reads the "MThd" chunk at the start of `bytes`; nullopt when it is not a MIDI file.
std::optional<SmfHeader> readSmfHeader(std::span<const uint8_t> bytes);
// Writes `division` into the header of `bytes` (which readSmfHeader accepted).
void patchSmfDivision(std::span<uint8_t> bytes, int division);

inline int64_t ticksToMusic(int64_t ticks, int division) {
  return (ticks * kMusicPerQuarter + division / 2) / division;
}
inline int64_t musicToTicks(int64_t music, int division) {
  return (music * division + kMusicPerQuarter / 2) / kMusicPerQuarter;
}

// The longest song the player loads, at the file's own tempo: longer than any real song or
// medley, and its offline render still ends within minutes (a 2.5 GB WAV at 44.1 kHz). One
// delta time of 0x0FFFFFFF ticks alone lasts 77 hours at 120 bpm.
constexpr double kMaxSongSeconds = 4 * 3600.0;
// Seconds from the start of `file` to `totalTicks` at the tempo changes of all its tracks
// (120 bpm before the first) and the division readSmfHeader gives; 0 when it is no MIDI file.
double songSeconds(std::span<const uint8_t> file, int64_t totalTicks);
// Whether a song of `totalTicks` (the player's count) ends within kMaxSongSeconds.
inline bool songLengthAcceptable(std::span<const uint8_t> file, int64_t totalTicks) {
  return songSeconds(file, totalTicks) <= kMaxSongSeconds;
}

// Slowest and fastest tempo factors the player takes (its multiplier range; the lower bound
// is compared as a float there, so 0.001 itself is refused).
constexpr double kMinTempoFactor = double(0.001f);
constexpr double kMaxTempoFactor = 1000.0;

// What the window reads of a playing song, written by the mixing thread.
struct SongStatus {
  enum Phase : int { Playing = 0, Ended = 1, Stopped = 2 };
  std::atomic<int> phase{Playing};
  std::atomic<int64_t> tick{0};           // the player's current tick
  std::atomic<int> usPerQuarter{500000};  // tempo in force, master tempo included
  std::atomic<int64_t> framesPlayed{0};   // device frames since the song started
};

// A player with a synthesizer of its own that only keeps time: FluidSynth drives a player
// from the sample counter of the synth it was made for, and adding or removing a player
// changes that synth's timer list, which may not happen while another thread renders it. So
// every song gets a small silent "clock" synth (no sound font, no voices worth the name, no
// effects); the mixing thread renders the clock and the real synth in 64-frame steps side by
// side, and the player's events reach the real synth through `onEvent`.
class MidiSong {
 public:
  using EventSink = void (*)(void* target, fluid_midi_event_t* event);

  ~MidiSong();
  MidiSong(const MidiSong&) = delete;
  MidiSong& operator=(const MidiSong&) = delete;

  // Parses `file` and runs the player up to `startTick` on the caller's thread. FluidSynth
  // 2.3 reads the file only in the player's first timer call, so the clock renders one block
  // here: the file is parsed, and the events up to the start (programs, controllers, the
  // tempo, the notes that begin there) are kept in `prelude` for the mixing thread to send
  // first. A seek given before the player starts needs no parsed file, and positions the
  // player exactly on `startTick`. Null when FluidSynth can't read the file.
  static std::unique_ptr<MidiSong> prepare(std::span<const uint8_t> file, int sampleRate,
                                           int64_t startTick, double tempoFactor);

  // Mixing thread, from here on. Sends the events to `sink` from now on (the prelude first).
  void goLive(EventSink sink, void* target);
  // Advances the song by one 64-frame block; false once its last event has been sent.
  // (FluidSynth's own player reports its end only two seconds later, a grace time for
  // voices to ring out; here the synth stays and rings out by itself.)
  bool advanceBlock();
  void setTempo(double factor);
  void publish(int64_t frames);

  int64_t totalTicks() const { return totalTicks_; }
  double tempo() const { return tempo_; }
  const std::shared_ptr<SongStatus>& status() const { return status_; }

  static constexpr int kBlock = 64;

 private:
  MidiSong() = default;
  static int onEvent(void* data, fluid_midi_event_t* event);
  bool finished() const;

  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* clock_ = nullptr;
  fluid_player_t* player_ = nullptr;
  std::vector<fluid_midi_event_t*> prelude_;  // the player's own events, valid while it lives
  EventSink sink_ = nullptr;
  void* target_ = nullptr;
  int64_t totalTicks_ = 0;
  double tempo_ = 1.0;
  float scratch_[2 * kBlock] = {};
  std::shared_ptr<SongStatus> status_ = std::make_shared<SongStatus>();
};

}  // namespace audiolib
