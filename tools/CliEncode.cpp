#include "CliEncode.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "Interrupt.h"
#include "Mp3Encode.h"

namespace cli {

const char* const kEncodeUsage =
    "usage: orivelR-cli encode IN.wav OUT.mp3 [--bitrate B] [--mono]\n"
    "       MP3 at B bit/s CBR (default 128000), stereo unless --mono; IN may be a .raw file\n"
    "       of 44.1 kHz stereo 16-bit little-endian samples\n";

namespace {

int usageError(const std::string& text) {
  std::cerr << "orivelR-cli encode: " << text << "\n" << kEncodeUsage;
  return 1;
}

}  // namespace

int encodeCommand(int argc, char** argv) {
  encoder::EncodeSettings s;
  int files = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--mono") {
      s.channelMode = encoder::kChannelMono;
    } else if (a == "--bitrate") {
      if (++i == argc) return usageError("--bitrate needs a value in bit/s");
      const std::string v = argv[i];
      size_t used = 0;
      long b = 0;
      try {
        b = std::stol(v, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used != v.size() || b <= 0 || b > 1000000)
        return usageError("--bitrate takes a bit rate in bit/s such as 128000, not \"" + v + "\"");
      s.bitRateBps = int(b);
    } else if (a.size() > 1 && a[0] == '-') {
      return usageError("unknown option \"" + a + "\"");
    } else if (files == 0) {
      s.source = a;
      ++files;
    } else if (files == 1) {
      s.target = a;
      ++files;
    } else {
      return usageError("too many file names");
    }
  }
  if (files != 2) return usageError("needs the source and the target file");

  // The encoder reads the stop flag between blocks; a watcher turns Ctrl+C into it.
  std::atomic<bool> stop{false};
  std::atomic<bool> finished{false};
  std::thread watcher([&] {
    while (!finished) {
      if (interrupted()) stop = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  bool shown = false;
  const auto result = encoder::encodeMp3(s, stop, [&](int p, std::optional<double> left) {
    if (left)
      std::fprintf(stderr, "\rencoding: %3d %% (%.1f s left)  ", p, *left);
    else
      std::fprintf(stderr, "\rencoding: %3d %%                 ", p);
    shown = true;
  });
  finished = true;
  watcher.join();
  if (shown) std::fputc('\n', stderr);
  if (result.cancelled) {
    std::cerr << "orivelR-cli encode: interrupted, no file written\n";
    return kInterruptedStatus;
  }
  if (!result.ok) {
    std::cerr << "orivelR-cli encode: " << result.error << "\n";
    return 3;
  }
  return 0;
}

}  // namespace cli
