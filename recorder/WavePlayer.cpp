#include "WavePlayer.h"

#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "FrameClock.h"
#include "WavHeader.h"
#include "bass.h"

namespace recorder {

bool stopRequested = false;
bool recordFinished = false;
long tickCount = 0;

WavePlayerHooks& wavePlayerHooks() {
  static WavePlayerHooks hooks;
  return hooks;
}

namespace {

constexpr int64_t kSecondNs = 1'000'000'000;
// The take file's sizes are rewritten this often while it records.
constexpr int64_t kHeaderEveryNs = kSecondNs / 2;
// How long the take waits for the song's and the capture's first timings before it starts
// unaligned (a device that tells no time).
constexpr int64_t kAlignWaitNs = 3 * kSecondNs;
// The writer wakes this often; the capture's ring holds seconds, so nothing waits on it.
constexpr int kWriterNapMs = 40;

void doEvents() {
  auto& h = wavePlayerHooks();
  if (h.doEvents)
    h.doEvents();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// What plays a range of the recording: the engine's feeder takes float frames from here.
struct PlayState {
  std::vector<float> frames;
  int channels = 1;
  size_t next = 0;  // samples handed over, on the feeder's thread
};

DWORD playProc(HSTREAM, void* buffer, DWORD length, void* user) {
  auto* s = static_cast<PlayState*>(user);
  const size_t want = length / sizeof(float);
  const size_t n = std::min(want, s->frames.size() - s->next);
  std::memcpy(buffer, s->frames.data() + s->next, n * sizeof(float));
  s->next += n;
  const DWORD bytes = DWORD(n * sizeof(float));
  return s->next >= s->frames.size() ? (bytes | BASS_STREAMPROC_END) : bytes;
}

}  // namespace

std::vector<uint8_t> wavHeader(const audiolib::CaptureFormat& f, uint32_t dataBytes) {
  const auto h = audiolib::wavHeader(f.channels, uint32_t(f.rate), f.bits, dataBytes);
  return {h.begin(), h.end()};
}

WavePlayer::WavePlayer() {
  OpenDevice("");
}

WavePlayer::~WavePlayer() {
  try {
    StopRecording();
    CloseDevice();
  } catch (...) {
  }
}

// ---- the device -----------------------------------------------------------------------------

void WavePlayer::OpenDevice(const std::string& file) {
  if (open_) CloseDevice();
  if (file.empty()) {
    // A new recording: the waveaudio device's own default format.
    format_ = {11025, 1, 8};
    formatTag_ = 1;
    data_.clear();
    fileName_.clear();
    position_ = 0;
    open_ = true;
    return;
  }
  SF_INFO info{};
  SNDFILE* sf = sf_open(file.c_str(), SFM_READ, &info);
  if (!sf) throw WaveError(kErrFileNotFound, "WavePlayer::OpenDevice", file);
  const bool bytes = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_U8;
  if (info.channels < 1 || info.channels > 2 || info.samplerate < 1000 ||
      info.samplerate > 192000) {
    sf_close(sf);
    throw WaveError(kErrBadFormat, "WavePlayer::OpenDevice", file);
  }
  format_ = {info.samplerate, info.channels, bytes ? 8 : 16};
  std::vector<short> s(size_t(info.frames) * size_t(info.channels));
  const sf_count_t got = sf_readf_short(sf, s.data(), info.frames);
  sf_close(sf);
  s.resize(size_t(std::max<sf_count_t>(got, 0)) * size_t(info.channels));
  data_.clear();
  if (bytes) {
    for (short v : s) data_.push_back(uint8_t((v >> 8) + 128));
  } else {
    data_.resize(s.size() * 2);
    for (size_t i = 0; i < s.size(); ++i) {
      data_[2 * i] = uint8_t(s[i]);
      data_[2 * i + 1] = uint8_t(uint16_t(s[i]) >> 8);
    }
  }
  formatTag_ = 1;
  fileName_ = file;
  position_ = 0;
  open_ = true;
}

void WavePlayer::CloseDevice() {
  if (!open_) return;
  StopRecording();
  open_ = false;
  std::lock_guard lock(dataMutex_);
  data_.clear();
  data_.shrink_to_fit();
  fileName_.clear();
}

void WavePlayer::OpenFile(const std::string& WaveFile) {
  OpenDevice(WaveFile);
}

void WavePlayer::reset() {
  OpenDevice("");
}

// ---- status ---------------------------------------------------------------------------------

long WavePlayer::framesToMs(int64_t frames) const {
  return long(frames * 1000 / std::max(1, format_.rate));
}

int64_t WavePlayer::msToFrames(long ms) const {
  return int64_t(ms) * format_.rate / 1000;
}

std::string WavePlayer::FileName() const {
  return open_ ? fileName_.substr(0, 255) : std::string();
}

long WavePlayer::length() const {
  if (!open_) return 0;
  std::lock_guard lock(dataMutex_);
  return framesToMs(int64_t(data_.size()) / format_.bytesPerFrame());
}

int WavePlayer::Channels() const {
  return open_ ? format_.channels : 0;
}
long WavePlayer::FormatTag() const {
  return open_ ? formatTag_ : 0;
}
long WavePlayer::samplerate() const {
  return open_ ? format_.rate : 0;
}
int WavePlayer::BitsPerSample() const {
  return open_ ? format_.bits : 0;
}
long WavePlayer::AvgBytesPerSecond() const {
  return open_ ? long(format_.rate) * format_.bytesPerFrame() : 0;
}
long WavePlayer::Position() const {
  if (!open_) return 0;
  if (capture_) return length();
  return position_;
}

int64_t WavePlayer::lostFrames() const {
  return capture_ ? capture_->overruns() : 0;
}

// ---- format ---------------------------------------------------------------------------------

void WavePlayer::setChannels(int value) {
  if (value == 1 || value == 2) ChangeSetting(formatTag_, format_.bits, value, format_.rate);
}
void WavePlayer::setFormatTag(long value) {
  ChangeSetting(value, format_.bits, format_.channels, format_.rate);
}
void WavePlayer::setSamplerate(long value) {
  if (value == 11025 || value == 22050 || value == 44100)
    ChangeSetting(formatTag_, format_.bits, format_.channels, value);
}
void WavePlayer::setBitsPerSample(int value) {
  if (value == 8 || value == 16) ChangeSetting(formatTag_, value, format_.channels, format_.rate);
}

void WavePlayer::ChangeSetting(long tag, int bits, int channels, long rate) {
  if (!open_) return;
  const bool same = tag == formatTag_ && bits == format_.bits && channels == format_.channels &&
                    rate == format_.rate;
  if (same) return;
  bool empty;
  {
    std::lock_guard lock(dataMutex_);
    empty = data_.empty();
  }
  // Only PCM is recorded, and the bytes already recorded keep the format they were made in.
  if (tag != 1 || !empty || capture_) throw WaveError(kErrBadFormat, "WavePlayer::ChangeSetting");
  formatTag_ = tag;
  format_ = {int(rate), channels, bits};
}

// ---- recording ------------------------------------------------------------------------------

void WavePlayer::Record(long, long, bool) {
  auto& hooks = wavePlayerHooks();
  if (!open_) throw WaveError(kErrDeviceNotOpen, "WavePlayer::Record");
  if (!capture_) {
    std::string why;
    const std::string source = hooks.recordSource ? hooks.recordSource() : std::string();
    capture_ = audiolib::CaptureDevice::open(source.empty() ? audiolib::kDefaultSource : source,
                                             format_, &why);
    if (!capture_) throw WaveError(kErrCannotRecord, "WavePlayer::Record", why);
    bool fresh;
    {
      std::lock_guard lock(dataMutex_);
      fresh = data_.empty();
    }
    if (fresh && fileName_.empty() && !hooks.takeFile.empty()) {
      take_ = std::fopen(hooks.takeFile.c_str(), "wb");
      takeBytes_ = 0;
      if (take_) {
        const auto h = wavHeader(format_, 0);
        std::fwrite(h.data(), 1, h.size(), take_);
        std::fflush(take_);
      }
      takeHeaderNs_ = audiolib::monotonicNs();
    }
    alignment_ = 0;
    writing_ = true;
    writer_ = std::thread([this] { writerLoop(); });
  }
  do {
    doEvents();
    if (stopRequested) recordFinished = true;
    if (capture_->failed()) throw WaveError(kErrCannotRecord, "WavePlayer::Record");
  } while (!recordFinished);
  // The last second reaches the recording before the caller stops it.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (std::chrono::steady_clock::now() < until) doEvents();
  if (hooks.stopTimers) hooks.stopTimers();
}

void WavePlayer::StopRecording() {
  if (!open_ || !capture_) return;
  capture_->stop();
  writing_ = false;
  if (writer_.joinable()) writer_.join();  // the writer drains what was captured
  if (take_) {
    const auto h = wavHeader(format_, takeBytes_);
    std::fseek(take_, 0, SEEK_SET);
    std::fwrite(h.data(), 1, h.size(), take_);
    std::fclose(take_);
    take_ = nullptr;
  }
  capture_.reset();
  position_ = length();
}

void WavePlayer::takeAppend(const uint8_t* data, size_t n) {
  {
    std::lock_guard lock(dataMutex_);
    data_.insert(data_.end(), data, data + n);
  }
  if (!take_) return;
  if (std::fwrite(data, 1, n, take_) == n) takeBytes_ += uint32_t(n);
  const int64_t now = audiolib::monotonicNs();
  if (now - takeHeaderNs_ >= kHeaderEveryNs) {
    // The sizes first reach the disk with the audio they count.
    const auto h = wavHeader(format_, takeBytes_);
    std::fflush(take_);
    std::fseek(take_, 0, SEEK_SET);
    std::fwrite(h.data(), 1, h.size(), take_);
    std::fseek(take_, 0, SEEK_END);
    std::fflush(take_);
    takeHeaderNs_ = now;
  }
}

// The take's writer: moves the captured bytes into the recording and its file. With a song, it
// first lines the take up with it: the capture's frame that was heard together with the song's
// first frame becomes the take's first frame.
void WavePlayer::writerLoop() {
  auto& hooks = wavePlayerHooks();
  const audiolib::CaptureFormat f = capture_->format();
  const size_t frameBytes = size_t(f.bytesPerFrame());
  std::vector<uint8_t> buf(size_t(f.rate / 5) * frameBytes);  // 200 ms
  bool aligned = !hooks.songStartNs;
  const int64_t giveUp = audiolib::monotonicNs() + kAlignWaitNs;
  int64_t skip = 0;
  for (;;) {
    const bool last = !writing_.load();
    if (!aligned) {
      int64_t song = 0, heard = 0;
      // A fifth of a second in, the capture's timing has settled.
      if (capture_->capturedFrames() > f.rate / 5 && hooks.songStartNs(&song) &&
          capture_->frameCapturedNs(0, &heard)) {
        const int64_t offset = std::llround(double(song - heard) * f.rate / kSecondNs);
        alignment_ = offset;
        if (offset > 0) skip = offset;
        if (offset < 0) {
          const std::vector<uint8_t> silence(size_t(-offset) * frameBytes, f.bits == 8 ? 0x80 : 0);
          takeAppend(silence.data(), silence.size());
        }
        aligned = true;
      } else if (last || audiolib::monotonicNs() > giveUp) {
        aligned = true;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
    }
    size_t n = capture_->read(buf.data(), buf.size());
    if (n == 0) {
      if (last) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(kWriterNapMs));
      continue;
    }
    size_t from = 0;
    if (skip > 0) {
      const size_t cut = std::min(n, size_t(skip) * frameBytes);
      skip -= int64_t(cut / frameBytes);
      from = cut;
    }
    if (n > from) takeAppend(buf.data() + from, n - from);
  }
}

// ---- editing and saving ---------------------------------------------------------------------

void WavePlayer::delete_(long StartTime, long Milliseconds) {
  if (!open_) return;
  const long len = length();
  if (StartTime < 0 || StartTime > len) StartTime = 0;
  const long end = std::min(len, StartTime + std::max(0L, Milliseconds));
  if (capture_) throw WaveError(kErrBadRange, "WavePlayer::Delete");
  std::lock_guard lock(dataMutex_);
  const size_t fb = size_t(format_.bytesPerFrame());
  const size_t a = std::min(data_.size(), size_t(msToFrames(StartTime)) * fb);
  const size_t b = std::min(data_.size(), size_t(msToFrames(end)) * fb);
  if (b > a) data_.erase(data_.begin() + long(a), data_.begin() + long(b));
}

void WavePlayer::SaveAs(const std::string& FileName) {
  if (FileName.empty()) return;
  auto& hooks = wavePlayerHooks();
  if (hooks.busyCursor) hooks.busyCursor(true);
  if (!open_) return;
  // Written next to the target and renamed over it when complete: a failed save leaves the
  // file that was there (and the recording) as they were.
  const std::string part = FileName + ".part";
  SF_INFO info{};
  info.samplerate = format_.rate;
  info.channels = format_.channels;
  info.format = SF_FORMAT_WAV | (format_.bits == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
  SNDFILE* sf = sf_open(part.c_str(), SFM_WRITE, &info);
  if (!sf) throw WaveError(kErrCannotSave, "WavePlayer::Save", sf_strerror(nullptr));
  bool ok;
  {
    std::lock_guard lock(dataMutex_);
    ok = sf_write_raw(sf, data_.data(), sf_count_t(data_.size())) == sf_count_t(data_.size());
  }
  ok = sf_close(sf) == 0 && ok;
  std::error_code ec;
  if (ok) std::filesystem::rename(part, FileName, ec);
  if (!ok || ec) {
    std::filesystem::remove(part, ec);
    throw WaveError(kErrCannotSave, "WavePlayer::Save", FileName);
  }
  fileName_ = FileName;
}

void WavePlayer::Save() {
  SaveAs(FileName());
}

// ---- playback -------------------------------------------------------------------------------

void WavePlayer::Play(long StartTime, long StopTime) {
  auto& hooks = wavePlayerHooks();
  tickCount = 0;
  stopRequested = false;
  HSTREAM stream = 0;
  auto state = std::make_unique<PlayState>();  // outlives the stream that reads it
  try {
    if (open_) {
      const long len = length();
      if (StartTime < 0 || StartTime > len) StartTime = 0;
      if (StopTime <= StartTime || StopTime > len) StopTime = len;
    }
    state->channels = format_.channels;
    {
      std::lock_guard lock(dataMutex_);
      const size_t fb = size_t(format_.bytesPerFrame());
      const size_t a = std::min(data_.size(), size_t(msToFrames(StartTime)) * fb);
      const size_t b = std::min(data_.size(), size_t(msToFrames(StopTime)) * fb);
      if (format_.bits == 8) {
        for (size_t i = a; i < b; ++i) state->frames.push_back((float(data_[i]) - 128.f) / 128.f);
      } else {
        for (size_t i = a; i + 1 < b; i += 2)
          state->frames.push_back(float(int16_t(data_[i] | data_[i + 1] << 8)) / 32768.f);
      }
    }
    if (!open_) throw WaveError(kErrDeviceNotOpen, "WavePlayer::Play");
    stream = BASS_StreamCreate(DWORD(format_.rate), DWORD(format_.channels), BASS_SAMPLE_FLOAT,
                               &playProc, state.get());
    if (!stream || !BASS_StreamPlay(stream, FALSE, 0))
      throw WaveError(kErrCannotPlay, "WavePlayer::Play");
    // Waits for the stop controls; a range that has played to its end also ends the wait.
    do {
      doEvents();
      if (BASS_ChannelIsActive(stream) == BASS_ACTIVE_STOPPED) break;
      const QWORD at = BASS_ChannelGetPosition(stream);
      if (at != QWORD(-1))
        position_ = StartTime + long(BASS_ChannelBytes2Seconds(stream, at) * 1000);
    } while (!stopRequested);
    doEvents();
    recordFinished = true;
    BASS_ChannelStop(stream);
    BASS_StreamFree(stream);
    stream = 0;
  } catch (const std::exception&) {
    if (stream) BASS_StreamFree(stream);
    if (hooks.message) hooks.message("Non è possibile fare il playback");
  }
}

}  // namespace recorder
