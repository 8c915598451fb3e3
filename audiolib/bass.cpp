// The audio library interface over the engine: argument checks, handles and error codes.
#include "bass.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "Engine.h"

using audiolib::Channel;
using audiolib::Engine;
using audiolib::Source;

namespace {

thread_local int tError = BASS_OK;
thread_local int tFxError = BASS_OK;

constexpr DWORD kEngineVersion = 2 | (1u << 16);  // 2.1
constexpr DWORD kFxVersion = 2;                   // 2.0
constexpr QWORD kBadQword = std::numeric_limits<QWORD>::max();
constexpr DWORD kBadDword = 0xFFFFFFFFu;
static_assert(audiolib::kMaxFileChannels == audiolib::kMaxChannelsPerStream,
              "the decoders open what the mixer plays");

template <class T>
T fail(int code, T result) {
  tError = code;
  return result;
}
template <class T>
T fxFail(int code, T result) {
  tFxError = code;
  return result;
}

// Runs the body of an interface function so that no exception leaves it: memory running out
// (a song's buffers, a decoder's tables) becomes BASS_ERROR_MEM, anything else that throws
// (a thread that cannot start) BASS_ERROR_UNKNOWN. The call's lock, if taken, is released by
// the unwinding on the way out.
template <class T, class Body>
T guarded(T failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return fail(BASS_ERROR_MEM, failure);
  } catch (...) {
    return fail(BASS_ERROR_UNKNOWN, failure);
  }
}
// The same for the effects add-on, whose errors have a code of their own.
template <class T, class Body>
T fxGuarded(T failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return fxFail(BASS_ERROR_MEM, failure);
  } catch (...) {
    return fxFail(BASS_ERROR_UNKNOWN, failure);
  }
}

// The engine's lock for one call, refused on the mixing thread (where no call may wait) and
// before BASS_Init.
class Call {
 public:
  explicit Call(bool needInit = true) {
    if (audiolib::inRender()) {
      error_ = BASS_ERROR_NOTAVAIL;
      return;
    }
    lock_ = std::unique_lock(Engine::get().mutex);
    if (needInit && !Engine::get().initialised) {
      error_ = BASS_ERROR_INIT;
      lock_.unlock();
      return;
    }
    error_ = BASS_OK;
  }
  bool ok() const { return error_ == BASS_OK; }
  int error() const { return error_; }
  Engine& engine() { return Engine::get(); }
  void unlock() { lock_.unlock(); }

 private:
  std::unique_lock<std::mutex> lock_;
  int error_ = BASS_ERROR_UNKNOWN;
};

// Frames from a stream callback, in the stream's own sample format.
class CallbackDecoder final : public audiolib::Decoder {
 public:
  CallbackDecoder(int rate, int chans, DWORD flags, STREAMPROC* proc, void* user)
      : rate_(rate), chans_(chans), float_(flags & BASS_SAMPLE_FLOAT), proc_(proc), user_(user) {}
  HSTREAM handle = 0;
  int sampleRate() const override { return rate_; }
  int channels() const override { return chans_; }
  int64_t lengthFrames() const override { return -1; }
  uint32_t channelType() const override { return BASS_CTYPE_STREAM; }
  int64_t read(float* out, int64_t frames) override {
    if (!proc_ || ended_) return 0;
    const int bps = float_ ? 4 : 2;
    bytes_.resize(size_t(frames * chans_ * bps));
    const DWORD r = proc_(handle, bytes_.data(), DWORD(bytes_.size()), user_);
    if (r & BASS_STREAMPROC_END) ended_ = true;
    const int64_t got = std::min<int64_t>((r & ~BASS_STREAMPROC_END) / (chans_ * bps), frames);
    if (float_) {
      std::memcpy(out, bytes_.data(), size_t(got * chans_) * sizeof(float));
    } else {
      const auto* s = reinterpret_cast<const int16_t*>(bytes_.data());
      for (int64_t i = 0; i < got * chans_; ++i) out[i] = float(s[i]) / 32768.0f;
    }
    return got;
  }
  bool seek(int64_t) override { return false; }

 private:
  int rate_, chans_;
  bool float_;
  STREAMPROC* proc_;
  void* user_;
  bool ended_ = false;
  std::vector<unsigned char> bytes_;
};

Channel* findChannel(Call& call, DWORD handle) {
  Channel* c = call.engine().find(handle);
  if (!c) tError = BASS_ERROR_HANDLE;
  return c;
}

// The channel of `handle` under the call's lock; null, with the error code left, when the
// engine is not running or there is no such channel.
Channel* channelOf(Call& call, DWORD handle) {
  if (!call.ok()) {
    tError = call.error();
    return nullptr;
  }
  return findChannel(call, handle);
}

