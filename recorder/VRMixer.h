// The system mixer behind the main window's mixer panel, on the PulseAudio sound server: which
// source orivelR's own recordings take, the recording and master levels, and the microphone
// heard on the output (a low-latency loopback that orivelR loads and owns). It owns one client
// connection ("orivelR mixer") on a threaded main loop of its own. No Qt.
//
// The level setters never wait on the server: they leave the level for the mixer's sender
// thread and return (false when there is no connection); rapid steps of a slider are coalesced
// into the latest level, and the getters give a level not yet applied as set. Every other call
// is synchronous and bounded: when the server is gone or stops answering, the call gives up
// after about two seconds and returns false (or -1, or an empty name). Calls may come from any
// thread, except from inside the callbacks below.
//
// Levels are 0..100, in percent of the server's normal volume; a read averages the channels, a
// set gives all channels the same volume. The mixer only ever changes the volume it is asked
// to set, and it never changes the server's default sink or source.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace recorder {

// The items of the record source type list; index = the type.
inline constexpr std::array<std::string_view, 10> kRecSrcTypeItems = {
    "0 - Undefined", "1 - Line",  "2 - Mic", "3 - Wave",    "4 - MIDI",
    "5 - CD",        "6 - Phone", "7 - Aux", "8 - Digital", "9 - Analog"};

inline constexpr int kRecSrcMic = 2;      // the server's default source
inline constexpr int kRecSrcWave = 3;     // what the system plays: the default sink's monitor
inline constexpr int kPlaySelectMic = 2;  // the one playback line: the microphone

// The window's answer to the no-line event: the record source type it falls back to, and the
// text it hands back to the mixer.
inline constexpr int kNoLineRecSourceType = 9;
inline constexpr std::string_view kNoLineText = "No Line Record";
// Writes the answer's text into `text` and returns the type to set.
int answerNoLine(std::string& text);

class VRMixer {
 public:
  // Connects (bounded) and removes microphone loopbacks left behind by an orivelR whose
  // process has gone. A failed connection is retried by the next call.
  VRMixer();
  // Removes the microphone loopback and disconnects.
  ~VRMixer();
  VRMixer(const VRMixer&) = delete;
  VRMixer& operator=(const VRMixer&) = delete;

  bool connected() const;

  // ---- record source type (0..9, see kRecSrcTypeItems) ----
  // Takes the type when the machine has a source of it and returns true; otherwise keeps the
  // current type (at start "2 - Mic") and returns false. 2 = the default source, 3 = the
  // default sink's monitor, 1/6/7/8/9 = a source whose active port is a line, phone, aux,
  // digital (S/PDIF) or analog port; 0, 4 and 5 have no source.
  bool setRecSourceType(int type);
  int recSourceType() const;
  // The source that recordings of the current type open, resolved now (a changed default is
  // followed); empty when the server cannot be reached or the type's source has gone.
  std::string recordSourceName();

  // ---- levels (0..100; a getter gives -1 when it cannot read) ----
  bool setRecVolume(int level);  // the source of the current type
  int recVolume();
  bool setMasterVolume(int level);  // the default sink
  int masterVolume();

  // ---- the playback line: the microphone heard on the output ----
  // The loopback from the default source to the default sink exists while the line is
  // unmuted: unmuting loads it at the remembered level, muting removes it, so that a
  // microphone is never heard unasked. The line starts muted at level 100.
  bool setPlaySelect(int line);  // only kPlaySelectMic exists
  int playSelect() const;
  // Remembered while muted, applied when unmuted; false only without a connection.
  bool setPlayVolume(int level);
  int playVolume();
  bool setPlayMute(bool mute);
  bool playMute() const;

  // Raised on the main loop's thread of the mixer when the loopback's mute changes from
  // outside (another program toggled it, or removed the loopback: 1). Argument: 1 = muted,
  // 0 = heard. A handler must not call the mixer; it posts the event to its own thread.
  std::function<void(int)> onPlayMuteChanged;
  // Raised on the calling thread, inside the call that asked for a line that does not exist
  // (a playback line other than the microphone, or no default source at all), before that
  // call returns false. The handler may call the mixer and may replace `text`.
  std::function<void(std::string& text)> onNoLine;
  // The text as the last no-line handler left it.
  const std::string& noLineText() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace recorder
