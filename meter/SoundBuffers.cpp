// The looping capture and output buffers on SDL2 devices, and the device list.
//
// Each buffer owns one SDL device, opened in the buffer's own format (SDL converts to and from
// the device's). The device thread's callback copies bytes between the device and the buffer,
// publishes its cursor with release ordering and, for every notification offset the cursor
// reaches, queues that entry's event handle for the window thread and wakes the eventfd. The
// window thread reads and writes only bytes away from the cursor and publishes each access, so
// the two threads never touch the same bytes unordered. Start, stop and the notification table
// change only while SDL holds the device's lock, which also keeps the callback out.
#include <SDL2/SDL.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

#include "modDXAPI.h"

namespace lumo {
namespace {

bool ensureSdlAudio(std::string* error) {
  static std::mutex mutex;
  static bool ready = false;
  std::lock_guard lock(mutex);
  if (ready) return true;
  // The host ends on SIGINT and SIGTERM itself; SDL would turn them into events nobody reads.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // Counted by SDL: the host's own engine may use the audio subsystem in the same process.
  ready = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  if (!ready && error) *error = SDL_GetError();
  return ready;
}

// About 10 ms of frames, as a power of two (SDL's drivers want one).
uint16_t periodFrames(uint32_t rate) {
  const double target = rate / 100.0;
  uint32_t p = 16;
  while (p * 2 <= target) p *= 2;
  return uint16_t(target - p < 2 * p - target ? p : 2 * p);
}

// Event handles from one device thread to the window thread, in a fixed ring.
class EventQueue {
 public:
  bool push(int32_t event) {  // device thread
    const uint32_t tail = tail_.load(std::memory_order_relaxed);
    const uint32_t next = (tail + 1) % kSlots;
    if (next == head_.load(std::memory_order_acquire)) return false;  // window thread stalled
    slots_[tail] = event;
    tail_.store(next, std::memory_order_release);
    return true;
  }
  bool pop(int32_t& event) {  // window thread
    const uint32_t head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_acquire)) return false;
    event = slots_[head];
    head_.store((head + 1) % kSlots, std::memory_order_release);
    return true;
  }

 private:
  static constexpr uint32_t kSlots = 1024;  // 15 s of capture notifications
  std::array<int32_t, kSlots> slots_{};
  alignas(64) std::atomic<uint32_t> head_{0};
  alignas(64) std::atomic<uint32_t> tail_{0};
};

// What the two buffers share: the bytes, the device, the cursor and the notifications.
class DeviceRing {
 public:
  DeviceRing(uint32_t size, int wakeFd) : bytes_(size), wakeFd_(wakeFd) {}
  ~DeviceRing() {
    if (device_) SDL_CloseAudioDevice(device_);  // returns once the device thread has ended
  }
  DeviceRing(const DeviceRing&) = delete;
  DeviceRing& operator=(const DeviceRing&) = delete;

  bool open(const DriverEntry& driver, const WaveFormat& format, bool capture,
            SDL_AudioCallback callback, void* self, std::string* error) {
    if (!ensureSdlAudio(error)) return false;
    if (bytes_.empty() || format.blockAlign == 0 || bytes_.size() % format.blockAlign != 0 ||
        (format.bitsPerSample != 8 && format.bitsPerSample != 16) || format.channels == 0) {
      if (error) *error = "the device layer takes no such format";
      return false;
    }
    SDL_AudioSpec want{};
    want.freq = int(format.samplesPerSec);
    want.format = format.bitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    want.channels = uint8_t(format.channels);
    // Capture hands over about every 10 ms (the meter's latency); playback keeps four such
    // periods with the server, so that a busy machine does not make it run dry.
    want.samples = uint16_t(periodFrames(format.samplesPerSec) * (capture ? 1 : 4));
    want.callback = callback;
    want.userdata = self;
    SDL_AudioSpec got{};
    const char* name = driver.Guid.empty() ? nullptr : driver.Guid.c_str();
    device_ = SDL_OpenAudioDevice(name, capture ? 1 : 0, &want, &got, 0);
    if (!device_) {
      if (error) *error = SDL_GetError();
      return false;
    }
    periodBytes_ = got.size;
    silence_ = got.silence;
    return true;  // paused until started
  }

  uint32_t size() const { return uint32_t(bytes_.size()); }

  void setTable(const std::vector<NotifyEntry>& table) {
    SDL_LockAudioDevice(device_);
    count_ = std::min(table.size(), table_.size());
    std::copy_n(table.begin(), count_, table_.begin());
    // Reached in offset order; entry 0 of a table sits at the wrap.
    std::stable_sort(table_.begin(), table_.begin() + count_,
                     [this](const NotifyEntry& a, const NotifyEntry& b) {
                       return reachAt(a.offset) < reachAt(b.offset);
                     });
    SDL_UnlockAudioDevice(device_);
  }

