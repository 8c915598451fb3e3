#include "Mp3Encode.h"

#include <fcntl.h>
#include <lame/lame.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace encoder {

namespace {

constexpr int kBlockFrames = 8192;
constexpr int kRawRate = 44100;
constexpr int kRawChannels = 2;

std::string reason(int err) {
  return std::strerror(err);
}

// A file descriptor that closes itself.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes and reports the error close found (delayed write errors on some file systems).
  int closeChecked() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

// The temporary MP3 beside the target: buffered writes, and removed unless committed.
class TempOutput {
 public:
  explicit TempOutput(std::string target) : target_(std::move(target)) {}
  ~TempOutput() {
    if (!committed_ && !path_.empty()) {
      fd_.reset();
      ::unlink(path_.c_str());
    }
  }

  // 0 or the errno of the failure. The name is hidden and unique; the mode follows the umask.
  int create() {
    namespace fs = std::filesystem;
    static std::atomic<unsigned> counter{0};
    const fs::path t(target_);
    const fs::path dir = t.has_parent_path() ? t.parent_path() : fs::path(".");
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string name = "." + t.filename().string() + "." + std::to_string(::getpid()) +
                               "-" + std::to_string(counter++) + ".part";
      const std::string path = (dir / name).string();
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        path_ = path;
        fd_.reset(fd);
        buffer_.reserve(kFlushBytes * 2);
        return 0;
      }
      if (errno != EEXIST) return errno;
    }
    return EEXIST;
  }

  // Appends; false (with error()) once a write failed.
  bool write(const unsigned char* data, size_t n) {
    buffer_.insert(buffer_.end(), data, data + n);
    return buffer_.size() < kFlushBytes || flush();
  }

  bool flush() {
    size_t done = 0;
    while (done < buffer_.size()) {
      const ssize_t w = ::write(fd_.get(), buffer_.data() + done, buffer_.size() - done);
      if (w < 0) {
        if (errno == EINTR) continue;
        error_ = errno;
        return false;
      }
      done += size_t(w);
    }
    buffer_.clear();
    return true;
  }

  bool writeAt(const unsigned char* data, size_t n, off_t offset) {
    size_t done = 0;
    while (done < n) {
      const ssize_t w = ::pwrite(fd_.get(), data + done, n - done, offset + off_t(done));
      if (w < 0) {
        if (errno == EINTR) continue;
        error_ = errno;
        return false;
      }
      done += size_t(w);
    }
    return true;
  }

  // Makes the data durable, then puts the file in the target's place.
  bool commit() {
    if (!flush()) return false;
    if (::fsync(fd_.get()) != 0) {
      error_ = errno;
      return false;
    }
    if (const int e = fd_.closeChecked()) {
      error_ = e;
      return false;
    }
    if (::rename(path_.c_str(), target_.c_str()) != 0) {
      error_ = errno;
      return false;
    }
    committed_ = true;
    return true;
  }

  int error() const { return error_; }

 private:
  static constexpr size_t kFlushBytes = 256 * 1024;
  std::string target_;
  std::string path_;
  Fd fd_;
  std::vector<unsigned char> buffer_;
  int error_ = 0;
  bool committed_ = false;
};

struct SndfileCloser {
  void operator()(SNDFILE* f) const { sf_close(f); }
};
struct LameCloser {
  void operator()(lame_global_flags* g) const { lame_close(g); }
};

EncodeResult failure(std::string text) {
  EncodeResult r;
  r.error = std::move(text);
  return r;
}

EncodeResult cancelled() {
  EncodeResult r;
  r.cancelled = true;
  return r;
}

std::string writeFailure(const std::string& target, int err) {
  if (err == ENOSPC || err == EDQUOT)
    return "cannot write " + target + ": the disk is full (" + reason(err) + ")";
  return "cannot write " + target + ": " + reason(err);
}

}  // namespace

bool isRawName(std::string_view path) {
  if (path.size() < 4) return false;
  const std::string_view ext = path.substr(path.size() - 4);
  auto lower = [](char c) { return char(std::tolower(static_cast<unsigned char>(c))); };
  return ext[0] == '.' && lower(ext[1]) == 'r' && lower(ext[2]) == 'a' && lower(ext[3]) == 'w';
}