// Leaves "no error" for the caller and returns `result`.
template <class T>
T succeeded(T result) {
  tError = BASS_OK;
  return result;
}

}  // namespace

// ---- the engine ----------------------------------------------------------------------------

DWORD BASS_GetVersion() {
  return kEngineVersion;
}

BOOL BASS_SetConfig(DWORD option, DWORD value) {
  if (option != BASS_CONFIG_FLOATDSP) return fail(BASS_ERROR_ILLTYPE, FALSE);
  Engine::get().floatDsp.store(value != 0);
  return succeeded(TRUE);
}

DWORD BASS_GetConfig(DWORD option) {
  if (option != BASS_CONFIG_FLOATDSP) return fail(BASS_ERROR_ILLTYPE, kBadDword);
  return succeeded(Engine::get().floatDsp.load() ? 1 : 0);
}

BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* win, const void* clsid) {
  return guarded(BOOL(FALSE), [&]() -> BOOL {
    Call call(false);
    if (call.error() != BASS_OK) return fail(call.error(), FALSE);
    if (call.engine().initialised) return fail(BASS_ERROR_ALREADY, FALSE);
    if (freq < 8000 || freq > 192000) return fail(BASS_ERROR_ILLPARAM, FALSE);
    if (device == -1) device = BASS_DEVICE_DEFAULT;
    if (device < 0) return fail(BASS_ERROR_DEVICE, FALSE);
    int error = BASS_OK;
    if (!call.engine().start(device, int(freq), &error)) return fail(error, FALSE);
    return succeeded(TRUE);
  });
}

BOOL BASS_Free() {
  Call call;
  if (!call.ok()) return fail(call.error(), FALSE);
  call.engine().stop();
  return succeeded(TRUE);
}

int BASS_ErrorGetCode() {
  return tError;
}

void audiolib::setLastError(int code) {
  tError = code;
}

BOOL BASS_SetVolume(DWORD volume) {
  if (volume > 100) return fail(BASS_ERROR_ILLPARAM, FALSE);
  Call call;
  if (!call.ok()) return fail(call.error(), FALSE);
  call.engine().masterVolume.store(int(volume));
  return succeeded(TRUE);
}

DWORD BASS_GetVolume() {
  Call call;
  if (!call.ok()) return fail(call.error(), kBadDword);
  return succeeded(DWORD(call.engine().masterVolume.load()));
}

DWORD BASS_MixGetData(void* buffer, DWORD length) {
  return guarded(DWORD(kBadDword), [&]() -> DWORD {
    if (!buffer) return fail(BASS_ERROR_ILLPARAM, kBadDword);
    const DWORD frames = length / (2 * sizeof(float));
    auto* out = static_cast<float*>(buffer);
    {
      Call call;
      if (!call.ok()) return fail(call.error(), kBadDword);
      if (call.engine().output) return fail(BASS_ERROR_NOTAVAIL, kBadDword);
    }
    DWORD done = 0;
    while (done < frames) {
      const DWORD n = std::min<DWORD>(frames - done, 1024);
      {
        Call call;
        if (!call.ok()) return fail(call.error(), kBadDword);
        call.engine().feedAll();
        call.engine().render(out + 2 * done, int(n));
      }
      Engine::get().dispatchEvents();
      done += n;
    }
    return succeeded(done * 2 * sizeof(float));
  });
}

DWORD BASS_GetLatency() {
  Call call;
  if (!call.ok()) return fail(call.error(), 0u);
  return succeeded(call.engine().output ? DWORD(call.engine().output->latencyMs()) : 0);
}

// ---- streams and modules --------------------------------------------------------------------

