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
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::is_regular_file(status)) {
    *error = BASS_ERROR_FILEOPEN;
    return nullptr;
  }
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
