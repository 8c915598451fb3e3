// The engine's capture device: one record stream on the sound server, in the recording's own
// format (the server converts), from any of its sources, monitors included (a sink's monitor
// records what the system plays). The server's thread only copies into a ring; a reader on
// any other thread takes the bytes out. Each captured frame has its time on the monotonic
// clock, which is how a take lines up with the song heard beside it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FrameClock.h"

namespace audiolib {

struct CaptureFormat {
  int rate = 44100;
  int channels = 2;
  int bits = 16;  // 8: unsigned bytes, 16: signed little-endian
  int bytesPerFrame() const { return channels * bits / 8; }
};

// The source names the sound server resolves itself.
inline const std::string kDefaultSource = "@DEFAULT_SOURCE@";
inline const std::string kDefaultMonitor = "@DEFAULT_MONITOR@";

class CaptureDevice {
 public:
  // Starts capturing from `source` (a server source name, or one of the two above). Null, and
  // *why set, when the server or the source is missing or the format is not one of 8/16 bits,
  // 1/2 channels, 1000..192000 Hz.
  static std::unique_ptr<CaptureDevice> open(const std::string& source, CaptureFormat format,
                                             std::string* why);
  ~CaptureDevice();
  CaptureDevice(const CaptureDevice&) = delete;
  CaptureDevice& operator=(const CaptureDevice&) = delete;

  const CaptureFormat& format() const { return format_; }
  // Any one reader thread: moves up to `max` bytes (whole frames) of what was captured.
  size_t read(uint8_t* out, size_t max);
  // Frames captured so far (read or not).
  int64_t capturedFrames() const { return captured_.load(std::memory_order_acquire); }
  // When captured frame `frame` reached the source, on the monotonic clock; false until the
  // server has told its first timing.
  bool frameCapturedNs(int64_t frame, int64_t* ns) const {
    return clock_.timeOf(frame, format_.rate, ns);
  }
  // Frames lost because the reader fell more than the ring's length behind.
  int64_t overruns() const { return overruns_.load(std::memory_order_relaxed); }
  // The stream ended on the server's side (the source went away, the server stopped).
  bool failed() const { return failed_.load(std::memory_order_acquire); }
  // Stops the stream; no more bytes arrive. Safe to call twice.
  void stop();

  struct Impl;

 private:
  CaptureDevice() = default;
  friend struct Impl;

  CaptureFormat format_;
  std::unique_ptr<Impl> impl_;
  // The ring, written by the server's thread, read by the reader.
  std::vector<uint8_t> ring_;
  std::atomic<uint64_t> head_{0};  // bytes written
  std::atomic<uint64_t> tail_{0};  // bytes read
  std::atomic<int64_t> captured_{0};
  std::atomic<int64_t> overruns_{0};
  std::atomic<bool> failed_{false};
  FrameClock clock_;
};

}  // namespace audiolib
