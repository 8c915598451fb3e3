#include "Device.h"

#include <SDL2/SDL.h>
#include <pthread.h>
#include <pulse/pulseaudio.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "bass.h"

namespace audiolib {
namespace {

std::atomic<uint64_t> gUnderflows{0};

// What the sound server holds ahead of the speakers, and how often it asks for more. A server
// buffer of several requests keeps playing while the mixing thread or the server waits for
// the CPU; a buffer of one period (what SDL's PulseAudio driver asks for) runs dry on the first
// late wake-up. Measured on a virtual machine with two cores and the machine otherwise idle,
// 40 ms still ran dry in 6 of 20 runs of the sound tests (the server's own thread held up);
// 100 ms in none of 20. A switch of the remover reaches the ear in about a tenth of a second.
constexpr int kServerBufferMs = 100;
constexpr int kRequestMs = 20;
// SDL's drivers (ALSA when no sound server runs, the test drivers) keep two periods queued.
constexpr int kSdlBlockFrames = 1024;

// The engine's own hold on SDL's audio (SDL counts its holders: the meter control of the same
// process keeps one of its own, which the engine's shutdown must not release).
bool sdlHeld = false;

bool ensureSdlAudio() {
  if (sdlHeld) return true;
  // The program ends on SIGINT and SIGTERM itself; SDL would turn them into an event that
  // nobody reads.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  sdlHeld = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  return sdlHeld;
}

// ---- the sound server, through libpulse ----------------------------------------------------

// One playback stream on a threaded main loop of its own. The server asks for frames on the
// loop's thread, and that thread renders them straight into the server's memory.
class PulseOutput final : public OutputDevice {
 public:
  explicit PulseOutput(RenderFn render) : render_(std::move(render)) {}
  ~PulseOutput() override { stop(); }

