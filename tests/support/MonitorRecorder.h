// Records what the sound server's default sink plays (its monitor), from the moment it is
// made, on a thread of its own; for the tests that listen to the real output.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestAudio.h"

namespace testaudio {

class MonitorRecorder {
 public:
  // Returns once the recording runs (its first fragment arrived); `ok()` tells whether it does.
  explicit MonitorRecorder(int rate = 44100);
  ~MonitorRecorder();
  MonitorRecorder(const MonitorRecorder&) = delete;
  MonitorRecorder& operator=(const MonitorRecorder&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  int64_t frames() const;
  // Waits until `more` further frames have been recorded (the tail of what was played has
  // reached the monitor), at most `timeoutSeconds`; false on time-out.
  bool recordMore(int64_t more, double timeoutSeconds = 10);
  // Stops and returns the recording (float stereo).
  Audio stop();

 private:
  void loop(void* stream);

  int rate_;
  bool ok_ = false;
  std::string error_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  mutable std::mutex mutex_;
  std::vector<float> samples_;
};

// Listens to the output until `hz` is on it above `level` (at most 20 looks of 0.3 s): the
// server's loopback of the microphone takes a moment to fill before the voice is heard.
bool toneHeardOnTheOutput(double hz, double level);

}  // namespace testaudio
