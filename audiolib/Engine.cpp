#include "Engine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "Finite.h"
#include "PrefetchDecoder.h"

namespace audiolib {

namespace {
thread_local bool tInRender = false;

// Starts asked for within this time of each other begin on the same output frame.
constexpr int64_t kStartGroupNs = 15'000'000;
constexpr int64_t kFeedChunk = 4096;

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

bool inRender() {
  return tInRender;
}

void PeakLimiter::prepare(int sampleRate) {
  gain_ = 1.0;
  release_ = 1.0 - std::exp(-1.0 / (kReleaseSeconds * sampleRate));
}

void PeakLimiter::process(float* frames, int count) {
  // A gain that went non-finite would stay so; it starts again at unity.
  if (!std::isfinite(gain_)) gain_ = 1.0;
  int f = 0;
  if (gain_ == 1.0) {
    // Nothing over full scale and no reduction left: nothing to do.
    while (f < count && std::fabs(frames[2 * f]) <= 1.0f && std::fabs(frames[2 * f + 1]) <= 1.0f)
      ++f;
    if (f == count) return;
  }
  // Where the release comes this close to unity the gain is unity again, and the limiter
  // transparent (a step of -0.0009 dB).
  constexpr double kUnity = 1.0 - 1e-4;
  for (; f < count; ++f) {
    float* s = frames + 2 * f;
    if (!std::isfinite(s[0]) || !std::isfinite(s[1])) {
      // A DSP callback that made a NaN or an infinity: the frame is silenced, so that it
      // neither reaches the device nor sets the gain.
      s[0] = s[1] = 0.0f;
    }
    const double peak = std::max(std::fabs(s[0]), std::fabs(s[1]));
    if (gain_ < 1.0) {
      gain_ += (1.0 - gain_) * release_;
      if (gain_ > kUnity) gain_ = 1.0;
    }
    // Only what would clip is reduced: the frames within full scale let the release run on.
    if (peak > 1.0 && peak * gain_ > kCeiling) gain_ = kCeiling / peak;
    if (gain_ < 1.0) {
      s[0] = float(s[0] * gain_);
      s[1] = float(s[1] * gain_);
    }
  }
}

std::unique_ptr<Decoder> Engine::openDecoder(const std::string& path, int* error) {
  auto decoder = openStreamDecoder(path, error);
  if (!decoder || device != 0) return decoder;
  // Rendering on demand has the time for an MP3's scan, and its length decides how much
  // it renders.
  decoder->waitForLength();
  // Only compressed songs gain: a PCM file reads faster than two threads can hand it over.
  if (decoder->channelType() == BASS_CTYPE_STREAM_MP3)
    return std::make_unique<PrefetchDecoder>(std::move(decoder));
  return decoder;
}

int64_t readFinite(Decoder& decoder, float* out, int64_t frames) {
  const int64_t got = decoder.read(out, frames);
  if (got > 0) zeroNonFinite(out, size_t(got * decoder.channels()));
  return got;
}

Engine& Engine::get() {
  static Engine* engine = new Engine;  // never destroyed: threads are stopped by BASS_Free
  return *engine;
}

Channel* Engine::find(DWORD handle) const {
  const DWORD slot = handle & (kMaxSlots - 1);
  if (slot == 0) return nullptr;
  Channel* c = owned_[slot].get();
  return (c && c->handle == handle) ? c : nullptr;
}

DWORD Engine::add(std::unique_ptr<Channel> channel, std::unique_ptr<Source> source) {
  int slot = 0;
  for (int i = 0; i < kMaxSlots - 1; ++i) {
    const int s = 1 + (nextSlot_ - 1 + i) % (kMaxSlots - 1);
    if (!owned_[size_t(s)]) {
      slot = s;
      break;
    }
  }
  if (slot == 0) return 0;
  nextSlot_ = slot % (kMaxSlots - 1) + 1;
  generation_[size_t(slot)] = (generation_[size_t(slot)] + 1) & 0x3FFFFF;
  const DWORD handle = (generation_[size_t(slot)] << 10) | DWORD(slot);
  channel->handle = handle;
  Channel* c = channel.get();
  owned_[size_t(slot)] = std::move(channel);
  if (source) {
    sources_.push_back(std::move(source));
    attach(c, sources_.back().get());
  }
  slots_[size_t(slot)].store(c, std::memory_order_release);
  return handle;
}

Source* Engine::joinableSource(const std::string& path, DWORD flags) {
  for (auto& s : sources_) {
    if (s->path.empty() || s->path != path || s->flags != flags || s->decoded != 0 || s->ended)
      continue;
    if (s->readers.empty() || s->readers.front()->decodeOnly()) continue;
    return s.get();
  }
  return nullptr;
}

void Engine::attach(Channel* channel, Source* source) {
  source->readers.push_back(channel);
  channel->source = source;
}

void Engine::free(Channel* c) {
  disarm(c);
  const DWORD slot = c->handle & (kMaxSlots - 1);
  // Sequentially consistent with the mixer's epoch step and slot read: either the mixer's
  // block began after these stores (it can't see the channel), or this thread sees the odd
  // epoch of the block and waits it out.
  slots_[slot].store(nullptr, std::memory_order_seq_cst);
  if (SongBus* b = c->bus.load()) b->remove(c);
  if (Source* s = c->source) {
    std::erase(s->readers, c);
    if (s->readers.empty())
      std::erase_if(sources_, [&](const std::unique_ptr<Source>& p) { return p.get() == s; });
  }
  waitForMixer();
  owned_[slot].reset();
}

void Engine::freeAll() {
  for (int s = 1; s < kMaxSlots; ++s)
    if (owned_[size_t(s)]) free(owned_[size_t(s)].get());
  sources_.clear();
  for (auto& b : busOwned_)
    if (b) freeBus(b.get());
}

HBUS Engine::addBus(std::unique_ptr<SongBus> bus) {
  for (int i = 1; i < kMaxBuses; ++i) {
    if (busOwned_[size_t(i)]) continue;
    const uint32_t generation = ++busGeneration_[size_t(i)] & 0x0FFFFFFFu;
    bus->handle = HBUS(generation << 4 | uint32_t(i));
    busOwned_[size_t(i)] = std::move(bus);
    buses_[size_t(i)].store(busOwned_[size_t(i)].get(), std::memory_order_seq_cst);
    return busOwned_[size_t(i)]->handle;
  }
  return 0;
}

SongBus* Engine::findBus(HBUS handle) const {
  const DWORD slot = handle & (kMaxBuses - 1);
  if (slot == 0) return nullptr;
  SongBus* b = busOwned_[slot].get();
  return b && b->handle == handle ? b : nullptr;
}

void Engine::freeBus(SongBus* bus) {
  const DWORD slot = bus->handle & (kMaxBuses - 1);
  // Out of the mix first, so that no block renders a member both through the bus and alone.
  buses_[slot].store(nullptr, std::memory_order_seq_cst);
  waitForMixer();
  for (Channel* c : bus->members()) {
    bus->remove(c);
    c->bus.store(nullptr, std::memory_order_seq_cst);
    c->deferEnd = false;
  }
  busOwned_[slot].reset();
}

bool Engine::joinBus(SongBus* bus, Channel* c) {
  SongBus* old = c->bus.load();
  if (old == bus) return true;
  if (old) {
    const DWORD slot = old->handle & (kMaxBuses - 1);
    buses_[slot].store(nullptr, std::memory_order_seq_cst);
    waitForMixer();
    old->remove(c);
    c->bus.store(nullptr, std::memory_order_seq_cst);
    buses_[slot].store(old, std::memory_order_seq_cst);
  }
  // The channel leaves the mix before it enters the bus, for the same reason.
  const DWORD slot = c->handle & (kMaxSlots - 1);
  slots_[slot].store(nullptr, std::memory_order_seq_cst);
  waitForMixer();
  const bool added = bus->add(c);
  slots_[slot].store(c, std::memory_order_seq_cst);
  return added;
}

void Engine::waitForMixer() {
  // A block that began before the channel left the slots may still use it: wait it out.
  const uint64_t e = epoch_.load(std::memory_order_seq_cst);
  if (e & 1u)
    while (epoch_.load(std::memory_order_acquire) == e) std::this_thread::yield();
}

void Engine::feedAll() {
  refreshLengths();
  for (size_t i = 0; i < sources_.size(); ++i) {
    Source& s = *sources_[i];
    if (std::any_of(s.readers.begin(), s.readers.end(), [](Channel* c) { return c->wantsData(); }))
      feed(s, INT64_MAX);
  }
  for (int s = 1; s < kMaxSlots; ++s)
    if (owned_[size_t(s)]) owned_[size_t(s)]->collectGarbage();
}

void Engine::feed(Source& s, int64_t limitFrames) {
  if (s.ended || s.readers.empty() || s.readers.front()->decodeOnly()) return;
  const int chans = s.decoder->channels();
  s.buffer.resize(size_t(kFeedChunk * chans));
  int64_t total = 0;
  bool justLooped = false;
  while (total < limitFrames) {
    int64_t space = INT64_MAX;
    for (Channel* r : s.readers) space = std::min(space, r->producer()->ring.writeSpace());
    if (space < kChunkFrames) {
      // A reader that stopped consuming must not hold the others back: it leaves the step.
      Channel* idle = nullptr;
      if (s.readers.size() > 1) {
        const bool someoneHungry = std::any_of(s.readers.begin(), s.readers.end(), [](Channel* r) {
          return r->producer()->ring.writeSpace() >= 4 * kChunkFrames;
        });
        for (Channel* r : s.readers)
          if (someoneHungry && r->producer()->ring.writeSpace() < kChunkFrames) idle = r;
      }
      if (!idle) break;
      splitReader(s, idle);
      continue;
    }
    const int64_t n = std::min({space, kFeedChunk, limitFrames - total});
    const int64_t got = readFinite(*s.decoder, s.buffer.data(), n);
    if (got == kDecoderNotReady) break;  // a slow device: the feeder comes back for more
    if (got <= 0) {
      if (got == 0 && s.readers.front()->loop && s.decoded > 0 && !justLooped &&
          s.decoder->seek(0)) {
        justLooped = true;
        continue;
      }
      s.ended = true;
      for (Channel* r : s.readers) r->producer()->ring.setEof();
      break;
    }
    justLooped = false;
    for (Channel* r : s.readers) r->producer()->ring.write(s.buffer.data(), got);
    s.decoded += got;
    total += got;
  }
}

void Engine::splitReader(Source& s, Channel* reader) {
  int error = 0;
  auto own = std::make_unique<Source>();
  own->path = s.path;
  own->flags = s.flags;
  own->decoded = s.decoded;
  own->decoder = openDecoder(s.path, &error);
  if (!own->decoder || !own->decoder->seek(s.decoded)) {
    // The file went away: the reader plays what it has and then ends.
    reader->producer()->ring.setEof();
    own->decoder.reset();
    own->ended = true;
  }
  std::erase(s.readers, reader);
  if (!own->decoder) {
    // Keep a decoder-less source so that the reader still has one to belong to.
    own->decoder = nullptr;
  }
  sources_.push_back(std::move(own));
  attach(reader, sources_.back().get());
}

bool Engine::seek(Channel* c, int64_t frame) {
  Source* s = c->source;
  if (!s || !s->decoder) return false;
  if (s->readers.size() > 1) {
    int error = 0;
    auto dec = openDecoder(s->path, &error);
    if (!dec || !dec->seek(frame)) return false;
    auto own = std::make_unique<Source>();
    own->path = s->path;
    own->flags = s->flags;
    own->decoded = frame;
    own->decoder = std::move(dec);
    std::erase(s->readers, c);
    sources_.push_back(std::move(own));
    attach(c, sources_.back().get());
  } else {
    if (!s->decoder->seek(frame)) return false;
    s->decoded = frame;
    s->ended = false;
  }
  c->newFeed(frame);
  return true;
}

void Engine::arm(Channel* c) {
  if (c->state.load() == BASS_ACTIVE_PLAYING) return;
  lastArmNs_.store(nowNs(), std::memory_order_relaxed);
  if (!c->armed.exchange(true)) armedCount_.fetch_add(1);
  wake_.notify_one();
}

void Engine::disarm(Channel* c) {
  if (c->armed.exchange(false)) armedCount_.fetch_sub(1);
}

void Engine::commitStarts() {
  if (armedCount_.load(std::memory_order_acquire) == 0) return;
  if (output && nowNs() - lastArmNs_.load(std::memory_order_relaxed) < kStartGroupNs) return;
  for (auto& slot : slots_) {
    Channel* c = slot.load(std::memory_order_acquire);
    if (c && c->armed.exchange(false)) {
      c->state.store(BASS_ACTIVE_PLAYING, std::memory_order_release);
      armedCount_.fetch_sub(1);
    }
  }
}

void Engine::decoded(Channel* c, float* out, int64_t got) {
  Source* s = c->source;
  if (!s) return;
  if (got <= 0) {
    s->ended = true;
    c->ended.store(true);
    return;
  }
  std::vector<int16_t> s16;
  const bool floatSamples = floatDsp.load() || (c->flags & BASS_SAMPLE_FLOAT);
  if (!floatSamples) s16.resize(size_t(got * c->chans));
  const bool was = tInRender;
  tInRender = true;  // callbacks see the same rules as on the mixing thread
  c->chain.process(c->handle, out, got, c->chans, floatSamples, s16.data());
  tInRender = was;
  s->decoded += got;
  c->position.store(s->decoded);
}

void Engine::refreshLengths() {
  for (auto& s : sources_) {
    if (!s->decoder) continue;
    const int64_t length = s->decoder->lengthFrames();
    for (Channel* r : s->readers) r->lengthFrames.store(length, std::memory_order_relaxed);
  }
}

void Engine::render(float* out, int frames) {
  tInRender = true;
  while (frames > 0) {
    const int n = std::min(frames, kMaxBlockFrames);
    epoch_.fetch_add(1, std::memory_order_seq_cst);
    commitStarts();
    std::memset(out, 0, size_t(n) * 2 * sizeof(float));
    const int64_t mixed = mixed_.load(std::memory_order_relaxed);
    const bool fdsp = floatDsp.load(std::memory_order_relaxed);
    for (int s = 1; s < kMaxSlots; ++s) {
      Channel* c = slots_[size_t(s)].load(std::memory_order_seq_cst);
      if (!c || c->decodeOnly()) continue;
      if (c->bus.load(std::memory_order_seq_cst)) continue;  // its bus renders it
      if (c->render(out, n, fdsp, mixed)) events_.push({BASS_SYNC_END, c->handle});
      if (c->slideFinished) events_.push({BASS_SYNC_SLIDE, c->handle});
    }
    for (int b = 1; b < kMaxBuses; ++b) {
      SongBus* bus = buses_[size_t(b)].load(std::memory_order_seq_cst);
      if (!bus) continue;
      SongBus::Report report;
      bus->render(out, n, fdsp, mixed, &report);
      for (Channel* c : report.ended)
        if (c) events_.push({BASS_SYNC_END, c->handle});
      for (Channel* c : report.slid)
        if (c) events_.push({BASS_SYNC_SLIDE, c->handle});
    }
    const int vol = masterVolume.load(std::memory_order_relaxed);
    if (vol != 100)
      for (int i = 0; i < 2 * n; ++i) out[i] *= float(vol) / 100.0f;
    limiter.process(out, n);
    mixed_.store(mixed + n, std::memory_order_relaxed);
    epoch_.fetch_add(1, std::memory_order_acq_rel);
    out += 2 * n;
    frames -= n;
  }
  tInRender = false;
}

void Engine::dispatchEvents() {
  struct Call {
    SYNCPROC* proc;
    HSYNC sync;
    DWORD channel;
    void* user;
  };
  std::vector<Call> calls;
  std::vector<DWORD> toFree;
  {
    std::lock_guard lock(mutex);
    EngineEvent e;
    while (events_.pop(e)) {
      Channel* c = find(e.handle);
      if (!c) continue;
      for (auto it = c->syncs.begin(); it != c->syncs.end();) {
        if ((it->type & ~BASS_SYNC_ONETIME) == e.type) {
          calls.push_back({it->proc, it->handle, c->handle, it->user});
          if (it->type & BASS_SYNC_ONETIME) {
            it = c->syncs.erase(it);
            continue;
          }
        }
        ++it;
      }
      if (e.type == BASS_SYNC_END && c->autofree) toFree.push_back(c->handle);
    }
  }
  for (const Call& call : calls) call.proc(call.sync, call.channel, 0, call.user);
  if (toFree.empty()) return;
  std::lock_guard lock(mutex);
  for (DWORD h : toFree) {
    Channel* c = find(h);
    // A sync may have restarted the channel; then it is not freed.
    if (c && c->ended.load() && c->state.load() == BASS_ACTIVE_STOPPED && !c->armed.load()) free(c);
  }
}

bool Engine::start(int deviceIndex, int rate_, int* error) {
  mixed_.store(0);
  rate = rate_;
  device = deviceIndex;
  limiter.prepare(rate_);  // before any mixer runs; the devices play at the rate asked for
  if (deviceIndex != 0) {
    std::string why;
    output = openOutput(
        deviceIndex, rate_, [this](float* o, int n) { render(o, n); }, error, &why);
    if (!output) {
      sdlAudioShutdown();
      return false;
    }
    rate = output->sampleRate();
    running_ = true;
    worker_ = std::thread([this] { workerLoop(); });
  }
  initialised = true;
  return true;
}

void Engine::stop() {
  if (output) output->stop();
  if (running_) {
    running_ = false;
    wake_.notify_all();
    mutex.unlock();  // the worker takes the lock on its way out
    worker_.join();
    mutex.lock();
  }
  freeAll();
  if (output) {
    output.reset();
    sdlAudioShutdown();
  }
  initialised = false;
  armedCount_ = 0;
}

void Engine::workerLoop() {
  while (running_) {
    {
      std::lock_guard lock(mutex);
      if (!running_) break;
      feedAll();
    }
    dispatchEvents();
    std::unique_lock lk(wakeMutex_);
    wake_.wait_for(lk, std::chrono::milliseconds(5));
  }
}

bool streamFrameHeardNs(DWORD handle, int64_t frame, int64_t* ns) {
  Engine& e = Engine::get();
  std::lock_guard lock(e.mutex);
  Channel* c = e.find(handle);
  if (!c || !e.output) return false;
  const int64_t first = c->firstOutputFrame.load(std::memory_order_acquire);
  if (first < 0) return false;
  double tempo = 1.0;
  if (SongBus* b = c->bus.load(); b && b->stretching()) tempo = std::max(0.01f, b->tempo());
  // A chain whose latency changed since the first frame (the remover switched) moves the song.
  const int moved = c->dspLatency.load() - c->firstLatency.load();
  const int64_t at =
      first + int64_t(double(frame + moved) * e.rate / std::max(1, int(c->rate)) / tempo);
  return e.output->frameHeardNs(at, ns);
}

}  // namespace audiolib
