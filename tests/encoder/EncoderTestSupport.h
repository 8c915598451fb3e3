// What the encoder tests share: sound files made by sox and MP3 facts read back by ffprobe.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <map>
#include <string>

#include "TestAudio.h"

namespace enctest {

using testaudio::q;

// A chord over pink noise in the given sample format ("-b 16", "-b 32 -e floating-point").
inline void makeWav(const std::filesystem::path& path, int rate, int channels,
                    const std::string& format, double seconds) {
  std::string out;
  ASSERT_EQ(testaudio::run("sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) +
                               " " + format + " " + q(path) + " synth " + std::to_string(seconds) +
                               " sine 440 sine 660 pinknoise vol 0.5 2>&1",
                           &out),
            0)
      << out;
}

// The first audio stream's fields as ffprobe reports them ("bit_rate", "channels", ...).
inline std::map<std::string, std::string> probe(const std::filesystem::path& mp3) {
  return testaudio::probe(mp3, "stream=codec_name,bit_rate,channels,sample_rate", "a:0");
}

// Files of a folder, hidden partial ones included.
inline int fileCount(const std::filesystem::path& dir) {
  const std::filesystem::directory_iterator it(dir);
  return int(std::distance(begin(it), end(it)));
}

}  // namespace enctest
