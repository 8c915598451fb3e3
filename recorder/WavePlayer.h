// WavePlayer: one recording, new or opened from a WAV file, that records from the engine's
// capture device, plays a range through the engine's output, deletes a range and saves. Times
// are milliseconds. The recording lives in one file only, never in memory: a new recording
// streams to its take file as it records (the header's sizes rewritten every half second), so
// that a program killed while recording leaves all but the last moment on disk; playback
// streams from the file in blocks; an edit rewrites the file (a working copy for a file that
// was opened). A disk that refuses a write stops the take and keeps what was written.
// `Record` and `Play` block their caller while letting the window's events run (the hooks),
// until the stop controls set `stopRequested`.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Capture.h"
#include "LivePitch.h"
#include "WaveErrors.h"

namespace recorder {

// Set by the recorder's stop controls; `Play` and `Record` wait for them.
extern bool stopRequested;
extern bool recordFinished;
// Counted up by the main window's `Timer` on every tick; `Play` sets it to 0.
extern long tickCount;

// What WavePlayer needs of its host.
struct WavePlayerHooks {
  std::function<void()> doEvents;                   // let pending window events run once
  std::function<void()> stopTimers;                 // the window's Timer2 and Timer3 off
  std::function<void(bool)> busyCursor;             // the hourglass on (true) or back to normal
  std::function<void(const std::string&)> message;  // an OK box of the program's title
  // The source recordings take (a server source name); the default source when empty.
  std::function<std::string()> recordSource;
  // When the song's first frame is heard, on the monotonic clock, or false while unknown;
  // empty for a recording without a song. The take then starts at the song's start.
  std::function<bool(int64_t* ns)> songStartNs;
  // Where a new recording streams while it records; no take file when empty.
  std::string takeFile;
  // Fed with a 16-bit take as it is written, from its first frame: an estimate's sample k is
  // the take's frame k, which the song's start lines up with (so k / rate is song time as
  // heard). Null for none; it must outlive the take.
  LivePitch* livePitch = nullptr;
};
WavePlayerHooks& wavePlayerHooks();

// The 44-byte header of a PCM WAV file with `dataBytes` of audio.
std::vector<uint8_t> wavHeader(const audiolib::CaptureFormat& f, uint32_t dataBytes);

class WavePlayer {
 public:
  WavePlayer();  // a new empty recording
  ~WavePlayer();
  WavePlayer(const WavePlayer&) = delete;
  WavePlayer& operator=(const WavePlayer&) = delete;

  bool Wait() const { return waitFlags_ == 2; }
  void setWait(bool value) { waitFlags_ = 2 * (value ? 1 : 0); }

  void OpenFile(const std::string& WaveFile);
  void Play(long StartTime = -1, long StopTime = 0);
  void delete_(long StartTime, long Milliseconds);
  void Record(long Milliseconds = 0, long StartTime = 0, bool Overwrite = false);
  void SaveAs(const std::string& FileName);
  void Save();
  void StopRecording();
  void reset();

  std::string FileName() const;
  long length() const;
  int Channels() const;
  void setChannels(int value);
  long FormatTag() const;
  void setFormatTag(long value);
  long samplerate() const;
  void setSamplerate(long value);
  int BitsPerSample() const;
  void setBitsPerSample(int value);
  long AvgBytesPerSecond() const;
  long Position() const;

  // Frames the take was shifted to start at the song's start (positive: cut from its start,
  // negative: silence put before it); 0 without a song.
  int64_t alignmentFrames() const { return alignment_.load(); }
  // Frames the capture lost because the writer fell behind (0 on a healthy system).
  int64_t lostFrames() const;

 private:
  void OpenDevice(const std::string& file);
  void CloseDevice();
  void ChangeSetting(long tag, int bits, int channels, long rate);
  long framesToMs(int64_t frames) const;
  int64_t msToFrames(long ms) const;
  void writerLoop();
  bool takeAppend(const uint8_t* data, size_t n);
  void openTake(bool fresh);
  void finishTake();
  // Writes `ranges` of the recording's frames to `dst` as a WAV file in the recording's
  // format; false (and no `dst`) when the disk or the source refused.
  bool writeFrames(const std::string& dst,
                   std::initializer_list<std::pair<int64_t, int64_t>> ranges) const;
  // A new working copy in the system's temporary folder holds the recording from now on.
  void useWorkingCopy(std::initializer_list<std::pair<int64_t, int64_t>> ranges,
                      const char* source);
  void dropWorkingCopy();

  bool open_ = false;  // the device: a recording is open
  int waitFlags_ = 0;
  std::string fileName_;
  long formatTag_ = 1;
  audiolib::CaptureFormat format_{11025, 1, 8};
  long position_ = 0;

  // The file that holds the recording; empty for a new recording not yet recorded.
  std::string path_;
  bool rewritable_ = false;  // path_ is a 44-byte-header WAV of ours (the take, a copy)
  bool temporary_ = false;   // path_ is a working copy, removed with the recording
  std::atomic<int64_t> frames_{0};

  // While recording.
  std::unique_ptr<audiolib::CaptureDevice> capture_;
  std::thread writer_;
  std::atomic<bool> writing_{false};
  std::atomic<int64_t> alignment_{0};
  int takeFd_ = -1;
  int64_t takeBytes_ = 0;  // the audio bytes in the file, on the writer's thread
  int64_t takeHeaderNs_ = 0;
  std::atomic<int> writeErrno_{0};  // why the disk refused the take, 0 while it takes it
};

}  // namespace recorder
