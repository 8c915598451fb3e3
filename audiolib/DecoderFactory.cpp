// Picks the decoder of a file: the checks every kind shares (the path names a readable, regular,
// non-empty file within its kind's size limit), then the decoders in the order that keeps each
// format with its best reader.
#include <cstdio>
#include <filesystem>
#include <new>
#include <vector>

#include "Decoder.h"
#include "Mpg123Decoder.h"
#include "OpenmptDecoder.h"
#include "SndfileDecoder.h"
#include "bass.h"

namespace audiolib {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` for reading, or sets *error: BASS_ERROR_FILEOPEN for a missing, unreadable or
// non-regular file (a directory, a device, a pipe, which would block), BASS_ERROR_FILEFORM
// for an empty one or one larger than `limit`.
File openRegularFile(const std::string& path, uint64_t limit, uint64_t* size, int* error) {
  if (!checkRegularFile(path)) {
    *error = BASS_ERROR_FILEOPEN;
    return nullptr;
  }
  std::error_code ec;
  File f(std::fopen(path.c_str(), "rb"));
  *size = std::filesystem::file_size(path, ec);
  if (!f || ec) {
    *error = BASS_ERROR_FILEOPEN;
    return nullptr;
  }
  if (*size == 0 || *size > limit) {
    *error = BASS_ERROR_FILEFORM;
    return nullptr;
  }
  return f;
}

}  // namespace

bool checkRegularFile(const std::string& path, std::string* why) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (!ec && fs::is_regular_file(status)) return true;
  if (why) {
    switch (status.type()) {
      case fs::file_type::not_found:
        *why = "no such file";
        break;
      case fs::file_type::directory:
        *why = "a folder, not a file";
        break;
      case fs::file_type::fifo:
        *why = "a named pipe, not a file";
        break;
      case fs::file_type::socket:
        *why = "a socket, not a file";
        break;
      case fs::file_type::block:
      case fs::file_type::character:
        *why = "a device, not a file";
        break;
      default:
        *why = ec ? ec.message() : "not a regular file";
        break;
    }
  }
  return false;
}

int checkFileFormat(int64_t rate, int64_t channels, int64_t lengthFrames) {
  if (rate < kMinFileRate || rate > kMaxFileRate) return BASS_ERROR_FORMAT;
  if (channels < 1 || channels > kMaxFileChannels) return BASS_ERROR_FORMAT;
  // The rate is in range here, so the product stays far inside 64 bits.
  if (lengthFrames > rate * kMaxFileSeconds) return BASS_ERROR_FILEFORM;
  return BASS_OK;
}

std::unique_ptr<Decoder> openStreamDecoder(const std::string& path, int* error) {
  int dummy = 0;
  if (!error) error = &dummy;
  try {
    uint64_t size = 0;
    if (!openRegularFile(path, kMaxStreamFileBytes, &size, error)) return nullptr;
    // libsndfile first: it knows every PCM container by its header. It refuses MPEG audio,
    // which libmpg123 decodes with the exact gapless length. A file a decoder recognises but
    // refuses for its format is not offered to the next one.
    int refusal = BASS_OK;
    if (auto d = SndfileDecoder::open(path, &refusal)) {
      *error = BASS_OK;
      return d;
    }
    if (refusal == BASS_OK) {
      if (auto d = Mpg123Decoder::open(path, &refusal)) {
        *error = BASS_OK;
        return d;
      }
    }
    *error = refusal != BASS_OK ? refusal : BASS_ERROR_FILEFORM;
  } catch (const std::bad_alloc&) {
    *error = BASS_ERROR_MEM;
  } catch (...) {
    *error = BASS_ERROR_UNKNOWN;
  }
  return nullptr;
}

std::unique_ptr<Decoder> openModuleDecoder(const std::string& path, int sampleRate, bool loop,
                                           bool ramp, int* error) {
  int dummy = 0;
  if (!error) error = &dummy;
  try {
    uint64_t size = 0;
    File f = openRegularFile(path, kMaxModuleFileBytes, &size, error);
    if (!f) return nullptr;
    // libopenmpt wants the whole module in memory; modules are small.
    std::vector<uint8_t> data(size);
    if (std::fread(data.data(), 1, data.size(), f.get()) != data.size()) {
      *error = BASS_ERROR_FILEOPEN;
      return nullptr;
    }
    return OpenmptDecoder::create(data, sampleRate, loop, ramp, error);
  } catch (const std::bad_alloc&) {
    *error = BASS_ERROR_MEM;
  } catch (...) {
    *error = BASS_ERROR_UNKNOWN;
  }
  return nullptr;
}

}  // namespace audiolib
