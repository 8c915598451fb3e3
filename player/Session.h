// The main window's modes in one place: which kind of song is loaded, whether a take is being
// recorded or waits to be saved, whether a ripped CD track waits for the player or a rip is
// running, whether a song plays. The window's handlers tell it what happened through its named
// operations and ask it what may happen next; the controls that a mode forbids follow from it
// (`allows`), so that no handler has to remember a flag another handler set.
#pragma once

namespace player {

class Session {
 public:
  enum class Take {
    None,       // no take, or one the user may lose (saved, or agreed to lose)
    Recording,  // the record command is running
    Unsaved,    // a take is on disk and the user has not saved it
    Saved,      // the last take was saved as WAV or MP3 at least once
  };

  // Controls whose state the session decides (beside what each handler sets).
  enum class Control {
    Record,     // cmdrec
    StopTake,   // cmdstop
    SaveTake,   // cmdsave and cmdsavewav
    AudioPlay,  // Cmdplw
    MidiPlay,   // Cmd_Play
    SongMenus,  // the File, Options, Convert and Effects menus
  };

  // ---- the flags, by the names the handlers know them by
  bool audioSong = false;      // the song is a WAV/MP3 (or module, or ripped CD track)
  bool freeRecording = false;  // the next take records without a song ("&DigitalRecorder")
  bool ripPending = false;     // the next audio play takes the ripped CD track
  bool recordingTake = false;  // the recorder's busy flag, cleared by the session's stop
  bool audioPlaying = false;   // a song started with the audio player's play is playing

  Take take() const { return take_; }
  bool ripRunning() const { return ripRunning_; }
  bool encoding() const { return encoding_; }

  // ---- what happened
  // A WAV/MP3 song was chosen from its menu: it replaces a free recording and a pending CD
  // track (an older rip must not play instead of the song just chosen).
  void audioSongChosen();
  // A MIDI song was chosen (or the choice was cancelled, which also leaves no audio song).
  void midiSongChosen();
  // "&DigitalRecorder": the next take records without a song.
  void freeRecordingPrepared();
  // The user played the song: a take after this records over it again.
  void songPlayed();
  void cdWindowOpened() { ripPending = true; }
  // The ripped track was taken by a play or a take.
  void cdTrackTaken() { ripPending = false; }
  void ripStarted() { ripRunning_ = true; }
  void ripEnded() { ripRunning_ = false; }
  void takeStarted();
  // The record command returned; `kept` when a take is on disk.
  void takeEnded(bool kept);
  void takeSaved();
  // The user agreed to lose the take (or a new one replaces it).
  void takeDiscarded();
  void encodingStarted() { encoding_ = true; }
  void encodingEnded() { encoding_ = false; }

  // ---- questions
  // A new take would overwrite a take the user has not saved: they must be asked first.
  bool takeAtRisk() const { return take_ == Take::Unsaved; }
  // The previous take's file may be deleted when a new take is prepared.
  bool takeMayGo() const { return take_ == Take::None || take_ == Take::Saved; }
  // Whether `c` may be enabled now. False means off, whatever the handlers set.
  bool allows(Control c) const;

 private:
  Take take_ = Take::None;
  bool ripRunning_ = false;
  bool encoding_ = false;
};

}  // namespace player
