// The control's WAV files: the canonical 44-byte header (one 16-byte "fmt " chunk, then
// "data"), written with zero sizes when a recording starts and with the real sizes when it
// ends; and the format read back from a file's first 44 bytes for playback.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace lumo {

struct WaveFormat {
  uint16_t formatTag = 0;  // 1 = PCM
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t extraSize = 0;
  bool operator==(const WaveFormat&) const = default;
};

// The 44 header bytes for `format` with the given RIFF and data sizes.
std::array<uint8_t, 44> wavHeader(const WaveFormat& format, uint32_t riffSize, uint32_t dataSize);
// The format of a file's first bytes: fields from offsets 20 … 35 when bytes 0–3 are "RIFF",
// 8–11 "WAVE" and the value at 16 is at least 16; otherwise all zero (also for fewer than 44
// bytes). The chunk names "fmt " and "data" are not looked at.
WaveFormat readWaveFormat(std::span<const uint8_t> firstBytes);

// The one open record or playback file.
class RecordFile {
 public:
  RecordFile() = default;
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // Creates `name` with a header of zero sizes; false with *number/*message set on failure.
  bool create(const std::string& name, const WaveFormat& format, int32_t* number,
              std::string* message);
  // Appends bytes at the current position, then writes the two sizes for the length so far,
  // so that a recording whose process dies keeps what was saved. *written (when given) is how
  // many of them the file kept. Once the disk refuses a write (full, too large, failing), the
  // file ends at its last whole frame and takes no more: false from then on.
  bool append(std::span<const uint8_t> bytes, size_t* written = nullptr);
  // Writes the header again with RIFF size length − 8 and data size length − 44; closes.
  bool finalise();
  // Opens `name` for reading and returns the format of its first 44 bytes; the read position
  // is then 44.
  bool openForReading(const std::string& name, WaveFormat* format);
  // Reads up to count bytes; returns how many.
  size_t read(uint8_t* out, size_t count);
  void seek(uint64_t position);
  uint64_t length() const;
  bool atEnd() const;
  bool isOpen() const { return file_ != nullptr; }
  void close();

 private:
  std::FILE* file_ = nullptr;
  WaveFormat format_;
  uint64_t length_ = 0;
  bool refused_ = false;  // the disk refused a write
};

}  // namespace lumo