HSTREAM BASS_StreamCreate(DWORD freq, DWORD chans, DWORD flags, STREAMPROC* proc, void* user) {
  return guarded(HSTREAM(0u), [&]() -> HSTREAM {
    Call call;
    if (!call.ok()) return fail(call.error(), 0u);
    if (freq < 100 || freq > 384000) return fail(BASS_ERROR_ILLPARAM, 0u);
    if (chans < 1 || chans > DWORD(audiolib::kMaxChannelsPerStream))
      return fail(BASS_ERROR_FORMAT, 0u);
    flags &= BASS_SAMPLE_FLOAT | BASS_SAMPLE_LOOP | BASS_STREAM_AUTOFREE | BASS_STREAM_DECODE;
    auto decoder = std::make_unique<CallbackDecoder>(int(freq), int(chans), flags, proc, user);
    CallbackDecoder* dec = decoder.get();
    auto source = std::make_unique<Source>();
    source->decoder = std::move(decoder);
    source->flags = flags;
    auto channel = std::make_unique<Channel>(flags, int(freq), int(chans), BASS_CTYPE_STREAM, -1,
                                             call.engine().rate, false);
    const HSTREAM h = call.engine().add(std::move(channel), std::move(source));
    if (!h) return fail(BASS_ERROR_NOCHAN, 0u);
    dec->handle = h;
    return succeeded(h);
  });
}

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
  return guarded(HSTREAM(0u), [&]() -> HSTREAM {
    Call call;
    if (!call.ok()) return fail(call.error(), 0u);
    if (!file) return fail(BASS_ERROR_ILLPARAM, 0u);
    if (mem || offset || length) return fail(BASS_ERROR_NOTAVAIL, 0u);
    const std::string path(static_cast<const char*>(file));
    flags &= BASS_SAMPLE_FLOAT | BASS_SAMPLE_LOOP | BASS_STREAM_AUTOFREE | BASS_STREAM_DECODE;
    Engine& e = call.engine();
    std::unique_ptr<Channel> channel;
    HSTREAM h = 0;
    if (Source* shared = (flags & BASS_STREAM_DECODE) ? nullptr : e.joinableSource(path, flags)) {
      const auto& d = *shared->decoder;
      channel = std::make_unique<Channel>(flags, d.sampleRate(), d.channels(), d.channelType(),
                                          d.lengthFrames(), e.rate, false);
      channel->path = path;
      Channel* c = channel.get();
      h = e.add(std::move(channel), nullptr);
      if (h) e.attach(c, shared);
    } else {
      int error = BASS_OK;
      auto decoder = e.openDecoder(path, &error);
      if (!decoder) return fail(error, 0u);
      // The decoders refuse more themselves; this keeps the mixer's own limit where
      // BASS_StreamCreate keeps it, whatever decoder comes next.
      if (decoder->channels() < 1 || decoder->channels() > audiolib::kMaxChannelsPerStream)
        return fail(BASS_ERROR_FORMAT, 0u);
      channel =
          std::make_unique<Channel>(flags, decoder->sampleRate(), decoder->channels(),
                                    decoder->channelType(), decoder->lengthFrames(), e.rate, false);
      channel->path = path;
      auto source = std::make_unique<Source>();
      source->decoder = std::move(decoder);
      source->path = path;
      source->flags = flags;
      h = e.add(std::move(channel), std::move(source));
    }
    if (!h) return fail(BASS_ERROR_NOCHAN, 0u);
    return succeeded(h);
  });
}

HMUSIC BASS_MusicLoad(BOOL mem, const void* file, QWORD offset, DWORD length, DWORD flags,
                      DWORD freq) {
  return guarded(HMUSIC(0u), [&]() -> HMUSIC {
    Call call;
    if (!call.ok()) return fail(call.error(), 0u);
    if (!file) return fail(BASS_ERROR_ILLPARAM, 0u);
    if (mem || offset || length) return fail(BASS_ERROR_NOTAVAIL, 0u);
    Engine& e = call.engine();
    const int rate = freq ? int(freq) : e.rate;
    if (rate < 8000 || rate > 192000) return fail(BASS_ERROR_ILLPARAM, 0u);
    int error = BASS_OK;
    auto decoder =
        audiolib::openModuleDecoder(static_cast<const char*>(file), rate, flags & BASS_SAMPLE_LOOP,
                                    flags & BASS_MUSIC_RAMP, &error);
    if (!decoder) return fail(error, 0u);
    // The module loops by itself; the channel does not restart it.
    const DWORD chFlags = (flags & (BASS_SAMPLE_FLOAT | BASS_STREAM_AUTOFREE | BASS_STREAM_DECODE));
    auto channel =
        std::make_unique<Channel>(chFlags, decoder->sampleRate(), decoder->channels(),
                                  BASS_CTYPE_MUSIC, decoder->lengthFrames(), e.rate, true);
    auto source = std::make_unique<Source>();
    source->decoder = std::move(decoder);
    source->flags = chFlags;
    const HMUSIC h = e.add(std::move(channel), std::move(source));
    if (!h) return fail(BASS_ERROR_NOCHAN, 0u);
    return succeeded(h);
  });
}

HSTREAM BASS_StreamCreateRendered(std::unique_ptr<audiolib::ChannelRenderer> renderer,
                                  DWORD flags) {
  return guarded(HSTREAM(0u), [&]() -> HSTREAM {
    Call call;
    if (!call.ok()) return fail(call.error(), 0u);
    if (!renderer) return fail(BASS_ERROR_ILLPARAM, 0u);
    flags = (flags & (BASS_STREAM_AUTOFREE | BASS_SAMPLE_LOOP)) | BASS_SAMPLE_FLOAT;
    auto channel = std::make_unique<Channel>(flags, call.engine().rate, 2, BASS_CTYPE_STREAM, -1,
                                             call.engine().rate, false, std::move(renderer));
    const HSTREAM h = call.engine().add(std::move(channel), nullptr);
    if (!h) return fail(BASS_ERROR_NOCHAN, 0u);
    return succeeded(h);
  });
}

