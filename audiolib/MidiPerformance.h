// The MIDI sequencer of the engine, by the operations the MIDI player calls: a loader that
// reads songs and sound banks, segments (one song each), the performance that plays them on
// the engine's MIDI synthesizer, and the state of a playing segment.
//
// The synthesizer is FluidSynth inside the engine (MidiRenderer): the performance owns an
// engine stream whose frames the synth makes on the mixing thread, so a song is heard on the
// same device as everything else and goes through the same master volume.
//
// All objects are small handles. A default-made or failed one (LoadSegment of a missing file,
// PlaySegmentEx without InitAudio, ...) is null: every call on it does nothing and returns 0
// or false. Nothing throws. Every call comes from one controlling thread (the window's); the
// mixing thread never waits for it.
//
// Music time has 768 units to the quarter note, converted with the song file's division (480
// ticks to the quarter when the file's is zero or in SMPTE frames).
//
// Rendering a song to a file (no sound card): BASS_Init(0, rate, ...), then
//   MidiPerformance perf;  perf.InitAudio();
//   MidiSegment song = MidiLoader().LoadSegment(path);
//   MidiSegmentState state = perf.PlaySegmentEx(song);
//   while (state.IsPlaying()) BASS_MixGetData(buffer, bytes);   // the song
//   while (perf.IsSounding()) BASS_MixGetData(buffer, bytes);   // its last notes ringing out
// then perf.CloseDown() before BASS_Free. State and sounding are brought up to date by each
// BASS_MixGetData call, so the loops end.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bass.h"

typedef struct _fluid_synth_t fluid_synth_t;

namespace audiolib {

class MidiRenderer;
class MidiPerformance;
struct MidiCollectionData;
struct MidiSegmentData;
struct MidiStateData;

// A sound bank (DLS or SoundFont 2), loaded into the synth by the next segment downloaded
// with it.
class MidiCollection {
 public:
  MidiCollection() = default;
  explicit operator bool() const { return bool(data_); }
  std::string path() const;

 private:
  friend class MidiLoader;
  friend class MidiSegment;
  std::shared_ptr<const MidiCollectionData> data_;
};

// One song file, read into memory.
class MidiSegment {
 public:
  MidiSegment() = default;
  explicit operator bool() const { return bool(data_); }

  // The song's instruments come from `bank` first (an empty bank disconnects it).
  bool ConnectToCollection(const MidiCollection& bank);
  // General MIDI program changes are honoured; the synth always does, so this only checks.
  bool SetStandardMidiFile();
  // Makes the instruments present in the performance's synth: the connected bank is loaded
  // there (once; the General MIDI font stays below it). Without a bank there is nothing to do.
  bool Download(MidiPerformance& performance);
  // Length in music time: up to the last event of the longest track.
  int64_t GetLength() const;
  // Where the next PlaySegmentEx begins, in music time (0 at first).
  bool SetStartPoint(int64_t musicTime);
  int division() const;  // ticks per quarter note used for music time; 0 when null

 private:
  friend class MidiLoader;
  friend class MidiPerformance;
  std::shared_ptr<MidiSegmentData> data_;
};

// One play of a segment, as the mixing thread last reported it.
class MidiSegmentState {
 public:
  MidiSegmentState() = default;
  explicit operator bool() const { return bool(data_); }

  // Music time the sequencer has reached in the segment (counted from the segment's start, so
  // a play from a start point begins there), at most the segment's length.
  int64_t GetSeek() const;
  // Music time of what the listener hears now: GetSeek less the output's latency
  // (BASS_GetLatency) and what the synth renders ahead, at the tempo in force. Lyrics are
  // timed from this.
  int64_t GetSeekHeard() const;
  bool IsPlaying() const;  // false once the song ended or was stopped
  bool HasEnded() const;   // played to its end (not stopped)

