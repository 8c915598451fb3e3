#include "Session.h"

namespace player {

void Session::audioSongChosen() {
  audioSong = true;
  freeRecording = false;
  ripPending = false;
}

void Session::midiSongChosen() {
  audioSong = false;
  freeRecording = false;
}

void Session::freeRecordingPrepared() {
  freeRecording = true;
}

void Session::songPlayed() {
  freeRecording = false;
}

void Session::takeStarted() {
  take_ = Take::Recording;
  recordingTake = true;
}

void Session::takeEnded(bool kept) {
  take_ = kept ? Take::Unsaved : Take::None;
}

void Session::takeSaved() {
  if (take_ == Take::Unsaved) take_ = Take::Saved;
}

void Session::takeDiscarded() {
  if (take_ != Take::Recording) take_ = Take::None;
}

bool Session::allows(Control c) const {
  const bool recording = take_ == Take::Recording;
  switch (c) {
    case Control::Record:
      // One take at a time, none while a rip writes the track it may record over, and none
      // while the take is being encoded.
      return !recording && !ripRunning_ && !encoding_;
    case Control::StopTake:
      return recording;
    case Control::SaveTake:
      return !recording && !encoding_ && (take_ == Take::Unsaved || take_ == Take::Saved);
    case Control::AudioPlay:
    case Control::MidiPlay:
      return !recording && !ripRunning_;
    case Control::SongMenus:
      return !recording && !ripRunning_;
  }
  return false;
}

}  // namespace player
