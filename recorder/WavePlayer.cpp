#include "WavePlayer.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "FrameClock.h"
#include "RingBuffer.h"
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
// The writer wakes this often. The capture's ring holds seconds, but the live pitch it feeds
// is drawn on the lanes as sung: a short nap keeps them within a few fragments of the voice.
constexpr int kWriterNapMs = 10;
constexpr int64_t kHeaderBytes = 44;
// Frames read from or copied between files at a time.
constexpr int64_t kBlockFrames = 4096;

void doEvents() {
  auto& h = wavePlayerHooks();
  if (h.doEvents)
    h.doEvents();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

using SndFile = std::unique_ptr<SNDFILE, decltype(&sf_close)>;

SndFile openRead(const std::string& path, SF_INFO* info) {
  *info = {};
  return SndFile(sf_open(path.c_str(), SFM_READ, info), &sf_close);
}

// Writes all of `n` bytes at the file's offset; false with errno set when the disk refused
// some of them, `*written` counting those that reached it.
bool writeAll(int fd, const uint8_t* data, size_t n, size_t* written) {
  *written = 0;
  while (*written < n) {
    const ssize_t w = ::write(fd, data + *written, n - *written);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = ENOSPC;
      return false;
    }
    *written += size_t(w);
  }
  return true;
}

std::string refusal(int err) {
  switch (err) {
    case ENOSPC:
    case EDQUOT:
      return "the disk is full";
    case EFBIG:
      return "the file has reached the largest size allowed";
    case EIO:
      return "the disk reported an input/output error";
    default:
      return std::strerror(err);
  }
}

// What plays a range of the recording: a reader fills the ring from the file in blocks, the
// engine's stream takes float frames out of it. The stream's side neither waits nor reads.
struct PlayState {
  PlayState(int chans, int64_t capacity) : ring(chans, capacity, 0, 0), channels(chans) {}
  audiolib::RingBuffer ring;
  int channels;
  std::atomic<bool> stop{false};
};

DWORD playProc(HSTREAM, void* buffer, DWORD length, void* user) {
  auto* s = static_cast<PlayState*>(user);
  const int64_t want = int64_t(length / sizeof(float)) / s->channels;
  auto* out = static_cast<float*>(buffer);
  const int64_t got = s->ring.read(out, want);
  const bool end = s->ring.eof() && s->ring.readAvailable() == 0;
  if (got == 0 && !end) {
    // The reader fell behind (a busy disk): a moment of silence rather than the end.
    const int64_t gap = std::min<int64_t>(want, 64);
    std::memset(out, 0, size_t(gap * s->channels) * sizeof(float));
    return DWORD(gap * s->channels * int64_t(sizeof(float)));
  }
  const DWORD bytes = DWORD(got * s->channels * int64_t(sizeof(float)));
  return end ? (bytes | BASS_STREAMPROC_END) : bytes;
}

// Moves frames [at, end) of `sf` into the ring as it empties, marking the end after the last;
// with `wait` false, only until the ring is full. Returns the next frame to move.
int64_t feedPlayback(PlayState* s, SNDFILE* sf, int64_t at, int64_t end, bool wait) {
  std::vector<float> block(size_t(kBlockFrames * s->channels));
  while (at < end && !s->stop.load()) {
    const int64_t n = std::min({kBlockFrames, end - at, s->ring.writeSpace()});
    if (n < std::min(kBlockFrames, end - at)) {
      if (!wait) return at;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    const sf_count_t got = sf_readf_float(sf, block.data(), n);
    if (got <= 0) break;
    s->ring.write(block.data(), got);
    at += got;
  }
  s->ring.setEof();
  return end;
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
    fileName_.clear();
    position_ = 0;
    open_ = true;
    return;
  }
  SF_INFO info{};
  const SndFile sf = openRead(file, &info);
  if (!sf) throw WaveError(kErrFileNotFound, "WavePlayer::OpenDevice", file);
  const bool bytes = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_U8;
  if (info.channels < 1 || info.channels > 2 || info.samplerate < 1000 || info.samplerate > 192000)
    throw WaveError(kErrBadFormat, "WavePlayer::OpenDevice", file);
  // Other sample formats are heard and saved as 16 bits.
  format_ = {info.samplerate, info.channels, bytes ? 8 : 16};
  formatTag_ = 1;
  fileName_ = file;
  path_ = file;
  rewritable_ = false;
  frames_ = std::max<sf_count_t>(info.frames, 0);
  position_ = 0;
  open_ = true;
}

