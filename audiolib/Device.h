// Output devices of the engine: the system's sound output (the sound server through libpulse,
// or one of SDL2's drivers), or none (the engine then renders only when asked, as fast as
// asked).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "FrameClock.h"

namespace audiolib {

// Called on the device's own thread with a block of interleaved float stereo frames to fill.
using RenderFn = std::function<void(float* frames, int count)>;

class OutputDevice {
 public:
  virtual ~OutputDevice() = default;
  virtual int sampleRate() const = 0;
  // Milliseconds between a rendered block and the speakers, as the driver reports it.
  virtual int latencyMs() const = 0;
  virtual void stop() = 0;
  // When output frame `frame` (counted from the device's first) reaches the listener, on the
  // monotonic clock; false until the device has played its first period.
  bool frameHeardNs(int64_t frame, int64_t* ns) const {
    return heard_.timeOf(frame, sampleRate(), ns);
  }

 protected:
  FrameClock heard_;
};

// Times the sound server found the engine's output stream empty since the program started
// (each one a gap the listener hears); only the sound-server output counts them.
uint64_t outputUnderflows();

// Opens output device `index` (1 = the system's default, 2.. = SDL's list) at `rate` Hz,
// float stereo, and starts calling `render` on a thread of the device's. Null (and *error
// set) when it can't.
std::unique_ptr<OutputDevice> openOutput(int index, int rate, RenderFn render, int* error,
                                         std::string* why);
// Asks real-time scheduling for the calling thread, as audio programs do within the limits
// the system grants them (as root, or through RLIMIT_RTPRIO); `priority` 1..99, higher
// first. False, and the thread stays as it was, when not allowed.
bool raiseThreadPriority(int priority);
// Priorities of the engine's threads: the device's mixing thread above the synthesizer's.
constexpr int kMixerPriority = 20;
constexpr int kSynthPriority = 15;

// Number of output devices SDL lists (device indexes 2 .. 1 + count).
int sdlOutputCount();
// Closes SDL's audio so that the next start reads its driver settings anew.
void sdlAudioShutdown();

}  // namespace audiolib
