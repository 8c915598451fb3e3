// The renderer's output file: written under a temporary name beside the target and renamed
// only when complete, so a failed render never leaves a partial file behind.
#pragma once

#include <sndfile.h>

#include <string>
#include <vector>

namespace cli {

class WavOut {
 public:
  ~WavOut();
  // 44100 Hz (or `rate`) stereo WAV, 16-bit or float samples. False with *error on failure.
  bool open(const std::string& path, int rate, bool floatSamples, std::string* error);
  bool write(const float* frames, long count);
  // Closes and moves the file into place; false (and nothing left behind) on failure.
  bool commit(std::string* error);

 private:
  void discard();

  SNDFILE* file_ = nullptr;
  std::string path_;
  std::string temp_;
  bool float_ = false;
  std::vector<short> s16_;
};

}  // namespace cli
