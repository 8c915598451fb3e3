#include "MonitorRecorder.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <chrono>
#include <future>

namespace testaudio {

namespace {
constexpr int kFragmentFrames = 441;  // 10 ms at 44.1 kHz
}

MonitorRecorder::MonitorRecorder(int rate) : rate_(rate) {
  const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, uint32_t(rate), 2};
  pa_buffer_attr attr{};
  attr.maxlength = uint32_t(-1);
  attr.fragsize = uint32_t(kFragmentFrames * 2 * sizeof(float));
  int err = 0;
  pa_simple* s = pa_simple_new(nullptr, "orivelR tests", PA_STREAM_RECORD, "@DEFAULT_MONITOR@",
                               "monitor", &spec, nullptr, &attr, &err);
  if (!s) {
    error_ = pa_strerror(err);
    return;
  }
  std::promise<void> first;
  auto started = first.get_future();
  running_ = true;
  thread_ = std::thread([this, s, p = std::move(first)]() mutable {
    std::vector<float> fragment(kFragmentFrames * 2);
    bool told = false;
    while (running_.load()) {
      int e = 0;
      if (pa_simple_read(s, fragment.data(), fragment.size() * sizeof(float), &e) < 0) break;
      {
        std::lock_guard lock(mutex_);
        samples_.insert(samples_.end(), fragment.begin(), fragment.end());
      }
      if (!told) p.set_value();
      told = true;
    }
    if (!told) p.set_value();
    pa_simple_free(s);
  });
  started.wait();
  ok_ = frames() > 0;
  if (!ok_) error_ = "the monitor gave no frames";
}

MonitorRecorder::~MonitorRecorder() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
}

int64_t MonitorRecorder::frames() const {
  std::lock_guard lock(mutex_);
  return int64_t(samples_.size() / 2);
}

bool MonitorRecorder::recordMore(int64_t more, double timeoutSeconds) {
  const int64_t target = frames() + more;
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (frames() < target) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

Audio MonitorRecorder::stop() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
  Audio a;
  a.rate = rate_;
  a.channels = 2;
  std::lock_guard lock(mutex_);
  a.samples = samples_;
  return a;
}

bool toneHeardOnTheOutput(double hz, double level) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    MonitorRecorder monitor;
    if (!monitor.ok() || !monitor.recordMore(44100 * 3 / 10)) return false;
    const Audio a = monitor.stop();
    if (a.frames() >= 8820 && toneAmplitude(a, 0, hz, a.frames() - 8820, 8820) > level)
      return true;
  }
  return false;
}

}  // namespace testaudio
