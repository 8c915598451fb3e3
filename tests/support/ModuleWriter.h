// A writer of small 4-channel ProTracker modules ("M.K."), so tests can build the module files
// they play: one looping sample, a few notes, one or two patterns.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testaudio {

struct ModNote {
  int row = 0;      // 0..63
  int channel = 0;  // 0..3
  int period = 0;   // Amiga period (428 = C-2), 0 = no note
  int sample = 0;   // 1..31, 0 = none
  int effect = 0;   // 0x0..0xF
  int param = 0;    // 0x00..0xFF
};

struct ModSong {
  std::string title = "orivelR test";
  std::vector<int8_t> sample;                  // sample 1, looped over its whole length; even size
  int volume = 64;                             // sample 1's default volume, 0..64
  std::vector<std::vector<ModNote>> patterns;  // each 64 rows
  std::vector<int> orders;                     // pattern numbers in play order
};

// Amiga PAL clock over two: a note of period p plays its sample at kPalRate / p samples/s.
constexpr double kPalRate = 7093789.2 / 2.0;

// One cycle of a sine, `length` signed 8-bit samples, at `amplitude` (up to 127).
std::vector<int8_t> sineCycle(int length, int amplitude);
// The bytes of the module file.
std::vector<uint8_t> buildModule(const ModSong& song);
void writeModule(const std::filesystem::path& path, const ModSong& song);

}  // namespace testaudio