BOOL BASS_StreamPlay(HSTREAM handle, BOOL flush, DWORD flags) {
  return guarded(BOOL(FALSE), [&]() -> BOOL {
    Call call;
    Channel* c = channelOf(call, handle);
    if (!c) return FALSE;
    if (c->decodeOnly()) return fail(BASS_ERROR_DECODE, FALSE);
    if (flags & BASS_STREAM_AUTOFREE) c->autofree = true;
    if (flags & BASS_SAMPLE_LOOP) c->loop = true;
    Engine& e = call.engine();
    if (c->state.load() == BASS_ACTIVE_PLAYING && !flush) return fail(BASS_OK, TRUE);
    if (c->renderer) {
      // A rendered stream starts where its renderer stands; it restarts itself.
      e.arm(c);
      return fail(BASS_OK, TRUE);
    }
    if (flush || c->ended.load()) {
      // From the start; a stream that played to its end starts again too.
      c->state.store(BASS_ACTIVE_STOPPED);
      if (c->position.load() != 0 || c->ended.load() || (c->source && c->source->decoded > 0)) {
        if (!e.seek(c, 0)) return fail(BASS_ERROR_NOTAVAIL, FALSE);
      }
    }
    // Enough decoded for the first blocks before the mixer takes the stream.
    if (c->source) e.feed(*c->source, c->rate / 4);
    e.arm(c);
    return succeeded(TRUE);
  });
}

namespace {
BOOL freeChannel(DWORD handle, bool music) {
  Call call;
  Channel* c = channelOf(call, handle);
  if (!c) return FALSE;
  if (c->music != music) return fail(BASS_ERROR_HANDLE, FALSE);
  call.engine().free(c);
  return succeeded(TRUE);
}

// The stream's length in frames, -1 while unknown: the decoder's latest word, since an MP3's
// exact length replaces its header's once scanned. Under the engine's lock.
int64_t currentLength(Channel* c) {
  if (c->source && c->source->decoder) c->lengthFrames.store(c->source->decoder->lengthFrames());
  return c->lengthFrames.load();
}
}  // namespace

BOOL BASS_StreamFree(HSTREAM handle) {
  return freeChannel(handle, false);
}
BOOL BASS_MusicFree(HMUSIC handle) {
  return freeChannel(handle, true);
}

QWORD BASS_StreamGetLength(DWORD handle) {
  Call call;
  Channel* c = channelOf(call, handle);
  if (!c) return kBadQword;
  const int64_t length = currentLength(c);
  if (length < 0) return fail(BASS_ERROR_NOTAVAIL, kBadQword);
  return succeeded(QWORD(length) * QWORD(c->bytesPerFrame()));
}

// ---- channels -------------------------------------------------------------------------------

DWORD BASS_ChannelIsActive(DWORD handle) {
  Call call;
  Channel* c = channelOf(call, handle);
  if (!c) return BASS_ACTIVE_STOPPED;
  tError = BASS_OK;
  if (c->decodeOnly()) return c->ended.load() ? BASS_ACTIVE_STOPPED : BASS_ACTIVE_PLAYING;
  if (c->armed.load()) return BASS_ACTIVE_PLAYING;
  const DWORD s = c->state.load();
  if (s == BASS_ACTIVE_PLAYING && c->stalled.load()) return BASS_ACTIVE_STALLED;
  return s;
}

BOOL BASS_ChannelStop(DWORD handle) {
  Call call;
  Channel* c = channelOf(call, handle);
  if (!c) return FALSE;
  call.engine().disarm(c);
  c->state.store(BASS_ACTIVE_STOPPED);
  return succeeded(TRUE);
}

BOOL BASS_ChannelPause(DWORD handle) {
  Call call;
  Channel* c = channelOf(call, handle);
  if (!c) return FALSE;
  if (c->decodeOnly()) return fail(BASS_ERROR_DECODE, FALSE);
  const bool armed = c->armed.load();
  if (c->state.load() != BASS_ACTIVE_PLAYING && !armed) return fail(BASS_ERROR_NOTAVAIL, FALSE);
  call.engine().disarm(c);
  c->state.store(BASS_ACTIVE_PAUSED);
  return succeeded(TRUE);
}

BOOL BASS_ChannelResume(DWORD handle) {
  Call call;
  Channel* c = channelOf(call, handle);
  if (!c) return FALSE;
  if (c->state.load() != BASS_ACTIVE_PAUSED) return fail(BASS_ERROR_NOTAVAIL, FALSE);
  call.engine().arm(c);
  return succeeded(TRUE);
}

