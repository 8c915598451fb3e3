// WavePlayer: one recording, new or opened from a WAV file, that records from the engine's
// capture device, plays a range through the engine's output, deletes a range and saves. Times
// are milliseconds. A new recording streams to its take file as it records (the header's sizes
// rewritten every second), so that a program killed while recording leaves all but the last
// second on disk. `Record` and `Play` block their caller while letting the window's events
// run (the hooks), until the stop controls set `stopRequested`.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Capture.h"
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
  void takeAppend(const uint8_t* data, size_t n);

  bool open_ = false;  // the device: a recording is open
  int waitFlags_ = 0;
  std::string fileName_;
  long formatTag_ = 1;
  audiolib::CaptureFormat format_{11025, 1, 8};
  mutable std::mutex dataMutex_;  // the window's thread and the take's writer
  std::vector<uint8_t> data_;     // the recording's audio, PCM in format_
  long position_ = 0;

  // While recording.
  std::unique_ptr<audiolib::CaptureDevice> capture_;
  std::thread writer_;
  std::atomic<bool> writing_{false};
  std::atomic<int64_t> alignment_{0};
  std::FILE* take_ = nullptr;
  uint32_t takeBytes_ = 0;
  int64_t takeHeaderNs_ = 0;
};

}  // namespace recorder
