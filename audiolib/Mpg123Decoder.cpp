#include "Mpg123Decoder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "bass.h"

namespace audiolib {

namespace {

// Junk allowed between the tags and the first frame (padding after an ID3v2 tag, a stray
// byte or two from a careless tagger).
constexpr size_t kSearchWindow = 4096;
// Largest frame of any layer, version and bit rate (MPEG 2 Layer II at 160 kbit/s, 8 kHz).
constexpr size_t kMaxFrameBytes = 2881;
constexpr int kFramesToCheck = 3;
// ID3v2 tags skipped in a row before the first frame; real files carry one, rarely two.
constexpr int kMaxId3Tags = 16;

struct FrameHeader {
  int version;  // 3 = MPEG 1, 2 = MPEG 2, 0 = MPEG 2.5
  int layer;    // 1, 2, 3
  int rate;
  size_t bytes;
};

std::optional<FrameHeader> parseHeader(const uint8_t* p) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return std::nullopt;
  const int version = (p[1] >> 3) & 3;
  const int layerBits = (p[1] >> 1) & 3;
  const int bitrateIndex = p[2] >> 4;
  const int rateIndex = (p[2] >> 2) & 3;
  const int padding = (p[2] >> 1) & 1;
  const int emphasis = p[3] & 3;
  // Free-format streams (bit rate index 0) are refused: their frame size cannot be read from
  // the header, and without it the consecutive-frame check is worthless.
  if (version == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3 ||
      emphasis == 2)
    return std::nullopt;
  const int layer = 4 - layerBits;
  static constexpr std::array<std::array<int, 15>, 5> kKbps{{
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // V1 L1
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // V1 L2
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // V1 L3
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // V2 L1
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // V2 L2, L3
  }};
  static constexpr std::array<int, 3> kRates{44100, 48000, 32000};
  const bool v1 = version == 3;
  const int table = v1 ? layer - 1 : (layer == 1 ? 3 : 4);
  const int64_t bitrate = int64_t(kKbps[size_t(table)][size_t(bitrateIndex)]) * 1000;
  const int rate = kRates[size_t(rateIndex)] >> (v1 ? 0 : version == 2 ? 1 : 2);
  size_t bytes;
  if (layer == 1)
    bytes = size_t((12 * bitrate / rate + padding) * 4);
  else if (layer == 3 && !v1)
    bytes = size_t(72 * bitrate / rate + padding);
  else
    bytes = size_t(144 * bitrate / rate + padding);
  return FrameHeader{version, layer, rate, bytes};
}

bool startsWith(std::span<const uint8_t> data, size_t at, std::string_view text) {
  return at + text.size() <= data.size() &&
         std::equal(text.begin(), text.end(), data.begin() + ptrdiff_t(at));
}

// True when kFramesToCheck frames of one stream follow each other from `at`, or at least two
// that end where the audio data ends (the file's end, or a trailing tag). A single header
// proves nothing: random bytes hold one every few kilobytes.
bool framesFollow(std::span<const uint8_t> data, uint64_t dataSize, size_t at) {
  std::optional<FrameHeader> first;
  size_t pos = at;
  for (int i = 0; i < kFramesToCheck; ++i) {
    const bool atEnd = pos >= dataSize || startsWith(data, pos, "TAG") ||
                       startsWith(data, pos, "APETAGEX") || startsWith(data, pos, "LYRICSBEGIN");
    if (atEnd) return i >= 2;
    if (pos + 4 > data.size()) return false;
    const auto h = parseHeader(data.data() + pos);
    if (!h) return false;
    if (first &&
        (h->version != first->version || h->layer != first->layer || h->rate != first->rate))
      return false;
    if (!first) first = h;
    pos += h->bytes;
  }
  return true;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Size of the ID3v2 tag whose 10-byte header is `p` (0 when it is none).
size_t id3v2TagSize(const uint8_t* p) {
  if (p[0] != 'I' || p[1] != 'D' || p[2] != '3' || p[3] == 0xFF || p[4] == 0xFF ||
      ((p[6] | p[7] | p[8] | p[9]) & 0x80))
    return 0;
  const size_t body = size_t(p[6]) << 21 | size_t(p[7]) << 14 | size_t(p[8]) << 7 | p[9];
  return 10 + body + ((p[5] & 0x10) ? 10 : 0);
}

// Offset of the first frame in `data` (the bytes after the tags, `dataSize` in all): three
// consecutive, consistent frame headers (or as many as the file holds) must start within a
// short distance. libmpg123 resyncs through anything, so this is what tells a song from
// garbage.
std::optional<size_t> findMpegAudioStart(std::span<const uint8_t> data, uint64_t dataSize) {
  for (size_t at = 0; at < kSearchWindow && at + 4 <= data.size(); ++at)
    if (framesFollow(data, dataSize, at)) return at;
  return std::nullopt;
}

bool looksLikeMpegAudio(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(path, ec);
  if (!f || ec) return false;
  // Skip the ID3v2 tags (a file may carry more than one in a row) without reading them.
  uint64_t offset = 0;
  for (int tags = 0; tags < kMaxId3Tags; ++tags) {
    std::array<uint8_t, 10> header{};
    if (std::fseek(f.get(), long(offset), SEEK_SET) != 0 ||
        std::fread(header.data(), 1, header.size(), f.get()) != header.size())
      break;
    const size_t tag = id3v2TagSize(header.data());
    if (tag == 0) break;
    offset += tag;
  }
  if (offset >= size || std::fseek(f.get(), long(offset), SEEK_SET) != 0) return false;
  std::vector<uint8_t> data(kSearchWindow + kFramesToCheck * kMaxFrameBytes + 4);
  data.resize(std::fread(data.data(), 1, data.size(), f.get()));
  return findMpegAudioStart(data, size - offset).has_value();
}

}  // namespace

// The background scan of one file: a handle of its own reading through a descriptor of its
// own, so that the scan can be called off (its reads fail) when the stream goes away first.
struct Mpg123Decoder::Scan {
  std::atomic<bool> abort{false};
  int fd = -1;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;  // under mutex
  Handle scanned;     // under mutex: the scanned handle, null when the scan failed
  std::thread thread;

