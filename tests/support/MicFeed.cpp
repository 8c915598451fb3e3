#include "MicFeed.h"

#include <pulse/simple.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace testaudio {

MicFeed::MicFeed(double hz, float amplitude) : amplitude_(amplitude) {
  thread_ = std::thread([this, hz] { loop(hz); });
}

MicFeed::~MicFeed() {
  stop_ = true;
  thread_.join();
}

void MicFeed::loop(double hz) {
  const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, 44100, 1};
  pa_buffer_attr attr{};
  attr.maxlength = uint32_t(-1);
  // Half a second queued: a feed thread kept off the processor for a while under a busy test
  // run must not leave gaps, which would slip the tone's phase in every take of it.
  attr.tlength = 22050 * sizeof(float);
  attr.prebuf = uint32_t(-1);
  attr.minreq = uint32_t(-1);
  attr.fragsize = uint32_t(-1);
  int error = 0;
  pa_simple* s = pa_simple_new(nullptr, "orivelR tests", PA_STREAM_PLAYBACK, "mic_feed", "voice",
                               &format, nullptr, &attr, &error);
  if (!s) return;
  std::vector<float> block(441);
  int64_t frame = 0;
  while (!stop_) {
    for (float& v : block)
      v = amplitude_ * float(std::sin(2 * std::numbers::pi * hz * double(frame++) / 44100));
    if (pa_simple_write(s, block.data(), block.size() * sizeof(float), &error) < 0) break;
  }
  pa_simple_free(s);
}

}  // namespace testaudio