QWORD BASS_ChannelGetPosition(DWORD handle) {
  Call call;
  Channel* c = channelOf(call, handle);
  if (!c) return kBadQword;
  return succeeded(QWORD(c->position.load()) * QWORD(c->bytesPerFrame()));
}

BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos) {
  return guarded(BOOL(FALSE), [&]() -> BOOL {
    std::shared_ptr<audiolib::Decoder> decoder;
    std::shared_ptr<std::mutex> reading;
    int64_t frame = 0;
    {
      Call call;
      Channel* c = channelOf(call, handle);
      if (!c) return FALSE;
      frame = int64_t(pos / QWORD(c->bytesPerFrame()));
      const int64_t length = currentLength(c);
      if (length >= 0 && frame > length) return fail(BASS_ERROR_POSITION, FALSE);
      if (!c->decodeOnly()) {
        if (!call.engine().seek(c, frame)) return fail(BASS_ERROR_NOTAVAIL, FALSE);
        if (c->wantsData() && c->source) call.engine().feed(*c->source, c->rate / 4);
        return succeeded(TRUE);
      }
      if (!c->source || !c->source->decoder) return fail(BASS_ERROR_NOTAVAIL, FALSE);
      decoder = c->source->decoder;
      reading = c->source->reading;
    }
    // A decoding stream seeks outside the engine's lock: on a disc that may take a while.
    std::lock_guard readLock(*reading);
    const bool ok = decoder->seek(frame);
    Call call;
    Channel* c = channelOf(call, handle);
    if (!c) return FALSE;
    if (!ok) return fail(BASS_ERROR_NOTAVAIL, FALSE);
    if (c->source && c->source->decoder == decoder) {
      c->source->decoded = frame;
      c->source->ended = false;
      c->ended.store(false);
      c->position.store(frame);
    }
    return succeeded(TRUE);
  });
}

float BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos) {
  Call call;
  Channel* c = channelOf(call, handle);
  if (!c) return -1.0f;
  return succeeded(float(double(pos) / (double(c->rate) * c->bytesPerFrame())));
}

QWORD BASS_ChannelSeconds2Bytes(DWORD handle, double seconds) {
  Call call;
  Channel* c = channelOf(call, handle);
  if (!c) return kBadQword;
  if (!(seconds >= 0)) return fail(BASS_ERROR_ILLPARAM, kBadQword);
  return succeeded(QWORD(std::llround(seconds * c->rate)) * QWORD(c->bytesPerFrame()));
}

namespace {
// Checks the attribute values shared by Set and Slide; fills the command.
bool attributeCommand(Channel* c, int freq, int volume, int pan, audiolib::AttrCommand* cmd) {
  // The playback rate of a stream is its own: only "keep" (-1), 0 and the own rate pass.
  if (freq != -1 && freq != 0 && freq != c->rate) return fail(BASS_ERROR_NOTAVAIL, false);
  if (volume != -1 && (volume < 0 || volume > 100)) return fail(BASS_ERROR_ILLPARAM, false);
  if (pan != -101 && (pan < -100 || pan > 100)) return fail(BASS_ERROR_ILLPARAM, false);
  cmd->volume = volume == -1 ? -1.0f : float(volume) / 100.0f;
  cmd->pan = pan == -101 ? NAN : float(pan) / 100.0f;
  return true;
}
}  // namespace

BOOL BASS_ChannelSetAttributes(DWORD handle, int freq, int volume, int pan) {
  Call call;
  Channel* c = channelOf(call, handle);
  if (!c) return FALSE;
  audiolib::AttrCommand cmd;
  if (!attributeCommand(c, freq, volume, pan, &cmd)) return FALSE;
  cmd.kind = audiolib::AttrCommand::Set;
  if (!c->commands.push(cmd)) return fail(BASS_ERROR_MEM, FALSE);
  if (cmd.volume >= 0) c->shadowVolume = cmd.volume;
  if (!std::isnan(cmd.pan)) c->shadowPan = cmd.pan;
  return succeeded(TRUE);
}

BOOL BASS_ChannelGetAttributes(DWORD handle, DWORD* freq, DWORD* volume, int* pan) {
  Call call;
  Channel* c = channelOf(call, handle);
  if (!c) return FALSE;
  const bool live = c->sliding.load();
  const float v = live ? c->liveVolume.load() : c->shadowVolume;
  const float p = live ? c->livePan.load() : c->shadowPan;
  if (freq) *freq = DWORD(c->rate);
  if (volume) *volume = DWORD(std::lround(v * 100.0f));
  if (pan) *pan = int(std::lround(p * 100.0f));
  return succeeded(TRUE);
}

