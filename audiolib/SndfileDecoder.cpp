#include "SndfileDecoder.h"

#include <new>

#include "bass.h"

namespace audiolib {

namespace {

bool isMpeg(const SF_INFO& info) {
  const int major = info.format & SF_FORMAT_TYPEMASK;
  const int sub = info.format & SF_FORMAT_SUBMASK;
  // libsndfile 1.1+ reads MP3 itself and also MPEG inside WAV; both go to libmpg123.
  return major == SF_FORMAT_MPEG || sub == SF_FORMAT_MPEG_LAYER_I ||
         sub == SF_FORMAT_MPEG_LAYER_II || sub == SF_FORMAT_MPEG_LAYER_III;
}

}  // namespace

std::unique_ptr<SndfileDecoder> SndfileDecoder::open(const std::string& path, int* refusal) {
  SF_INFO info{};
  Handle file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) return nullptr;
  if (isMpeg(info) || info.channels <= 0 || info.samplerate <= 0 || info.frames < 0) return nullptr;
  // The header is libsndfile's to read but the numbers are the file's claim: refused here,
  // before a rate of 2 GHz or 1024 channels sizes a buffer.
  const int format = checkFileFormat(info.samplerate, info.channels, info.frames);
  if (format != BASS_OK) {
    *refusal = format;
    return nullptr;
  }
  // Integer files come back scaled to [-1, 1), the engine's float range.
  sf_command(file.get(), SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  return std::unique_ptr<SndfileDecoder>(new (std::nothrow) SndfileDecoder(std::move(file), info));
}

uint32_t SndfileDecoder::channelType() const {
  return BASS_CTYPE_STREAM_WAV;
}

int64_t SndfileDecoder::read(float* out, int64_t frames) {
  if (frames <= 0 || position_ >= info_.frames) return 0;
  const sf_count_t got = sf_readf_float(file_.get(), out, frames);
  if (got > 0) {
    position_ += got;
    return got;
  }
  // Nothing came although the header promised more: a short file ends here, a failing
  // device is an error.
  return sf_error(file_.get()) != SF_ERR_NO_ERROR ? -1 : 0;
}

bool SndfileDecoder::seek(int64_t frame) {
  if (frame < 0 || frame > info_.frames) return false;
  if (sf_seek(file_.get(), frame, SEEK_SET) < 0) return false;
  position_ = frame;
  return true;
}

}  // namespace audiolib
