// The WMA encoder of the WMA add-on: 16-bit stereo PCM in, WMA (wmav2, FFmpeg) in an ASF file
// out, tags written into the finished file with TagLib (FFmpeg's ASF muxer drops some, among
// them Description). One encoder per handle; a handle is used from one thread at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace audiolib {

class WmaEncoder {
 public:
  // Null with *error set (BASS_ERROR_CODEC, BASS_ERROR_CREATE, BASS_ERROR_MEM).
  static std::unique_ptr<WmaEncoder> open(int rate, int bitrate, const std::string& path,
                                          int* error);
  ~WmaEncoder();

  // The bit rates wmav2 takes for 44.1 kHz stereo, highest first.
  static const std::vector<uint32_t>& rates();

  bool setTag(const std::string& name, const std::string& value, int* error);
  bool write(const uint8_t* pcm, size_t bytes, int* error);
  // Flushes, finishes the file and writes the tags. False when any of it failed.
  bool close();

 private:
  struct Av;
  WmaEncoder();
  bool start(int* error);
  bool encodeFrame(const float* const* planes, int frames, int* error);
  bool drain(int* error);

  std::unique_ptr<Av> av_;
  std::string path_;
  std::vector<std::pair<std::string, std::string>> tags_;
  bool tagsEnded_ = false;
  bool started_ = false;
  bool failed_ = false;
  std::vector<float> left_, right_;  // samples waiting for a whole codec frame
  uint8_t partial_[4] = {};          // bytes of a frame split between two writes
  int partialBytes_ = 0;
  int64_t pts_ = 0;
};

}  // namespace audiolib