void WavePlayer::CloseDevice() {
  if (!open_) return;
  StopRecording();
  open_ = false;
  dropWorkingCopy();
  path_.clear();
  rewritable_ = false;
  frames_ = 0;
  fileName_.clear();
}

void WavePlayer::dropWorkingCopy() {
  if (!temporary_) return;
  std::error_code ec;
  std::filesystem::remove(path_, ec);
  temporary_ = false;
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
  return framesToMs(frames_.load());
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
  const bool empty = frames_.load() == 0;
  // Only PCM is recorded, and the bytes already recorded keep the format they were made in.
  if (tag != 1 || !empty || capture_) throw WaveError(kErrBadFormat, "WavePlayer::ChangeSetting");
  formatTag_ = tag;
  format_ = {int(rate), channels, bits};
}

// ---- recording

void WavePlayer::Record(long, long, bool) {
  auto& hooks = wavePlayerHooks();
  if (!open_) throw WaveError(kErrDeviceNotOpen, "WavePlayer::Record");
  if (!capture_) {
    std::string why;
    const std::string source = hooks.recordSource ? hooks.recordSource() : std::string();
    capture_ = audiolib::CaptureDevice::open(source.empty() ? audiolib::kDefaultSource : source,
                                             format_, &why);
    if (!capture_) throw WaveError(kErrCannotRecord, "WavePlayer::Record", why);
    try {
      const bool fresh = frames_.load() == 0;
      if (fresh && fileName_.empty() && !hooks.takeFile.empty()) {
        dropWorkingCopy();
        path_ = hooks.takeFile;
        rewritable_ = true;
        openTake(true);
      } else {
        // More audio goes after what the recording holds, in a file of ours.
        if (!rewritable_) useWorkingCopy({{0, frames_.load()}}, "WavePlayer::Record");
        openTake(false);
      }
    } catch (...) {
      capture_.reset();
      throw;
    }
    alignment_ = 0;
    writing_ = true;
    writer_ = std::thread([this] { writerLoop(); });
  }
  do {
    doEvents();
    if (stopRequested) recordFinished = true;
    if (writeErrno_.load()) break;
    if (capture_->failed()) throw WaveError(kErrCannotRecord, "WavePlayer::Record");
  } while (!recordFinished);
  // The last second reaches the recording before the caller stops it.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (!writeErrno_.load() && std::chrono::steady_clock::now() < until) doEvents();
  if (hooks.stopTimers) hooks.stopTimers();
  if (const int err = writeErrno_.load()) {
    finishTake();
    char kept[64];
    std::snprintf(kept, sizeof kept, "; %.1f s kept in ", double(frames_.load()) / format_.rate);
    throw WaveError(kErrTakeStopped, "WavePlayer::Record", refusal(err) + kept + path_);
  }
}

// The take's file, for the writer: a new one with its header, or the recording's own file to
// append to.
void WavePlayer::openTake(bool fresh) {
  const int fd =
      ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | (fresh ? O_CREAT | O_TRUNC : 0), 0644);
  if (fd < 0)
    throw WaveError(kErrCannotRecord, "WavePlayer::Record", path_ + ": " + std::strerror(errno));
  takeFd_ = fd;
  takeBytes_ = fresh ? 0 : frames_.load() * format_.bytesPerFrame();
  writeErrno_ = 0;
  const auto h = wavHeader(format_, uint32_t(takeBytes_));
  size_t written = 0;
  if (!writeAll(fd, h.data(), h.size(), &written) ||
      ::lseek(fd, kHeaderBytes + takeBytes_, SEEK_SET) < 0) {
    const int err = errno;
    ::close(fd);
    takeFd_ = -1;
    throw WaveError(kErrCannotRecord, "WavePlayer::Record", path_ + ": " + refusal(err));
  }
  takeHeaderNs_ = audiolib::monotonicNs();
}

void WavePlayer::StopRecording() {
  if (!open_ || !capture_) return;
  finishTake();
}

void WavePlayer::finishTake() {
  capture_->stop();
  writing_ = false;
  if (writer_.joinable()) writer_.join();  // the writer drains what was captured
  if (takeFd_ >= 0) {
    // A write the disk cut short may have left part of a frame: the file ends at the last
    // whole one, and the header counts what the file holds.
    const int64_t fb = format_.bytesPerFrame();
    const int64_t data = takeBytes_ / fb * fb;
    if (data != takeBytes_) [[maybe_unused]]
      const int t = ::ftruncate(takeFd_, kHeaderBytes + data);
    const auto h = wavHeader(format_, uint32_t(data));
    [[maybe_unused]] const ssize_t w = ::pwrite(takeFd_, h.data(), h.size(), 0);
    ::close(takeFd_);
    takeFd_ = -1;
    frames_ = data / fb;
  }
  capture_.reset();
  position_ = length();
}