BOOL BASS_ChannelSlideAttributes(DWORD handle, int freq, int volume, int pan, DWORD time) {
  Call call;
  Channel* c = channelOf(call, handle);
  if (!c) return FALSE;
  audiolib::AttrCommand cmd;
  if (!attributeCommand(c, freq, volume, pan, &cmd)) return FALSE;
  cmd.kind = audiolib::AttrCommand::Slide;
  cmd.frames = int64_t(time) * call.engine().rate / 1000;
  if (!c->commands.push(cmd)) return fail(BASS_ERROR_MEM, FALSE);
  c->sliding.store(true);
  if (cmd.volume >= 0) c->shadowVolume = cmd.volume;
  if (!std::isnan(cmd.pan)) c->shadowPan = cmd.pan;
  return succeeded(TRUE);
}

DWORD BASS_ChannelIsSliding(DWORD handle) {
  Call call;
  Channel* c = channelOf(call, handle);
  if (!c) return 0u;
  return succeeded(c->sliding.load() ? 1 : 0);
}

BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info) {
  if (!info) return fail(BASS_ERROR_ILLPARAM, FALSE);
  auto fill = [&](const Channel* c) {
    info->freq = DWORD(c->rate);
    info->chans = DWORD(c->chans);
    info->flags = c->flags;
    info->ctype = c->ctype;
    tError = BASS_OK;
    return TRUE;
  };
  if (audiolib::inRender()) {
    // DSP callbacks ask for their channel's format: the channel can't go away mid-block and
    // these fields never change, so no lock is needed.
    const Channel* c = Engine::get().find(handle);
    return c ? fill(c) : fail(BASS_ERROR_HANDLE, FALSE);
  }
  Call call;
  if (!call.ok()) return fail(call.error(), FALSE);
  Channel* c = findChannel(call, handle);
  return c ? fill(c) : FALSE;
}

DWORD BASS_ChannelGetLevel(DWORD handle) {
  Call call;
  Channel* c = channelOf(call, handle);
  if (!c) return kBadDword;
  if (c->state.load() != BASS_ACTIVE_PLAYING) return fail(BASS_ERROR_NOTAVAIL, kBadDword);
  return succeeded(c->level.load());
}

DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
  return guarded(DWORD(kBadDword), [&]() -> DWORD {
    std::shared_ptr<audiolib::Decoder> decoder;
    std::shared_ptr<std::mutex> reading;
    int chans = 0, bpf = 0;
    bool asFloat = false;
    {
      Call call;
      Channel* c = channelOf(call, handle);
      if (!c) return kBadDword;
      if (!c->decodeOnly()) return fail(BASS_ERROR_DECODE, kBadDword);
      if (!buffer) return fail(BASS_ERROR_ILLPARAM, kBadDword);
      chans = c->chans;
      bpf = c->bytesPerFrame();
      asFloat = c->flags & BASS_SAMPLE_FLOAT;
      if (c->source && c->source->decoder && !c->source->ended) {
        decoder = c->source->decoder;
        reading = c->source->reading;
      }
    }
    const int64_t frames = length / DWORD(bpf);
    std::vector<float> tmp(size_t(std::min<int64_t>(frames, audiolib::kChunkFrames) * chans));
    // The decoder reads (from a disc, perhaps slowly) without the engine's lock, so that the
    // streams that play are fed meanwhile; the lock is taken for each chunk's chain only.
    std::unique_lock<std::mutex> readLock;
    if (reading) readLock = std::unique_lock(*reading);
    int64_t done = 0;
    while (decoder && done < frames) {
      const int64_t want = std::min<int64_t>(frames - done, audiolib::kChunkFrames);
      const int64_t got = audiolib::readFinite(*decoder, tmp.data(), want);
      Call call;
      Channel* c = channelOf(call, handle);
      if (!c) return kBadDword;  // freed meanwhile
      if (!c->source || c->source->decoder != decoder) break;
      call.engine().decoded(c, tmp.data(), got);
      if (got <= 0) break;
      auto* out = static_cast<unsigned char*>(buffer) + done * bpf;
      if (asFloat) {
        std::memcpy(out, tmp.data(), size_t(got * chans) * sizeof(float));
      } else {
        auto* s = reinterpret_cast<int16_t*>(out);
        for (int64_t i = 0; i < got * chans; ++i)
          s[i] = int16_t(std::lrint(std::clamp(tmp[size_t(i)] * 32768.0f, -32768.0f, 32767.0f)));
      }
      done += got;
    }
    if (readLock.owns_lock()) readLock.unlock();
    if (done == 0) {
      Call call;
      Channel* c = channelOf(call, handle);
      if (!c) return kBadDword;
      if (c->autofree) call.engine().free(c);
      return fail(BASS_ERROR_ENDED, kBadDword);
    }
    return succeeded(DWORD(done * bpf));
  });
}

