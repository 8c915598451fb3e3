// Picks the decoder of a file: the checks every kind shares (the path names a readable, regular,
// non-empty file), then the decoders in the order that keeps each format with its best reader.
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
// for an empty one.
File openRegularFile(const std::string& path, uint64_t* size, int* error) {
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
  if (*size == 0) {
    *error = BASS_ERROR_FILEFORM;
    return nullptr;
  }
  return f;
}

}  // namespace

std::unique_ptr<Decoder> openStreamDecoder(const std::string& path, int* error) {
  int dummy = 0;
  if (!error) error = &dummy;
  try {
    uint64_t size = 0;
    if (!openRegularFile(path, &size, error)) return nullptr;
    // libsndfile first: it knows every PCM container by its header. It refuses MPEG audio,
    // which libmpg123 decodes with the exact gapless length.
    if (auto d = SndfileDecoder::open(path)) {
      *error = BASS_OK;
      return d;
    }
    if (auto d = Mpg123Decoder::open(path)) {
      *error = BASS_OK;
      return d;
    }
    *error = BASS_ERROR_FILEFORM;
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
    File f = openRegularFile(path, &size, error);
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
