#include "WavOut.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace cli {

WavOut::~WavOut() {
  discard();
}

bool WavOut::open(const std::string& path, int rate, bool floatSamples, std::string* error) {
  path_ = path;
  float_ = floatSamples;
  std::string tmpl = path + ".partXXXXXX";
  const int fd = mkstemp(tmpl.data());
  if (fd < 0) {
    *error = "cannot write " + path;
    return false;
  }
  temp_ = tmpl;
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | (floatSamples ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
  file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
  if (!file_) {
    *error = std::string("cannot write ") + path + ": " + sf_strerror(nullptr);
    discard();
    return false;
  }
  return true;
}

bool WavOut::write(const float* frames, long count) {
  if (float_) return sf_writef_float(file_, frames, count) == count;
  // 16-bit samples are the float values scaled by 32768, rounded and clipped.
  s16_.resize(size_t(count) * 2);
  for (size_t i = 0; i < s16_.size(); ++i)
    s16_[i] = short(std::lrint(std::clamp(frames[i] * 32768.0f, -32768.0f, 32767.0f)));
  return sf_writef_short(file_, s16_.data(), count) == count;
}

bool WavOut::commit(std::string* error) {
  const int rc = sf_close(file_);
  file_ = nullptr;
  std::error_code ec;
  if (rc == 0) std::filesystem::rename(temp_, path_, ec);
  if (rc != 0 || ec) {
    *error = "cannot write " + path_ + (ec ? ": " + ec.message() : std::string());
    discard();
    return false;
  }
  temp_.clear();
  return true;
}

void WavOut::discard() {
  if (file_) sf_close(file_);
  file_ = nullptr;
  if (!temp_.empty()) std::remove(temp_.c_str());
  temp_.clear();
}

}  // namespace cli