// On the writer's thread. False when the disk refused: the take stops there.
bool WavePlayer::takeAppend(const uint8_t* data, size_t n) {
  if (LivePitch* live = wavePlayerHooks().livePitch; live && format_.bits == 16)
    live->feed(reinterpret_cast<const int16_t*>(data), n / size_t(format_.bytesPerFrame()),
               format_.channels);
  // A WAV file counts its audio in 32 bits.
  constexpr int64_t kMaxDataBytes = 0xFFFFFFFFll - 36;
  const int64_t fb = format_.bytesPerFrame();
  size_t written = 0;
  bool ok;
  if (takeBytes_ + int64_t(n) > kMaxDataBytes) {
    errno = EFBIG;
    ok = false;
  } else {
    ok = writeAll(takeFd_, data, n, &written);
  }
  const int err = errno;
  takeBytes_ += int64_t(written);
  frames_ = takeBytes_ / fb;
  if (!ok) {
    writeErrno_ = err ? err : EIO;
    return false;
  }
  const int64_t now = audiolib::monotonicNs();
  if (now - takeHeaderNs_ >= kHeaderEveryNs) {
    // The sizes reach the file after the audio they count.
    const auto h = wavHeader(format_, uint32_t(takeBytes_ / fb * fb));
    [[maybe_unused]] const ssize_t w = ::pwrite(takeFd_, h.data(), h.size(), 0);
    takeHeaderNs_ = now;
  }
  return true;
}

// The take's writer: moves the captured bytes into the take's file. With a song, it first lines
// the take up with it: the capture's frame that was heard together with the song's first frame
// becomes the take's first frame. A write the disk refuses ends it.
void WavePlayer::writerLoop() try {
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
          // Silence before the take, from the buffer's worth of it at a time.
          std::fill(buf.begin(), buf.end(), f.bits == 8 ? 0x80 : 0);
          for (size_t left = size_t(-offset) * frameBytes; left > 0;) {
            const size_t n = std::min(left, buf.size());
            if (!takeAppend(buf.data(), n)) return;
            left -= n;
          }
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
    if (n > from && !takeAppend(buf.data() + from, n - from)) return;
  }
} catch (const std::exception&) {
  // Whatever stopped the writer stops the take; the program goes on.
  writeErrno_ = ENOMEM;
}

// ---- editing and saving ---------------------------------------------------------------------

bool WavePlayer::writeFrames(const std::string& dst,
                             std::initializer_list<std::pair<int64_t, int64_t>> ranges) const {
  const int fd = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const int chans = format_.channels;
  const int fb = format_.bytesPerFrame();
  std::vector<uint8_t> out(kHeaderBytes, 0);
  size_t written = 0;
  bool ok = writeAll(fd, out.data(), out.size(), &written);
  int64_t bytes = 0;
  SF_INFO info{};
  SndFile sf(nullptr, &sf_close);
  std::vector<short> in(size_t(kBlockFrames * chans));
  out.resize(size_t(kBlockFrames * fb));
  for (const auto& [from, to] : ranges) {
    if (!ok || to <= from) continue;
    if (!sf) sf = openRead(path_, &info);
    ok = sf && info.channels == chans && sf_seek(sf.get(), from, SEEK_SET) >= 0;
    for (int64_t at = from; ok && at < to;) {
      const sf_count_t got = sf_readf_short(sf.get(), in.data(), std::min(kBlockFrames, to - at));
      if (got <= 0) {
        ok = false;
        break;
      }
      const size_t samples = size_t(got) * size_t(chans);
      for (size_t i = 0; i < samples; ++i) {
        if (fb / chans == 1) {
          out[i] = uint8_t((in[i] >> 8) + 128);
        } else {
          out[2 * i] = uint8_t(in[i]);
          out[2 * i + 1] = uint8_t(uint16_t(in[i]) >> 8);
        }
      }
      ok = writeAll(fd, out.data(), size_t(got) * size_t(fb), &written);
      bytes += int64_t(written);
      at += got;
    }
  }
  if (ok) {
    const auto h = wavHeader(format_, uint32_t(bytes));
    ok = ::pwrite(fd, h.data(), h.size(), 0) == ssize_t(h.size());
  }
  ok = ::close(fd) == 0 && ok;
  if (!ok) ::unlink(dst.c_str());
  return ok;
}

