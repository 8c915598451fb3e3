// The MIDI player's procedures: a song chosen, read and opened on the sequencer, played from
// its start point, stopped, and followed to its end; key, tempo and level; the lyric cursor;
// the channel table of the mixer. The window's handlers and the offline renderer call these
// and keep only what they show; the byte rules live in midi/, the sequencer in audiolib/.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Lyrics.h"
#include "MidiPerformance.h"
#include "Patches.h"
#include "SmfTrack.h"
#include "SongScanner.h"

namespace player {

// "MM:SS" of a position, "M :SS" of a length (minutes without a leading zero, a blank, the
// colon), both in whole seconds of the song at its own tempo.
std::string midiPositionText(double seconds);
std::string midiLengthText(double seconds);

class MidiPlayer {
 public:
  MidiPlayer();
  ~MidiPlayer();
  MidiPlayer(const MidiPlayer&) = delete;
  MidiPlayer& operator=(const MidiPlayer&) = delete;

  // The sequencer on the engine (BASS_Init first), with the General MIDI sound font; false
  // when there is none. Once per program.
  bool Initialize(const std::string& soundFont = {});

  // ---- the song
  // Reads the chosen song from disk (the only time it is read) and loads it as the segment;
  // resets the song's flags. False, with nothing loaded, when it is no song the sequencer plays
  // or no regular file (a named pipe, a device or a directory is refused before it is opened).
  bool chooseSong(const std::string& path);
  const std::string& fileName() const { return fileName_; }
  bool hasSong() const { return bool(songSegment); }
  // Reads the song's facts (tempo, lyrics, channels) from its bytes, prepares the sequencer
  // (sound bank, instruments, tempo 1, key 0, the level of `level`, 0..100) and the length
  // display. The song's own volumes and instruments count until the user changes one.
  void OpenMusic(int level);
  // Stops what plays; the synthesizer and its sound font stay for the next song.
  void CloseDevice();
  // Plays the opened song from `startTime`: places the lyric cursor, starts the segment and
  // re-sends the user's channel changes (`sliders`: the 16 volume sliders' values).
  void Play(const std::array<int, 16>& sliders);
  // Stops the song; the next Play opens it again and starts from the beginning.
  void Stop();
  void SeekEnd();

  struct Tick {
    bool ended = false;    // the song reached its end on this tick
    std::string position;  // the position text while the song plays, else empty
  };
  // The position timer: progress, the end of the song (reached or reported by the sequencer),
  // and the position as heard.
  Tick Timer_Timer();
  // The lyric timer: the index of the syllable to light now, when the cursor moved.
  std::optional<long> Timer1_Timer();

  // ---- key, tempo, level, sound bank
  bool transpose(int key);  // false (nothing sent) while no song plays
  // The key the sequencer plays in now, in semitones: what is heard, whatever a control shows.
  int keyHeard() const;
  // The tempo it plays at, as a factor of the song's own (1.25 = a quarter faster).
  double tempoHeard() const;
  void setTempo(int slider);
  void setLevel(int slider1);
  // A DLS or SoundFont bank for the next opening; false when the file is no bank.
  bool loadSoundBank(const std::string& path);

  // ---- the channel mixer
  void ZeroVariables();
  // Whether the song now open carries notes on `channel` (0..15): its strip can be used.
  bool channelPlayable(int channel) const;
  // The user's level for `channel` (controller 7), remembered for the next play: from now on
  // it wins over the song's own volume changes on that channel, until a song is opened. Only
  // a user's move calls this; filling the strips with the song's levels must not.
  void channelVolume(int channel, int volume);
  void channelProgram(int channel, int program);
  void SetChannels(const std::array<int, 16>& sliders);

  // Seconds of the song at its own tempo to music time `musicTime`.
  double seconds(int64_t musicTime) const;
  double lengthSeconds() const;

  // ---- the state (the sequencer's and the song's, by their names)
  audiolib::MidiLoader midiLoader;
  std::unique_ptr<audiolib::MidiPerformance> midiPerformance;
  audiolib::MidiSegment songSegment;
  audiolib::MidiSegment patchSegment;
  audiolib::MidiSegmentState songState;
  audiolib::MidiCollection soundBank;
  bool songLoaded = false;
  int songPlaying = 0;
  int64_t startTime = 0;
  int progressPercent = 0;
  bool midiRunning = false;
  bool stopPending = false;
  bool stopLatch = false;
  bool stoppedOnce = false;
  std::string lengthText;  // "M :SS"
  std::vector<uint8_t> songBytes;
  int smfFormat = 0;
  int trackCount = 0;
  std::optional<midi::SongTiming> timing;
  midi::LyricTable lyrics;
  long lyricCursor = 0;
  midi::ChannelTable channelTable;

 private:
  void sendKey(int key);  // to every channel but the drums'
  std::string fileName_;
  midi::TempoMap tempoMap_;
  std::array<bool, 16> playable_{};
};

}  // namespace player
