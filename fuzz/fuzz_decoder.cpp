// Opens the input as a song through an engine decoder and decodes its first second, then a
// little after a seek to its middle: the limits on what a decoder accepts, and that reads and
// seeks stay within what they promise. FUZZ_WAV goes through the stream factory (libsndfile
// first, the way every PCM file is opened), FUZZ_MP3 through the MPEG decoder and its frame
// search alone, FUZZ_MODULE through the module factory.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "Decoder.h"
#include "InputFile.h"
#include "Mpg123Decoder.h"
#include "bass.h"

namespace {

std::unique_ptr<audiolib::Decoder> open(const std::string& path) {
  int error = BASS_OK;
#if defined(FUZZ_WAV)
  auto d = audiolib::openStreamDecoder(path, &error);
#elif defined(FUZZ_MP3)
  std::unique_ptr<audiolib::Decoder> d = audiolib::Mpg123Decoder::open(path, &error);
#elif defined(FUZZ_MODULE)
  auto d = audiolib::openModuleDecoder(path, 44100, false, false, &error);
#endif
  // A decoder comes with no error; the factories give a code with every refusal.
  fuzz::require(!d || error == BASS_OK);
#if !defined(FUZZ_MP3)
  fuzz::require(d || error != BASS_OK);
#endif
  return d;
}

// Reads up to `frames` frames in chunks; every read returns what it may.
void readFrames(audiolib::Decoder& d, int64_t frames) {
  constexpr int64_t kChunk = 4096;
  std::vector<float> buf(size_t(kChunk * d.channels()));
  for (int64_t done = 0; done < frames;) {
    const int64_t want = std::min(kChunk, frames - done);
    const int64_t got = d.read(buf.data(), want);
    fuzz::require(got >= -1 && got <= want);
    if (got <= 0) return;
    done += got;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::InputFile file;
  auto d = open(file.write(data, size));
  if (!d) return 0;
  const int rate = d->sampleRate();
  fuzz::require(rate >= audiolib::kMinFileRate && rate <= audiolib::kMaxFileRate);
  fuzz::require(d->channels() >= 1 && d->channels() <= audiolib::kMaxFileChannels);
  const int64_t length = d->lengthFrames();
  fuzz::require(length >= -1 && length <= rate * audiolib::kMaxFileSeconds);
  readFrames(*d, rate);
  if (length > 0 && d->seek(length / 2)) readFrames(*d, rate / 10);
  fuzz::require(!d->seek(-1));
  return 0;
}