 private:
  friend class MidiPerformance;
  std::shared_ptr<const MidiStateData> data_;
};

class MidiLoader {
 public:
  // Reads and checks a Standard MIDI File (.mid, .kar) on the caller's thread; null when it
  // is missing, unreadable, not a regular file or not a song FluidSynth can play.
  MidiSegment LoadSegment(const std::string& path);
  // The same from a song already read (ReadSongFile), so that a file is read from disk once.
  MidiSegment LoadSegment(std::vector<uint8_t> bytes);
  // A song file's bytes, empty when it is missing, empty, larger than the player loads, or
  // no regular file: a named pipe would hold the caller until someone writes to it, a device
  // may never end, a directory has no bytes to read.
  static std::vector<uint8_t> ReadSongFile(const std::string& path);
  // A DLS or SoundFont 2 bank; null when the file is missing, no regular file, or of another
  // kind.
  MidiCollection LoadCollection(const std::string& path);
};

class MidiPerformance {
 public:
  MidiPerformance();
  ~MidiPerformance();  // closes down
  MidiPerformance(const MidiPerformance&) = delete;
  MidiPerformance& operator=(const MidiPerformance&) = delete;

  // Creates the synth with the General MIDI sound font (`soundFont`, or defaultSoundFont()
  // when empty), loaded once and kept for every song, and its engine stream, playing from now
  // on. Needs BASS_Init; false when the font (a regular file) or the stream can't be had.
  // Once is enough: a second call only reports whether the first succeeded.
  bool InitAudio(const std::string& soundFont = {});
  // Plays `segment` from its start point, now (`startTime`, a performance time, is taken as
  // "at once"), in place of any song playing. The file is parsed here, on the caller's
  // thread; the mixer takes the prepared player over at its next block.
  MidiSegmentState PlaySegmentEx(const MidiSegment& segment, int64_t startTime = 0);
  // Stops the song: every voice and the effects' tails are silent from the next block on.
  bool StopEx();
  // Tempo factor of every song (1 = the file's tempo), taken to the range the sequencer
  // allows: 0 or less plays at the slowest rate (0.001), never a division by zero.
  bool SetMasterTempo(float factor);
  float GetMasterTempo() const;  // the factor in force (1 until set; 0 when null)
  // Overall level in hundredths of a decibel (0 = the synth's own level), -20000..+2000.
  bool SetMasterVolume(long hundredthsOfDb);
  long GetMasterVolume() const;
  // Transposes the notes of `channel` (0..15) that begin from now on; channel 9 (drums) is
  // never transposed. A note ends on the key it began on.
  bool SendTransposePMSG(int channel, int semitones);
  // The transposition in force on `channel` (0..15): 0 until one is sent, and 0 when null.
  int GetTranspose(int channel) const;
  // The user's instrument for `channel`: the song's own later program changes on that channel
  // are ignored until the next song starts.
  bool SendPatchPMSG(int channel, int program);
  // A channel message to the synth (status 0x80..0xE0; its low nibble is ignored, `channel`
  // counts). Controller 7 (volume) set this way wins over the song's own until the next song.
  bool SendMIDIPMSG(int channel, int status, int data1, int data2);
  // Stops, frees the stream and the synth. Safe to call twice, and after BASS_Free.
  bool CloseDown();

  // Latency in ms between the synth's newest block and the speakers: the output's, and what
  // the synth renders ahead of the mixer (0 on device 0).
  DWORD GetLatency() const;
  // Voices still sounding (a song's last notes ringing out after its end).
  bool IsSounding() const;
  HSTREAM stream() const { return stream_; }
  // The song's loudness gain in dB, on top of the master volume (through the stream's bus);
  // `ramp` false takes it at once.
  bool SetSongGain(float dB, bool ramp);
  // When the latest song's first frame reaches the listener, on the monotonic clock; false
  // while unknown.
  bool songStartHeardNs(int64_t* ns) const;
  // The synth, to read its state only when nothing renders (device 0 between two
  // BASS_MixGetData calls); null when closed.
  fluid_synth_t* synth() const;

  // The General MIDI font: $ORIVELR_SOUNDFONT when set, else FluidR3_GM.sf2 when installed,
  // else TimGM6mb.sf2, else the system's default-GM.sf2; empty when there is none.
  static std::string defaultSoundFont();

 private:
  friend class MidiSegment;
  bool useBank(const std::shared_ptr<const MidiCollectionData>& bank);

  std::shared_ptr<MidiRenderer> renderer_;
  HSTREAM stream_ = 0;
  HBUS bus_ = 0;
  long volume_ = 0;
  float baseGain_ = 0.2f;
  std::shared_ptr<const MidiCollectionData> bank_;
};

}  // namespace audiolib
