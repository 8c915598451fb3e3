#include "Capture.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace audiolib {
namespace {

// The server hands over a fragment about every 20 ms; the ring holds 8 s, so that a reader
// writing to a slow disk never loses a frame.
constexpr int kFragmentMs = 20;
constexpr int kRingSeconds = 8;
// How long opening waits for the server (its answer, then the record stream's): a server
// that hangs must not hold the window for ever.
constexpr int kOpenTimeoutSeconds = 5;

}  // namespace

struct CaptureDevice::Impl {
  CaptureDevice* owner = nullptr;
  pa_threaded_mainloop* loop = nullptr;
  pa_context* ctx = nullptr;
  pa_stream* stream = nullptr;
  bool started = false;
  bool timedOut = false;  // under the loop's lock

  static void openDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* me = static_cast<Impl*>(self);
    me->timedOut = true;
    pa_threaded_mainloop_signal(me->loop, 0);
  }

  static void contextState(pa_context* c, void* self) {
    auto* me = static_cast<Impl*>(self);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c)))
      me->owner->failed_.store(true, std::memory_order_release);
    pa_threaded_mainloop_signal(me->loop, 0);
  }
  static void streamState(pa_stream* s, void* self) {
    auto* me = static_cast<Impl*>(self);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
      me->owner->failed_.store(true, std::memory_order_release);
    pa_threaded_mainloop_signal(me->loop, 0);
  }

  // The server's thread: copy what arrived into the ring; no allocation, no lock, no I/O.
  static void readable(pa_stream* s, size_t, void* self) {
    CaptureDevice& d = *static_cast<Impl*>(self)->owner;
    const size_t frameBytes = size_t(d.format_.bytesPerFrame());
    const uint8_t silence = d.format_.bits == 8 ? 0x80 : 0;
    const uint64_t size = d.ring_.size();
    for (;;) {
      const void* data = nullptr;
      size_t n = 0;
      if (pa_stream_peek(s, &data, &n) < 0 || n == 0) break;
      uint64_t head = d.head_.load(std::memory_order_relaxed);
      const uint64_t tail = d.tail_.load(std::memory_order_acquire);
      const size_t room = size_t(size - (head - tail));
      const size_t keep = std::min(n, room - room % frameBytes);
      if (keep < n) d.overruns_.fetch_add(int64_t((n - keep) / frameBytes));
      for (size_t done = 0; done < keep;) {
        const size_t at = size_t(head % size);
        const size_t run = std::min(keep - done, size_t(size) - at);
        if (data)
          std::memcpy(&d.ring_[at], static_cast<const uint8_t*>(data) + done, run);
        else
          std::memset(&d.ring_[at], silence, run);  // a hole in the stream
        head += run;
        done += run;
      }
      d.head_.store(head, std::memory_order_release);
      pa_stream_drop(s);
      const int64_t captured =
          d.captured_.load(std::memory_order_relaxed) + int64_t(n / frameBytes);
      d.captured_.store(captured, std::memory_order_release);
      // The frame after the newest one read left the source `latency` ago.
      pa_usec_t usec = 0;
      int negative = 0;
      if (pa_stream_get_latency(s, &usec, &negative) == 0) {
        const int64_t lag = int64_t(usec) * 1000 * (negative ? -1 : 1);
        d.clock_.publish(captured, monotonicNs() - lag);
      }
    }
  }
};