  // Pauses the device, sets it up for a new run, and lets it go again.
  void run(bool looping, bool fromZero) {
    SDL_PauseAudioDevice(device_, 1);  // no callback is running once this returns
    if (fromZero) cursor_.store(0, std::memory_order_relaxed);
    looping_ = looping;
    active_ = true;
    int32_t stale;
    while (queue_.pop(stale)) {
    }
    SDL_PauseAudioDevice(device_, 0);
  }
  void pause() { SDL_PauseAudioDevice(device_, 1); }

  void setCursor(uint32_t position) {
    SDL_LockAudioDevice(device_);
    cursor_.store(position % size(), std::memory_order_relaxed);
    SDL_UnlockAudioDevice(device_);
  }
  uint32_t cursor() const { return cursor_.load(std::memory_order_acquire); }
  uint32_t periodBytes() const { return periodBytes_; }

  // Window thread: copies out of or into the ring, wrapping at its end, then publishes the
  // access so that the device's later use of these bytes is ordered after it.
  // `inPlace`: each byte goes to its own position in `out` (a whole-ring copy).
  void copyOut(uint32_t start, uint32_t count, uint8_t* out, bool inPlace = false) const {
    (void)cursor();
    wrapCopy(start, count, [&](uint32_t at, uint32_t n, uint32_t done) {
      std::memcpy(out + (inPlace ? at : done), bytes_.data() + at, n);
    });
    windowDone_.fetch_add(1, std::memory_order_release);
  }
  void copyIn(uint32_t start, uint32_t count, const uint8_t* in) {
    (void)cursor();
    wrapCopy(start, count, [&](uint32_t at, uint32_t n, uint32_t done) {
      std::memcpy(bytes_.data() + at, in + done, n);
    });
    windowDone_.fetch_add(1, std::memory_order_release);
  }

  bool take(int32_t& event) { return queue_.pop(event); }

  // Device thread: moves `len` bytes between the device and the ring at the cursor. `toRing`
  // for capture. When not looping the run ends at the ring's end; the rest of an output
  // period is silence.
  void transfer(uint8_t* device, uint32_t len, bool toRing) {
    (void)windowDone_.load(std::memory_order_acquire);
    uint32_t pos = cursor_.load(std::memory_order_relaxed);
    const uint32_t size = this->size();
    bool woke = false;
    while (len > 0 && active_) {
      const uint32_t n = std::min(len, size - pos);
      if (toRing)
        std::memcpy(bytes_.data() + pos, device, n);
      else
        std::memcpy(device, bytes_.data() + pos, n);
      device += n;
      len -= n;
      const uint32_t end = pos + n;
      cursor_.store(end == size ? 0 : end, std::memory_order_release);
      // After the cursor: whoever takes a notification finds the cursor at or past its offset.
      for (size_t i = 0; i < count_; ++i) {
        const uint32_t at = reachAt(table_[i].offset);
        if (at > pos && at <= end && table_[i].event != 0) woke |= queue_.push(table_[i].event);
      }
      pos = end == size ? 0 : end;
      if (end == size && !looping_) active_ = false;
    }
    if (len > 0 && !toRing) std::memset(device, silence_, len);
    if (woke && wakeFd_ >= 0) {
      const uint64_t one = 1;
      (void)!::write(wakeFd_, &one, sizeof one);
    }
  }

 private:
  // The cursor reaches offset 0 when it wraps, after the ring's last byte.
  uint32_t reachAt(uint32_t offset) const { return offset == 0 ? size() : offset; }

  template <typename Fn>
  void wrapCopy(uint32_t start, uint32_t count, Fn&& fn) const {
    const uint32_t size = this->size();
    if (size == 0) return;
    start %= size;
    count = std::min(count, size);
    const uint32_t first = std::min(count, size - start);
    fn(start, first, 0);
    if (count > first) fn(0, count - first, first);
  }

  std::vector<uint8_t> bytes_;
  SDL_AudioDeviceID device_ = 0;
  uint32_t periodBytes_ = 0;
  uint8_t silence_ = 0;
  int wakeFd_ = -1;
  // Changed only under the device's lock (or while paused), read by the callback.
  std::array<NotifyEntry, 128> table_{};
  size_t count_ = 0;
  bool looping_ = true;
  bool active_ = false;
  std::atomic<uint32_t> cursor_{0};
  mutable std::atomic<uint32_t> windowDone_{0};
  EventQueue queue_;
};

class SdlCaptureBuffer final : public CaptureBuffer {
 public:
  SdlCaptureBuffer(uint32_t size, int wakeFd) : ring_(size, wakeFd) {}
  bool open(const DriverEntry& driver, const WaveFormat& format, std::string* error) {
    return ring_.open(driver, format, true, &SdlCaptureBuffer::callback, this, error);
  }