  bool open(int rate, std::string* why) {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) return fail(why, "no main loop");
    ctx_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "orivelR");
    if (!ctx_) return fail(why, "no context");
    pa_context_set_state_callback(ctx_, &PulseOutput::contextState, this);
    if (pa_context_connect(ctx_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
      return fail(why, pa_strerror(pa_context_errno(ctx_)));
    pa_threaded_mainloop_lock(loop_);
    if (pa_threaded_mainloop_start(loop_) < 0) {
      pa_threaded_mainloop_unlock(loop_);
      return fail(why, "main loop did not start");
    }
    started_ = true;
    pa_context_state_t cs;
    while ((cs = pa_context_get_state(ctx_)) != PA_CONTEXT_READY && PA_CONTEXT_IS_GOOD(cs))
      pa_threaded_mainloop_wait(loop_);
    if (cs != PA_CONTEXT_READY) {
      pa_threaded_mainloop_unlock(loop_);
      return fail(why, pa_strerror(pa_context_errno(ctx_)));
    }

    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, uint32_t(rate), 2};
    rate_ = rate;
    stream_ = pa_stream_new(ctx_, "orivelR", &spec, nullptr);
    if (!stream_) {
      pa_threaded_mainloop_unlock(loop_);
      return fail(why, pa_strerror(pa_context_errno(ctx_)));
    }
    pa_stream_set_state_callback(stream_, &PulseOutput::streamState, this);
    pa_stream_set_write_callback(stream_, &PulseOutput::writeRequest, this);
    pa_stream_set_underflow_callback(stream_, &PulseOutput::underflow, this);
    pa_buffer_attr attr{};
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(pa_usec_to_bytes(kServerBufferMs * 1000, &spec));
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(pa_usec_to_bytes(kRequestMs * 1000, &spec));
    attr.fragsize = uint32_t(-1);
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                         PA_STREAM_INTERPOLATE_TIMING);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
      pa_threaded_mainloop_unlock(loop_);
      return fail(why, pa_strerror(pa_context_errno(ctx_)));
    }
    pa_stream_state_t ss;
    while ((ss = pa_stream_get_state(stream_)) != PA_STREAM_READY && PA_STREAM_IS_GOOD(ss))
      pa_threaded_mainloop_wait(loop_);
    if (ss == PA_STREAM_READY) {
      if (const pa_buffer_attr* got = pa_stream_get_buffer_attr(stream_))
        latencyMs_.store(int(pa_bytes_to_usec(got->tlength, &spec) / 1000));
    }
    pa_threaded_mainloop_unlock(loop_);
    if (ss != PA_STREAM_READY) return fail(why, pa_strerror(pa_context_errno(ctx_)));
    return true;
  }

  int sampleRate() const override { return rate_; }
  int latencyMs() const override { return latencyMs_.load(std::memory_order_relaxed); }

  void stop() override {
    if (!loop_) return;
    if (started_ && stream_) drain();
    if (started_) pa_threaded_mainloop_stop(loop_);  // no callback runs after this
    if (stream_) {
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
      stream_ = nullptr;
    }
    if (ctx_) {
      pa_context_disconnect(ctx_);
      pa_context_unref(ctx_);
      ctx_ = nullptr;
    }
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
    started_ = false;
  }

 private:
  bool fail(std::string* why, const char* what) {
    if (why) *why = what;
    stop();
    return false;
  }

  // Lets the server play what it holds (the end of a song) before the stream goes, for as
  // long as that takes and no longer than a bound.
  void drain() {
    pa_threaded_mainloop_lock(loop_);
    draining_ = true;
    pa_operation* op = pa_stream_drain(stream_, nullptr, nullptr);
    pa_threaded_mainloop_unlock(loop_);
    if (!op) return;
    const int boundMs = 2 * kServerBufferMs + 200;
    for (int waited = 0; waited < boundMs; waited += 2) {
      pa_threaded_mainloop_lock(loop_);
      const bool done = pa_operation_get_state(op) != PA_OPERATION_RUNNING;
      pa_threaded_mainloop_unlock(loop_);
      if (done) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pa_threaded_mainloop_lock(loop_);
    pa_operation_unref(op);
    pa_threaded_mainloop_unlock(loop_);
  }

  static void contextState(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseOutput*>(self)->loop_, 0);
  }
  static void streamState(pa_stream*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseOutput*>(self)->loop_, 0);
  }

  // The server found the stream's buffer empty: what the listener hears has a gap.
  static void underflow(pa_stream*, void* self) {
    if (!static_cast<PulseOutput*>(self)->draining_) gUnderflows.fetch_add(1);
  }

  static void writeRequest(pa_stream* s, size_t bytes, void* self) {
    auto* me = static_cast<PulseOutput*>(self);
    if (me->draining_) return;
    // The first request comes on the loop's thread: from then on it mixes before other work.
    thread_local bool raised = (raiseThreadPriority(kMixerPriority), true);
    (void)raised;
    while (bytes >= 2 * sizeof(float)) {
      void* data = nullptr;
      size_t n = bytes;
      if (pa_stream_begin_write(s, &data, &n) < 0 || !data) return;
      n -= n % (2 * sizeof(float));
      if (n == 0) {
        pa_stream_cancel_write(s);
        return;
      }
      me->render_(static_cast<float*>(data), int(n / (2 * sizeof(float))));
      me->written_ += int64_t(n / (2 * sizeof(float)));
      if (pa_stream_write(s, data, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
      bytes -= n;
    }
    // What the listener hears lags the newest frame by the server's buffer and the sink.
    pa_usec_t usec = 0;
    int negative = 0;
    if (pa_stream_get_latency(s, &usec, &negative) == 0 && !negative) {
      me->latencyMs_.store(int(usec / 1000), std::memory_order_relaxed);
      me->heard_.publish(me->written_, monotonicNs() + int64_t(usec) * 1000);
    }
  }

  RenderFn render_;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* ctx_ = nullptr;
  pa_stream* stream_ = nullptr;
  bool started_ = false;
  bool draining_ = false;  // under the loop's lock
  int64_t written_ = 0;    // frames rendered into the stream, on the loop's thread
  int rate_ = 44100;
  std::atomic<int> latencyMs_{kServerBufferMs};
};

// ---- SDL's drivers --------------------------------------------------------------------------

class SdlOutput final : public OutputDevice {
 public:
  explicit SdlOutput(RenderFn render) : render_(std::move(render)) {}
  ~SdlOutput() override { stop(); }

  bool open(const char* name, int rate, std::string* why) {
    SDL_AudioSpec want{}, have{};
    want.freq = rate;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = kSdlBlockFrames;
    want.callback = &SdlOutput::callback;
    want.userdata = this;
    dev_ = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
    if (dev_ == 0) {
      if (why) *why = SDL_GetError();
      return false;
    }
    rate_ = have.freq;
    samples_ = have.samples;
    SDL_PauseAudioDevice(dev_, 0);
    return true;
  }

  int sampleRate() const override { return rate_; }
  int latencyMs() const override { return int(2 * 1000LL * samples_ / (rate_ ? rate_ : 44100)); }
  void stop() override {
    if (dev_) {
      SDL_CloseAudioDevice(dev_);
      dev_ = 0;
    }
  }

 private:
  static void callback(void* self, Uint8* stream, int len) {
    auto* me = static_cast<SdlOutput*>(self);
    const int frames = len / int(2 * sizeof(float));
    me->render_(reinterpret_cast<float*>(stream), frames);
    me->written_ += frames;
    // The block just made plays after the one queued before it.
    me->heard_.publish(me->written_, monotonicNs() + 2 * 1'000'000'000LL * me->samples_ / me->rate_);
  }

  RenderFn render_;
  SDL_AudioDeviceID dev_ = 0;
  int rate_ = 44100;
  int samples_ = kSdlBlockFrames;
  int64_t written_ = 0;  // on SDL's thread
};

// The system's default output goes to the sound server unless SDL_AUDIODRIVER names another
// of SDL's drivers (the tests' silent "dummy" one, "alsa"). Without a server SDL's ALSA driver
// plays, unless the server was asked for by name.
enum class DefaultRoute { Server, ServerOnly, Sdl };
DefaultRoute defaultRoute() {
  const char* driver = std::getenv("SDL_AUDIODRIVER");
  if (!driver || !*driver) return DefaultRoute::Server;
  if (std::strcmp(driver, "pulseaudio") == 0 || std::strcmp(driver, "pulse") == 0 ||
      std::strcmp(driver, "pipewire") == 0)
    return DefaultRoute::ServerOnly;
  return DefaultRoute::Sdl;
}

}  // namespace

bool raiseThreadPriority(int priority) {
  sched_param param{};
  param.sched_priority = priority;
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

void sdlAudioShutdown() {
  if (!sdlHeld) return;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  sdlHeld = false;
}

int sdlOutputCount() {
  if (!ensureSdlAudio()) return 0;
  const int n = SDL_GetNumAudioDevices(0);
  return n < 0 ? 0 : n;
}

std::unique_ptr<OutputDevice> openOutput(int index, int rate, RenderFn render, int* error,
                                         std::string* why) {
  if (index == 1) {
    const DefaultRoute route = defaultRoute();
    if (route != DefaultRoute::Sdl) {
      auto dev = std::make_unique<PulseOutput>(render);
      if (dev->open(rate, why)) return dev;
      if (route == DefaultRoute::ServerOnly) {
        *error = BASS_ERROR_START;
        return nullptr;
      }
    }
  }
  if (!ensureSdlAudio()) {
    if (why) *why = SDL_GetError();
    *error = BASS_ERROR_DRIVER;
    return nullptr;
  }
  const char* name = nullptr;  // the system's default output
  if (index >= 2) {
    name = SDL_GetAudioDeviceName(index - 2, 0);
    if (!name) {
      *error = BASS_ERROR_DEVICE;
      return nullptr;
    }
  }
  auto dev = std::make_unique<SdlOutput>(std::move(render));
  if (!dev->open(name, rate, why)) {
    *error = BASS_ERROR_START;
    return nullptr;
  }
  return dev;
}

uint64_t outputUnderflows() {
  return gUnderflows.load();
}

}  // namespace audiolib