HDSP BASS_ChannelSetDSP(DWORD handle, DSPPROC* proc, void* user, int priority) {
  return guarded(HDSP(0u), [&]() -> HDSP {
    Call call;
    Channel* c = channelOf(call, handle);
    if (!c) return 0u;
    if (!proc) return fail(BASS_ERROR_ILLPARAM, 0u);
    const HDSP dsp = call.engine().newDspHandle();
    if (!c->chain.addCallback(dsp, proc, user, priority)) return fail(BASS_ERROR_NOCHAN, 0u);
    return succeeded(dsp);
  });
}

BOOL BASS_ChannelRemoveDSP(DWORD handle, HDSP dsp) {
  Call call;
  Channel* c = channelOf(call, handle);
  if (!c) return FALSE;
  if (!c->chain.removeCallback(dsp)) return fail(BASS_ERROR_HANDLE, FALSE);
  return succeeded(TRUE);
}

HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, void* user) {
  return guarded(HSYNC(0u), [&]() -> HSYNC {
    Call call;
    Channel* c = channelOf(call, handle);
    if (!c) return 0u;
    const DWORD kind = type & ~BASS_SYNC_ONETIME;
    if (kind != BASS_SYNC_END && kind != BASS_SYNC_SLIDE && kind != BASS_SYNC_CD_ERROR)
      return fail(BASS_ERROR_ILLTYPE, 0u);
    if (!proc) return fail(BASS_ERROR_ILLPARAM, 0u);
    const HSYNC sync = call.engine().newSyncHandle();
    c->syncs.push_back({sync, type, proc, user});
    return succeeded(sync);
  });
}

BOOL BASS_ChannelRemoveSync(DWORD handle, HSYNC sync) {
  Call call;
  Channel* c = channelOf(call, handle);
  if (!c) return FALSE;
  if (!std::erase_if(c->syncs, [&](const audiolib::SyncEntry& s) { return s.handle == sync; }))
    return fail(BASS_ERROR_HANDLE, FALSE);
  return succeeded(TRUE);
}

// ---- song buses ------------------------------------------------------------------------------

namespace {
audiolib::SongBus* busOf(Call& call, HBUS handle) {
  if (!call.ok()) {
    tError = call.error();
    return nullptr;
  }
  audiolib::SongBus* b = call.engine().findBus(handle);
  if (!b) tError = BASS_ERROR_HANDLE;
  return b;
}
}  // namespace

HBUS BASS_BusCreate() {
  return guarded(HBUS(0), [&]() -> HBUS {
    Call call;
    if (!call.ok()) return fail(call.error(), HBUS(0));
    // Rendering on demand (a file, not a listener) takes the engine that sounds best; a device
    // the one that keeps up with the least delay.
    const auto engine = call.engine().output ? audiolib::kLiveStretchEngine
                                              : audiolib::kRenderStretchEngine;
    auto bus = std::make_unique<audiolib::SongBus>(call.engine().rate, engine);
    const HBUS handle = call.engine().addBus(std::move(bus));
    if (!handle) return fail(BASS_ERROR_NOTAVAIL, HBUS(0));
    return succeeded(handle);
  });
}

BOOL BASS_BusFree(HBUS handle) {
  Call call;
  audiolib::SongBus* b = busOf(call, handle);
  if (!b) return FALSE;
  call.engine().freeBus(b);
  return succeeded(TRUE);
}

BOOL BASS_BusAddChannel(HBUS bus, DWORD handle) {
  Call call;
  audiolib::SongBus* b = busOf(call, bus);
  if (!b) return FALSE;
  Channel* c = findChannel(call, handle);
  if (!c) return FALSE;
  if (c->decodeOnly()) return fail(BASS_ERROR_DECODE, FALSE);
  if (!call.engine().joinBus(b, c)) return fail(BASS_ERROR_NOTAVAIL, FALSE);
  return succeeded(TRUE);
}