EncodeResult encodeMp3(const EncodeSettings& s, const std::atomic<bool>& stop,
                       const ProgressFn& progress) {
  if (s.source.empty()) return failure("no source file given");
  if (s.target.empty()) return failure("no target file given");
  if (s.channelMode != kChannelStereo && s.channelMode != kChannelMono)
    return failure("unsupported channel mode " + std::to_string(s.channelMode) +
                   " (0 stereo, 1 mono)");

  Fd in(::open(s.source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return failure("cannot open " + s.source + ": " + reason(errno));
  struct stat sourceStat {};
  if (::fstat(in.get(), &sourceStat) != 0)
    return failure("cannot open " + s.source + ": " + reason(errno));
  if (S_ISDIR(sourceStat.st_mode))
    return failure("cannot open " + s.source + ": " + reason(EISDIR));
  // Encoding a file onto itself would replace the source with its own lossy copy.
  struct stat targetStat {};
  if (::stat(s.target.c_str(), &targetStat) == 0 && targetStat.st_dev == sourceStat.st_dev &&
      targetStat.st_ino == sourceStat.st_ino)
    return failure("cannot encode " + s.source + " onto itself: choose another target");

  SF_INFO info{};
  const bool raw = isRawName(s.source);
  if (raw) {
    info.samplerate = kRawRate;
    info.channels = kRawChannels;
    info.format = SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
  }
  std::unique_ptr<SNDFILE, SndfileCloser> snd(sf_open_fd(in.get(), SFM_READ, &info, SF_FALSE));
  if (!snd)
    return failure("unsupported format: cannot read " + s.source + " as " +
                   (raw ? "raw audio" : "a WAV file") + " (" + sf_strerror(nullptr) + ")");
  if (info.channels != 1 && info.channels != 2)
    return failure("unsupported format: " + s.source + " has " + std::to_string(info.channels) +
                   " channels (mono and stereo only)");
  const int channels = info.channels;

  if (s.bitRateBps % 1000 != 0 || s.bitRateBps <= 0)
    return failure("unsupported format: the MP3 encoder does not take " +
                   std::to_string(s.bitRateBps) + " bit/s");
  std::unique_ptr<lame_global_flags, LameCloser> lame(lame_init());
  if (!lame) return failure("the MP3 encoder cannot start (out of memory)");
  lame_global_flags* g = lame.get();
  lame_set_in_samplerate(g, info.samplerate);
  lame_set_num_channels(g, channels);
  if (info.frames > 0 && info.frames < 0xffffffffLL) lame_set_num_samples(g, unsigned(info.frames));
  lame_set_VBR(g, vbr_off);
  lame_set_brate(g, s.bitRateBps / 1000);
  lame_set_quality(g, s.quality);
  // Stereo is left to the encoder's own choice (joint stereo), as the lame command does.
  if (s.channelMode == kChannelMono || channels == 1) lame_set_mode(g, MONO);
  lame_set_write_id3tag_automatic(g, 0);  // the Info frame must stay the file's first frame
  lame_set_bWriteVbrTag(g, 1);
  if (lame_init_params(g) < 0)
    return failure("unsupported format: the MP3 encoder does not take " +
                   std::to_string(s.bitRateBps) + " bit/s for " + std::to_string(info.samplerate) +
                   " Hz " + (channels == 1 ? "mono" : "stereo"));
  // The encoder takes the rate nearest to the one asked that its output's sample rate can have
  // (at most 160 kbit/s below 32000 Hz, 64 below 16000 Hz): that is the MP3's rate, said so.
  const int kbps = lame_get_brate(g);
  const int outRate = lame_get_out_samplerate(g);
  std::string notice;
  if (kbps * 1000 != s.bitRateBps)
    notice = "An MP3 of " + std::to_string(outRate) + " Hz cannot have " +
             std::to_string(s.bitRateBps / 1000) + " kbit/s: it is encoded at " +
             std::to_string(kbps) + " kbit/s.";

  TempOutput out(s.target);
  if (const int e = out.create()) return failure("cannot create " + s.target + ": " + reason(e));

  std::vector<float> pcm(size_t(kBlockFrames) * size_t(channels));
  std::vector<unsigned char> mp3(size_t(kBlockFrames) * 5 / 4 + 7200);
  const double total = info.frames > 0 ? double(info.frames) : 0.0;
  const auto start = std::chrono::steady_clock::now();
  int lastPercent = 0;
  if (progress) progress(0, std::nullopt);

  int64_t done = 0;
  for (;;) {
    if (stop.load(std::memory_order_relaxed)) return cancelled();
    const sf_count_t n = sf_readf_float(snd.get(), pcm.data(), kBlockFrames);
    if (n <= 0) break;
    const int bytes = channels == 2
                          ? lame_encode_buffer_interleaved_ieee_float(g, pcm.data(), int(n),
                                                                      mp3.data(), int(mp3.size()))
                          : lame_encode_buffer_ieee_float(g, pcm.data(), pcm.data(), int(n),
                                                          mp3.data(), int(mp3.size()));
    if (bytes < 0) return failure("the MP3 encoder failed (code " + std::to_string(bytes) + ")");
    if (!out.write(mp3.data(), size_t(bytes))) return failure(writeFailure(s.target, out.error()));
    done += n;
    if (!progress || total <= 0) continue;
    const int percent = std::min(99, int(double(done) * 100.0 / total));
    if (percent <= lastPercent) continue;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double left = elapsed * (total - double(done)) / double(done);
    while (lastPercent < percent) progress(++lastPercent, std::max(0.0, left));
  }
  if (sf_error(snd.get()) != SF_ERR_NO_ERROR)
    return failure("cannot read " + s.source + ": " + sf_strerror(snd.get()));

  const int tail = lame_encode_flush(g, mp3.data(), int(mp3.size()));
  if (tail < 0) return failure("the MP3 encoder failed (code " + std::to_string(tail) + ")");
  if (!out.write(mp3.data(), size_t(tail)) || !out.flush())
    return failure(writeFailure(s.target, out.error()));
  // The Info frame written first is rewritten now that the frame count and padding are known,
  // so that players show the exact length.
  const size_t tagBytes = lame_get_lametag_frame(g, mp3.data(), mp3.size());
  if (tagBytes > 0 && tagBytes <= mp3.size() && !out.writeAt(mp3.data(), tagBytes, 0))
    return failure(writeFailure(s.target, out.error()));
  if (stop.load(std::memory_order_relaxed)) return cancelled();
  if (!out.commit()) return failure(writeFailure(s.target, out.error()));

  if (progress) {
    while (lastPercent < 99) progress(++lastPercent, 0.0);
    progress(100, 0.0);
  }
  EncodeResult r;
  r.ok = true;
  r.bitRateBps = kbps * 1000;
  r.notice = std::move(notice);
  return r;
}

}  // namespace encoder
