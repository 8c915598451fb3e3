// Sings a sine into the sink "mic_feed" of the private sound server, whose monitor is the
// default source (the virtual microphone), until destroyed; the amplitude can change on the
// way and reaches the microphone within about half a second.
#pragma once

#include <atomic>
#include <thread>

namespace testaudio {

class MicFeed {
 public:
  MicFeed(double hz, float amplitude);
  ~MicFeed();
  MicFeed(const MicFeed&) = delete;
  MicFeed& operator=(const MicFeed&) = delete;
  void setAmplitude(float a) { amplitude_ = a; }

 private:
  void loop(double hz);

  std::atomic<float> amplitude_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace testaudio
