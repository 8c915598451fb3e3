// The control's WAV files: header bytes, the record file that grows chunk by chunk, and the
// playback file read from byte 44 on.
#include "WavFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lumo {
namespace {

void put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint16_t get16(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}

uint32_t get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The size fields are 32 bits; a recording past 4 GiB keeps the largest value they can hold.
uint32_t sizeField(uint64_t value) {
  return uint32_t(std::min<uint64_t>(value, 0xFFFFFFFFu));
}

}  // namespace

std::array<uint8_t, 44> wavHeader(const WaveFormat& format, uint32_t riffSize, uint32_t dataSize) {
  std::array<uint8_t, 44> h{};
  std::memcpy(&h[0], "RIFF", 4);
  put32(&h[4], riffSize);
  std::memcpy(&h[8], "WAVE", 4);
  std::memcpy(&h[12], "fmt ", 4);
  put32(&h[16], 16);
  put16(&h[20], 1);  // the control only ever writes PCM
  put16(&h[22], format.channels);
  put32(&h[24], format.samplesPerSec);
  put32(&h[28], format.avgBytesPerSec);
  put16(&h[32], format.blockAlign);
  put16(&h[34], format.bitsPerSample);
  std::memcpy(&h[36], "data", 4);
  put32(&h[40], dataSize);
  return h;
}

WaveFormat readWaveFormat(std::span<const uint8_t> firstBytes) {
  WaveFormat f;
  if (firstBytes.size() < 44) return f;
  const uint8_t* b = firstBytes.data();
  if (std::memcmp(b, "RIFF", 4) != 0 || std::memcmp(b + 8, "WAVE", 4) != 0 || get32(b + 16) < 16)
    return f;
  f.formatTag = get16(b + 20);
  f.channels = get16(b + 22);
  f.samplesPerSec = get32(b + 24);
  f.avgBytesPerSec = get32(b + 28);
  f.blockAlign = get16(b + 32);
  f.bitsPerSample = get16(b + 34);
  return f;
}

RecordFile::~RecordFile() {
  close();
}

bool RecordFile::create(const std::string& name, const WaveFormat& format, int32_t* number,
                        std::string* message) {
  close();
  // "x": a record file is always new; a file that appeared after the control's own check is
  // refused rather than overwritten.
  file_ = std::fopen(name.c_str(), "wbxe");
  const auto header = wavHeader(format, 0, 0);
  if (file_ && std::fwrite(header.data(), 1, header.size(), file_) == header.size() &&
      std::fflush(file_) == 0) {
    format_ = format;
    length_ = header.size();
    return true;
  }
  const int err = errno;
  close();
  if (number) *number = err;
  if (message)
    *message =
        "Stream cannot be Created. Error (" + std::to_string(err) + ") " + std::strerror(err);
  return false;
}

bool RecordFile::append(std::span<const uint8_t> bytes, size_t* written) {
  if (written) *written = 0;
  if (!file_ || refused_) return false;
  // Straight to the descriptor, so that a refused write tells how much of the chunk is on disk.
  const int fd = fileno(file_);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      refused_ = true;
      break;
    }
    done += size_t(w);
  }
  if (refused_) {
    // A part of a frame is cut off, so the file holds whole frames; nothing more is appended,
    // so what was captured later never lands out of step.
    const uint64_t block = std::max<uint64_t>(1, format_.blockAlign);
    const uint64_t whole = std::max(length_, 44 + (length_ + done - 44) / block * block);
    if (ftruncate(fd, off_t(whole)) == 0) done = size_t(whole - length_);
  }
  length_ += done;
  if (written) *written = done;
  // The two sizes follow every chunk, written only once the chunk has reached the system, so a
  // reader never sees them claim bytes that a killed process did not write.
  uint8_t riff[4], data[4];
  put32(riff, sizeField(length_ - 8));
  put32(data, sizeField(length_ - 44));
  const bool sized = pwrite(fd, riff, 4, 4) == 4 && pwrite(fd, data, 4, 40) == 4;
  return !refused_ && sized;
}

bool RecordFile::finalise() {
  if (!file_) return false;
  bool ok = std::fflush(file_) == 0;
  const auto header = wavHeader(format_, sizeField(length_ - 8), sizeField(length_ - 44));
  ok = ok && std::fseek(file_, 0, SEEK_SET) == 0 &&
       std::fwrite(header.data(), 1, header.size(), file_) == header.size();
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  return ok;
}

bool RecordFile::openForReading(const std::string& name, WaveFormat* format) {
  close();
  file_ = std::fopen(name.c_str(), "rbe");
  if (!file_) return false;
  struct stat st {};
  const bool statted = fstat(fileno(file_), &st) == 0;
  if (!statted || !S_ISREG(st.st_mode)) {
    const int err = !statted ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    close();
    errno = err;
    return false;
  }
  length_ = uint64_t(st.st_size);
  uint8_t first[44];
  const size_t got = std::fread(first, 1, sizeof first, file_);
  format_ = readWaveFormat(std::span<const uint8_t>(first, got));
  if (format) *format = format_;
  seek(44);
  return true;
}

size_t RecordFile::read(uint8_t* out, size_t count) {
  if (!file_ || count == 0) return 0;
  return std::fread(out, 1, count, file_);
}

void RecordFile::seek(uint64_t position) {
  if (file_) fseeko(file_, off_t(position), SEEK_SET);
}

uint64_t RecordFile::length() const {
  return length_;
}

bool RecordFile::atEnd() const {
  if (!file_) return true;
  const off_t pos = ftello(file_);
  return pos < 0 || uint64_t(pos) >= length_;
}

void RecordFile::close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  length_ = 0;
  refused_ = false;
}

}  // namespace lumo
