#include "CdImage.h"

#include <cmath>
#include <cstdint>
#include <fstream>

namespace testaudio {

std::filesystem::path writeCdImage(const std::filesystem::path& dir) {
  std::ofstream bin(dir / "disc.bin", std::ios::binary);
  for (int t = 0; t < 2; ++t)
    for (int f = 0; f < kCdImageTrackSectors[t] * 588; ++f) {
      const auto s = int16_t(std::lround(8000 * std::sin(f * 0.03 * (t + 1))));
      const int16_t frame[2] = {s, s};
      bin.write(reinterpret_cast<const char*>(frame), 4);
    }
  bin.close();
  std::ofstream cue(dir / "disc.cue");
  cue << "PERFORMER \"Band\"\nTITLE \"Album\"\nFILE \"disc.bin\" BINARY\n"
      << "  TRACK 01 AUDIO\n    PERFORMER \"Ann\"\n    TITLE \"One\"\n    INDEX 01 00:00:00\n"
      << "  TRACK 02 AUDIO\n    PERFORMER \"Bob\"\n    TITLE \"Two\"\n    INDEX 01 00:06:00\n";
  return dir / "disc.cue";
}

}  // namespace testaudio