  static mpg123_ssize_t read(void* io, void* buffer, size_t bytes) {
    auto* scan = static_cast<Scan*>(io);
    if (scan->abort.load(std::memory_order_relaxed)) return -1;
    return ::read(scan->fd, buffer, bytes);
  }
  static off_t seek(void* io, off_t offset, int whence) {
    return ::lseek(static_cast<Scan*>(io)->fd, offset, whence);
  }
  ~Scan() {
    if (fd >= 0) ::close(fd);
  }
};

namespace {

// A handle that decodes to float at exactly `rate` and `channels`, gapless.
mpg123_handle* newFixedHandle(long rate, int channels) {
  int err = MPG123_OK;
  mpg123_handle* h = mpg123_new(nullptr, &err);
  if (!h) return nullptr;
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
  mpg123_format_none(h);
  if (mpg123_format(h, rate, channels, MPG123_ENC_FLOAT_32) != MPG123_OK) {
    mpg123_delete(h);
    return nullptr;
  }
  return h;
}

}  // namespace

Mpg123Decoder::Mpg123Decoder(Handle h, int rate, int channels, int64_t length)
    : handle_(std::move(h)),
      rate_(rate),
      channels_(channels),
      length_(length),
      maxFrames_(int64_t(rate) * kMaxFileSeconds) {}

Mpg123Decoder::~Mpg123Decoder() {
  if (!scan_) return;
  scan_->abort.store(true);
  if (scan_->thread.joinable()) scan_->thread.join();
  // The scanned handle, if it was never adopted, goes before the descriptor it reads.
  scan_->scanned.reset();
  handle_.reset();
}

std::unique_ptr<Mpg123Decoder> Mpg123Decoder::open(const std::string& path, int* refusal) {
  if (!looksLikeMpegAudio(path)) return nullptr;

  int err = MPG123_OK;
  Handle h(mpg123_new(nullptr, &err));
  if (!h) return nullptr;
  mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
  // Float at any rate and channel count before the first frame is parsed (a change after it
  // would only apply from a later frame); then that frame's rate and channels are fixed, so
  // the output never changes format mid-song.
  mpg123_format_none(h.get());
  const long* rates = nullptr;
  size_t rateCount = 0;
  mpg123_rates(&rates, &rateCount);
  for (size_t i = 0; i < rateCount; ++i)
    mpg123_format(h.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
  if (mpg123_open(h.get(), path.c_str()) != MPG123_OK) return nullptr;
  long rate = 0;
  int channels = 0, encoding = 0;
  if (mpg123_getformat(h.get(), &rate, &channels, &encoding) != MPG123_OK || rate <= 0 ||
      channels <= 0 || encoding != MPG123_ENC_FLOAT_32)
    return nullptr;
  mpg123_format_none(h.get());
  if (mpg123_format(h.get(), rate, channels, MPG123_ENC_FLOAT_32) != MPG123_OK) return nullptr;
  // The header's length for now: the LAME/Xing frame count, or the file's size over the bit
  // rate. The scan on its own thread makes it exact.
  const off_t length = mpg123_length(h.get());
  if (length <= 0) return nullptr;
  const int format = checkFileFormat(rate, channels, int64_t(length));
  if (format != BASS_OK) {
    *refusal = format;
    return nullptr;
  }

  // At least one frame must decode: headers alone can be faked by chance.
  std::vector<unsigned char> probe(size_t(channels) * sizeof(float) * 1152);
  size_t done = 0;
  int r;
  do r = mpg123_read(h.get(), probe.data(), probe.size(), &done);
  while (r == MPG123_NEW_FORMAT);
  if (done == 0 || (r != MPG123_OK && r != MPG123_DONE)) return nullptr;
  if (mpg123_seek(h.get(), 0, SEEK_SET) < 0) return nullptr;

  std::unique_ptr<Mpg123Decoder> d(
      new (std::nothrow) Mpg123Decoder(std::move(h), int(rate), channels, int64_t(length)));
  if (d) d->startScan(path);
  return d;
}

void Mpg123Decoder::startScan(const std::string& path) {
  scan_ = std::make_unique<Scan>();
  Scan& scan = *scan_;
  scan.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  Handle h(scan.fd >= 0 ? newFixedHandle(rate_, channels_) : nullptr);
  if (!h || mpg123_replace_reader_handle(h.get(), &Scan::read, &Scan::seek, nullptr) != MPG123_OK ||
      mpg123_open_handle(h.get(), &scan) != MPG123_OK) {
    // No scan: the header's length stays.
    scan.done = true;
    return;
  }
  scan.thread = std::thread([this, h = std::move(h)]() mutable {
    Scan& s = *scan_;
    const bool ok = mpg123_scan(h.get()) == MPG123_OK && !s.abort.load();
    const off_t exact = ok ? mpg123_length(h.get()) : -1;
    if (exact > 0) length_.store(std::min<int64_t>(exact, maxFrames_), std::memory_order_release);
    std::lock_guard lock(s.mutex);
    if (exact > 0) s.scanned = std::move(h);
    s.done = true;
    s.finished.notify_all();
  });
}

void Mpg123Decoder::waitForLength() {
  if (!scan_) return;
  std::unique_lock lock(scan_->mutex);
  scan_->finished.wait(lock, [&] { return scan_->done; });
}

void Mpg123Decoder::adoptScannedHandle() {
  if (!scan_) return;
  std::lock_guard lock(scan_->mutex);
  if (scan_->scanned) handle_ = std::move(scan_->scanned);
}

uint32_t Mpg123Decoder::channelType() const {
  return BASS_CTYPE_STREAM_MP3;
}

int64_t Mpg123Decoder::read(float* out, int64_t frames) {
  frames = std::min(frames, maxFrames_ - position_);
  if (frames <= 0) return 0;
  const size_t frameBytes = size_t(channels_) * sizeof(float);
  const size_t want = size_t(frames) * frameBytes;
  auto* bytes = reinterpret_cast<unsigned char*>(out);
  size_t total = 0;
  // A frame may legitimately yield nothing (the encoder delay being skipped); give up only
  // when many reads in a row bring nothing.
  for (int idle = 0; total < want && idle < 64;) {
    size_t done = 0;
    const int r = mpg123_read(handle_.get(), bytes + total, want - total, &done);
    total += done;
    idle = done ? 0 : idle + 1;
    if (r == MPG123_DONE) break;
    if (r == MPG123_OK || r == MPG123_NEW_FORMAT) continue;
    if (total == 0) return -1;
    break;
  }
  position_ += int64_t(total / frameBytes);
  return int64_t(total / frameBytes);
}

bool Mpg123Decoder::seek(int64_t frame) {
  if (frame < 0 || frame > lengthFrames()) return false;
  // The scanned handle knows where every frame starts: its seeks read no more than a frame or
  // two, where the unscanned one would read its way through the file.
  adoptScannedHandle();
  if (mpg123_seek(handle_.get(), off_t(frame), SEEK_SET) < 0) return false;
  position_ = frame;
  return true;
}

}  // namespace audiolib