std::unique_ptr<CaptureDevice> CaptureDevice::open(const std::string& source, CaptureFormat f,
                                                   std::string* why) {
  auto fail = [why](const std::string& text) {
    if (why) *why = text;
    return std::unique_ptr<CaptureDevice>();
  };
  if ((f.bits != 8 && f.bits != 16) || f.channels < 1 || f.channels > 2 || f.rate < 1000 ||
      f.rate > 192000)
    return fail("unsupported recording format");
  std::unique_ptr<CaptureDevice> d(new CaptureDevice);
  d->format_ = f;
  d->ring_.assign(size_t(f.rate) * size_t(f.bytesPerFrame()) * kRingSeconds, 0);
  d->impl_ = std::make_unique<Impl>();
  Impl& m = *d->impl_;
  m.owner = d.get();
  m.loop = pa_threaded_mainloop_new();
  if (!m.loop) return fail("cannot start the sound server's client");
  m.ctx = pa_context_new(pa_threaded_mainloop_get_api(m.loop), "orivelR recorder");
  if (!m.ctx) return fail("cannot start the sound server's client");
  pa_context_set_state_callback(m.ctx, &Impl::contextState, &m);
  if (pa_context_connect(m.ctx, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
    return fail(pa_strerror(pa_context_errno(m.ctx)));
  pa_threaded_mainloop_lock(m.loop);
  if (pa_threaded_mainloop_start(m.loop) < 0) {
    pa_threaded_mainloop_unlock(m.loop);
    return fail("cannot start the sound server's client");
  }
  m.started = true;
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(m.loop);
  pa_time_event* deadline = pa_context_rttime_new(
      m.ctx, pa_rtclock_now() + kOpenTimeoutSeconds * PA_USEC_PER_SEC, &Impl::openDeadline, &m);
  auto giveUp = [&](const std::string& text) {
    if (deadline) api->time_free(deadline);
    pa_threaded_mainloop_unlock(m.loop);
    return fail(text);
  };
  const std::string late =
      "the sound server did not answer within " + std::to_string(kOpenTimeoutSeconds) + " s";
  pa_context_state_t cs;
  while ((cs = pa_context_get_state(m.ctx)) != PA_CONTEXT_READY && PA_CONTEXT_IS_GOOD(cs) &&
         !m.timedOut)
    pa_threaded_mainloop_wait(m.loop);
  if (m.timedOut) return giveUp(late);
  if (cs != PA_CONTEXT_READY)
    return giveUp("no sound server: " + std::string(pa_strerror(pa_context_errno(m.ctx))));
  const pa_sample_spec spec{f.bits == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE, uint32_t(f.rate),
                            uint8_t(f.channels)};
  m.stream = pa_stream_new(m.ctx, "orivelR take", &spec, nullptr);
  if (!m.stream) return giveUp(pa_strerror(pa_context_errno(m.ctx)));
  pa_stream_set_state_callback(m.stream, &Impl::streamState, &m);
  pa_stream_set_read_callback(m.stream, &Impl::readable, &m);
  pa_buffer_attr attr{};
  attr.maxlength = uint32_t(-1);
  attr.fragsize = uint32_t(pa_usec_to_bytes(kFragmentMs * 1000, &spec));
  const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                       PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_DONT_MOVE);
  const char* dev = source.empty() ? nullptr : source.c_str();
  if (pa_stream_connect_record(m.stream, dev, &attr, flags) < 0)
    return giveUp(pa_strerror(pa_context_errno(m.ctx)));
  pa_stream_state_t ss;
  while ((ss = pa_stream_get_state(m.stream)) != PA_STREAM_READY && PA_STREAM_IS_GOOD(ss) &&
         !m.timedOut)
    pa_threaded_mainloop_wait(m.loop);
  if (m.timedOut) return giveUp(late);
  if (ss != PA_STREAM_READY)
    return giveUp("cannot record from \"" + source + "\": " + pa_strerror(pa_context_errno(m.ctx)));
  if (deadline) api->time_free(deadline);
  pa_threaded_mainloop_unlock(m.loop);
  d->failed_.store(false);
  return d;
}

size_t CaptureDevice::read(uint8_t* out, size_t max) {
  const uint64_t size = ring_.size();
  const uint64_t tail = tail_.load(std::memory_order_relaxed);
  const uint64_t head = head_.load(std::memory_order_acquire);
  size_t n = size_t(std::min<uint64_t>(head - tail, max));
  n -= n % size_t(format_.bytesPerFrame());
  for (size_t done = 0; done < n;) {
    const size_t at = size_t((tail + done) % size);
    const size_t run = std::min(n - done, size_t(size) - at);
    std::memcpy(out + done, &ring_[at], run);
    done += run;
  }
  tail_.store(tail + n, std::memory_order_release);
  return n;
}

void CaptureDevice::stop() {
  if (!impl_) return;
  Impl& m = *impl_;
  if (m.started) pa_threaded_mainloop_stop(m.loop);  // no callback runs after this
  m.started = false;
  if (m.stream) {
    pa_stream_disconnect(m.stream);
    pa_stream_unref(m.stream);
    m.stream = nullptr;
  }
  if (m.ctx) {
    pa_context_disconnect(m.ctx);
    pa_context_unref(m.ctx);
    m.ctx = nullptr;
  }
  if (m.loop) {
    pa_threaded_mainloop_free(m.loop);
    m.loop = nullptr;
  }
}

CaptureDevice::~CaptureDevice() {
  stop();
}

}  // namespace audiolib