void WavePlayer::useWorkingCopy(std::initializer_list<std::pair<int64_t, int64_t>> ranges,
                                const char* source) {
  std::error_code ec;
  std::string name = (std::filesystem::temp_directory_path(ec) / "orivelR-take-XXXXXX.wav");
  const int fd = ::mkstemps(name.data(), 4);
  if (fd < 0) throw WaveError(kErrCannotSave, source, std::strerror(errno));
  ::close(fd);
  if (!writeFrames(name, ranges)) {
    ::unlink(name.c_str());
    throw WaveError(kErrCannotSave, source, name);
  }
  dropWorkingCopy();
  path_ = name;
  rewritable_ = true;
  temporary_ = true;
}

void WavePlayer::delete_(long StartTime, long Milliseconds) {
  if (!open_) return;
  const long len = length();
  if (StartTime < 0 || StartTime > len) StartTime = 0;
  const long end = std::min(len, StartTime + std::max(0L, Milliseconds));
  if (capture_) throw WaveError(kErrBadRange, "WavePlayer::Delete");
  const int64_t total = frames_.load();
  const int64_t a = std::min(total, msToFrames(StartTime));
  const int64_t b = std::min(total, msToFrames(end));
  if (b <= a) return;
  if (rewritable_) {
    // Rewritten beside itself and renamed over: a failed edit leaves the recording whole.
    const std::string part = path_ + ".part";
    std::error_code ec;
    if (writeFrames(part, {{0, a}, {b, total}}))
      std::filesystem::rename(part, path_, ec);
    else
      ec = std::make_error_code(std::errc::io_error);
    if (ec) {
      std::filesystem::remove(part, ec);
      throw WaveError(kErrCannotSave, "WavePlayer::Delete", path_);
    }
  } else {
    // A file that was opened stays as it is until it is saved.
    useWorkingCopy({{0, a}, {b, total}}, "WavePlayer::Delete");
  }
  frames_ = total - (b - a);
}

void WavePlayer::SaveAs(const std::string& FileName) {
  if (FileName.empty()) return;
  auto& hooks = wavePlayerHooks();
  if (hooks.busyCursor) hooks.busyCursor(true);
  if (!open_) return;
  std::error_code ec;
  if (!path_.empty() && std::filesystem::equivalent(path_, FileName, ec)) {
    fileName_ = FileName;  // the recording already lives there
    return;
  }
  // Written next to the target and renamed over it when complete: a failed save leaves the
  // file that was there (and the recording) as they were.
  const std::string part = FileName + ".part";
  if (!writeFrames(part, {{0, frames_.load()}}))
    throw WaveError(kErrCannotSave, "WavePlayer::Save", FileName);
  std::filesystem::rename(part, FileName, ec);
  if (ec) {
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
  std::unique_ptr<PlayState> state;  // outlives the stream that reads it
  SndFile sf(nullptr, &sf_close);
  std::thread reader;
  auto release = [&] {
    if (stream) BASS_StreamFree(stream);
    stream = 0;
    if (state) state->stop = true;
    if (reader.joinable()) reader.join();
  };
  try {
    if (!open_) throw WaveError(kErrDeviceNotOpen, "WavePlayer::Play");
    const long len = length();
    if (StartTime < 0 || StartTime > len) StartTime = 0;
    if (StopTime <= StartTime || StopTime > len) StopTime = len;
    // A second of audio between the file and the stream.
    state = std::make_unique<PlayState>(format_.channels,
                                        std::max<int64_t>(format_.rate, 2 * kBlockFrames));
    const int64_t a = msToFrames(StartTime);
    const int64_t b = std::min(frames_.load(), msToFrames(StopTime));
    int64_t next = b;
    if (b > a) {
      SF_INFO info{};
      sf = openRead(path_, &info);
      if (!sf || info.channels != format_.channels || sf_seek(sf.get(), a, SEEK_SET) < 0)
        throw WaveError(kErrCannotPlay, "WavePlayer::Play", path_);
      next = feedPlayback(state.get(), sf.get(), a, b, false);
    } else {
      state->ring.setEof();
    }
    if (next < b)
      reader = std::thread(
          [s = state.get(), f = sf.get(), next, b] { feedPlayback(s, f, next, b, true); });
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
    release();
  } catch (const std::exception&) {
    release();
    if (hooks.message) hooks.message("Non è possibile fare il playback");
  }
}

}  // namespace recorder