BOOL BASS_BusSetKeyTempo(HBUS handle, float semitones, float tempo) {
  using audiolib::Stretcher;
  if (!(semitones >= Stretcher::kMinSemitones && semitones <= Stretcher::kMaxSemitones) ||
      !(tempo >= Stretcher::kMinTempo && tempo <= Stretcher::kMaxTempo))
    return fail(BASS_ERROR_ILLPARAM, FALSE);
  return guarded(BOOL(FALSE), [&]() -> BOOL {
    int rate = 0;
    audiolib::StretchEngine engine{};
    {
      Call call;
      audiolib::SongBus* b = busOf(call, handle);
      if (!b) return FALSE;
      if (!b->needsStretcher(semitones, tempo)) {
        b->setKeyTempo(semitones, tempo);
        return succeeded(TRUE);
      }
      rate = call.engine().rate;
      engine = b->engine();
    }
    // Built without the engine's lock, so that the feeder goes on meanwhile.
    // The short window, live and in a file alike: a file sounds as the window plays it.
    auto stretcher =
        std::make_unique<audiolib::Stretcher>(rate, 2, engine, audiolib::kMaxBlockFrames, true);
    Call call;
    audiolib::SongBus* b = busOf(call, handle);
    if (!b) return FALSE;
    b->installStretcher(std::move(stretcher));
    b->setKeyTempo(semitones, tempo);
    return succeeded(TRUE);
  });
}

BOOL BASS_BusSetGain(HBUS handle, float dB, BOOL ramp) {
  if (!(dB >= -60 && dB <= 40)) return fail(BASS_ERROR_ILLPARAM, FALSE);
  Call call;
  audiolib::SongBus* b = busOf(call, handle);
  if (!b) return FALSE;
  b->setGain(dB, ramp != FALSE);
  return succeeded(TRUE);
}

float BASS_BusGetLatency(HBUS handle) {
  Call call;
  audiolib::SongBus* b = busOf(call, handle);
  if (!b) return -1.0f;
  return succeeded(float(b->latencyMs()));
}

// ---- the effects add-on ---------------------------------------------------------------------

DWORD BASS_FX_GetVersion() {
  return kFxVersion;
}

int BASS_FX_ErrorGetCode() {
  return tFxError;
}

namespace {
Channel* fxChannel(Call& call, DWORD handle) {
  if (!call.ok()) return fxFail(call.error(), nullptr);
  Channel* c = call.engine().find(handle);
  if (!c) return fxFail(BASS_ERROR_HANDLE, nullptr);
  return c;
}
}  // namespace

BOOL BASS_FX_DSP_Set(DWORD handle, int type, int priority) {
  return fxGuarded(BOOL(FALSE), [&]() -> BOOL {
    Call call;
    Channel* c = fxChannel(call, handle);
    if (!c) return FALSE;
    // Setting an attached type again keeps the instance and its parameters.
    if (c->chain.hasEffect(type)) return fxFail(BASS_OK, TRUE);
    auto fx = audiolib::createEffect(type);
    if (!fx) return fxFail(BASS_ERROR_ILLTYPE, FALSE);
    fx->prepare(c->rate, c->chans);
    if (!c->chain.addEffect(type, std::move(fx), priority)) return fxFail(BASS_ERROR_NOCHAN, FALSE);
    c->dspLatency.store(c->chain.latencyFrames());
    tFxError = BASS_OK;
    return TRUE;
  });
}

BOOL BASS_FX_DSP_Remove(DWORD handle, int type) {
  Call call;
  Channel* c = fxChannel(call, handle);
  if (!c) return FALSE;
  if (!c->chain.removeEffect(type)) return fxFail(BASS_ERROR_NOTAVAIL, FALSE);
  c->dspLatency.store(c->chain.latencyFrames());
  tFxError = BASS_OK;
  return TRUE;
}

BOOL BASS_FX_DSP_SetParameters(DWORD handle, int type, const void* params) {
  Call call;
  Channel* c = fxChannel(call, handle);
  if (!c) return FALSE;
  if (!params) return fxFail(BASS_ERROR_ILLPARAM, FALSE);
  audiolib::Effect* fx = c->chain.findEffect(type);
  if (!fx) return fxFail(BASS_ERROR_NOTAVAIL, FALSE);
  if (!fx->setParameters(params)) return fxFail(BASS_ERROR_ILLPARAM, FALSE);
  c->dspLatency.store(c->chain.latencyFrames());
  tFxError = BASS_OK;
  return TRUE;
}

int BASS_FX_GetLatency(DWORD handle) {
  Call call;
  Channel* c = fxChannel(call, handle);
  if (!c) return -1;
  tFxError = BASS_OK;
  return c->dspLatency.load();
}

BOOL BASS_FX_DSP_GetParameters(DWORD handle, int type, void* params) {
  Call call;
  Channel* c = fxChannel(call, handle);
  if (!c) return FALSE;
  if (!params) return fxFail(BASS_ERROR_ILLPARAM, FALSE);
  audiolib::Effect* fx = c->chain.findEffect(type);
  if (!fx) return fxFail(BASS_ERROR_NOTAVAIL, FALSE);
  if (!fx->getParameters(params)) return fxFail(BASS_ERROR_ILLPARAM, FALSE);
  tFxError = BASS_OK;
  return TRUE;
}