  uint32_t size() const override { return ring_.size(); }
  void setNotificationPositions(const std::vector<NotifyEntry>& table) override {
    ring_.setTable(table);
  }
  // Every start is a fresh pass from position 0, so what a recording saves first is new.
  void start(bool looping) override { ring_.run(looping, true); }
  void stop() override { ring_.pause(); }
  // Everything the device has written is safe to read, so both positions are its cursor.
  void getCurrentPosition(int32_t& capture, int32_t& read) const override {
    capture = read = int32_t(ring_.cursor());
  }
  void read(uint32_t start, uint32_t count, uint8_t* out, bool wholeBuffer) const override {
    if (!wholeBuffer) return ring_.copyOut(start, count, out);
    // The whole ring but the period after the cursor, which the device may be filling now.
    const uint32_t size = ring_.size();
    const uint32_t busy = std::min(ring_.periodBytes(), size);
    const uint32_t from = (ring_.cursor() + busy) % size;
    ring_.copyOut(from, size - busy, out, true);
  }
  bool takeNotification(int32_t& eventid) override { return ring_.take(eventid); }

 private:
  static void callback(void* self, Uint8* stream, int len) {
    static_cast<SdlCaptureBuffer*>(self)->ring_.transfer(stream, uint32_t(len), true);
  }
  DeviceRing ring_;
};

class SdlOutputBuffer final : public OutputBuffer {
 public:
  SdlOutputBuffer(uint32_t size, int wakeFd) : ring_(size, wakeFd) {}
  bool open(const DriverEntry& driver, const WaveFormat& format, std::string* error) {
    return ring_.open(driver, format, false, &SdlOutputBuffer::callback, this, error);
  }

  uint32_t size() const override { return ring_.size(); }
  void setNotificationPositions(const std::vector<NotifyEntry>& table) override {
    ring_.setTable(table);
  }
  void write(uint32_t start, uint32_t count, const uint8_t* bytes) override {
    ring_.copyIn(start, count, bytes);
  }
  void read(uint32_t start, uint32_t count, uint8_t* out) const override {
    ring_.copyOut(start, count, out);
  }
  void setCurrentPosition(uint32_t position) override { ring_.setCursor(position); }
  void play(bool looping) override { ring_.run(looping, false); }
  void stop() override { ring_.pause(); }
  // The device takes a period at a time from the play cursor on.
  void getCurrentPosition(int32_t& play, int32_t& write) const override {
    const uint32_t p = ring_.cursor();
    play = int32_t(p);
    write = int32_t((p + ring_.periodBytes()) % ring_.size());
  }
  bool takeNotification(int32_t& eventid) override { return ring_.take(eventid); }

 private:
  static void callback(void* self, Uint8* stream, int len) {
    static_cast<SdlOutputBuffer*>(self)->ring_.transfer(stream, uint32_t(len), false);
  }
  DeviceRing ring_;
};

}  // namespace

std::unique_ptr<CaptureBuffer> CaptureBuffer::create(const DriverEntry& driver,
                                                     const WaveFormat& format, uint32_t size,
                                                     std::string* error, int wakeFd) {
  auto buffer = std::make_unique<SdlCaptureBuffer>(size, wakeFd);
  if (!buffer->open(driver, format, error)) return nullptr;
  return buffer;
}

std::unique_ptr<OutputBuffer> OutputBuffer::create(const DriverEntry& driver,
                                                   const WaveFormat& format, uint32_t size,
                                                   std::string* error, int wakeFd) {
  auto buffer = std::make_unique<SdlOutputBuffer>(size, wakeFd);
  if (!buffer->open(driver, format, error)) return nullptr;
  return buffer;
}

std::vector<DriverEntry> enumerateDrivers() {
  std::vector<DriverEntry> list;
  if (!ensureSdlAudio(nullptr)) return list;
  for (const int capture : {1, 0}) {
    const int n = SDL_GetNumAudioDevices(capture);
    for (int i = 0; i < n; ++i) {
      const char* name = SDL_GetAudioDeviceName(i, capture);
      if (!name) continue;
      // SDL opens a device by its name and offers no other description of it.
      list.push_back({name, name, name, capture ? sdtcInput : sdtcOutput});
    }
  }
  return list;
}

int defaultCaptureDriver(const std::vector<DriverEntry>& drivers) {
  if (!ensureSdlAudio(nullptr)) return 1;
  char* name = nullptr;
  SDL_AudioSpec spec{};
  if (SDL_GetDefaultAudioInfo(&name, &spec, 1) != 0 || !name) return 1;
  int found = 1;
  for (size_t i = 0; i < drivers.size(); ++i) {
    if (drivers[i].Type == sdtcInput && drivers[i].Name == name) {
      found = int(i) + 1;
      break;
    }
  }
  SDL_free(name);
  return found;
}

}  // namespace lumo
