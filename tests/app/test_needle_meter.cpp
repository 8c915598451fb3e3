// The needle meters' maths on byte arrays, as the meter control delivers them.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "NeedleMeter.h"

namespace {

constexpr int qc44S16 = 2048, qc44M16 = 1024, qc11S08 = 2;

// Interleaved 16-bit little-endian frames of a sine of peak `left` / `right` (in full scale).
std::vector<uint8_t> stereo16(double left, double right, int frames) {
  std::vector<uint8_t> bytes;
  for (int f = 0; f < frames; ++f) {
    for (const double peak : {left, right}) {
      const auto v = int16_t(std::lrint(32767 * peak * std::sin(2 * M_PI * 1000 * f / 44100.0)));
      bytes.push_back(uint8_t(v & 0xFF));
      bytes.push_back(uint8_t((v >> 8) & 0xFF));
    }
  }
  return bytes;
}

// A sine of peak p has an rms of p / √2 × 128 on the meter's 8-bit scale: at half scale
// 45.25, so round(45 × 1 / 128 × 75 + 18) = 44; with factor 2.5, level 113 → 84, capped at 75.
TEST(NeedleValues, FollowTheLevelOfEachChannel) {
  const std::tuple<const char*, std::vector<uint8_t>, int, float, int, int> cases[] = {
      {"silence rests at 18", std::vector<uint8_t>(4000, 0), qc44S16, 2.5f, 18, 18},
      {"left only", stereo16(0.5, 0, 2000), qc44S16, 1, 44, 18},
      {"right only", stereo16(0, 0.5, 2000), qc44S16, 1, 18, 44},
      {"full scale is capped", stereo16(0.5, 0.5, 2000), qc44S16, 2.5f, 75, 75},
      {"mono shows on both", stereo16(0.5, 0.5, 1000), qc44M16, 1, 44, 44},
      {"8-bit silence is 128", std::vector<uint8_t>(4000, 128), qc11S08, 2.5f, 18, 18}};
  for (const auto& [name, bytes, quality, factor, left, right] : cases) {
    const auto v = needle::needleValues(bytes, 0, int(bytes.size()) - 4, quality, factor);
    EXPECT_EQ(v[0], left) << name;
    EXPECT_EQ(v[1], right) << name;
  }
}

TEST(NeedleValues, EmptyOrInvalidStretchRests) {
  const auto bytes = stereo16(0.5, 0.5, 100);
  EXPECT_EQ(needle::needleValues({}, 0, 10, qc44S16, 1), (std::array<int, 2>{18, 18}));
  EXPECT_EQ(needle::needleValues(bytes, 10, 5, qc44S16, 1), (std::array<int, 2>{18, 18}));
  EXPECT_EQ(needle::needleValues(bytes, 0, 100, 3, 1), (std::array<int, 2>{18, 18}));
}

TEST(NeedleSmoother, AveragesWithTheThreePreviousShownValuesTiesToEven) {
  needle::NeedleSmoother s;
  // (18 + 0 + 0 + 0) / 4 = 4.5 → 4; (18 + 4) / 4 = 5.5 → 6; (18 + 6 + 4) / 4 = 7.
  EXPECT_EQ(s.push(18), 4);
  EXPECT_EQ(s.push(18), 6);
  EXPECT_EQ(s.push(18), 7);
  // A steady full scale settles one short of it: (75 + 3 × 74) / 4 = 74.25.
  for (int i = 0; i < 30; ++i) s.push(75);
  EXPECT_EQ(s.push(75), 74);
  EXPECT_NEAR(needle::needleAngle(18), 36 * M_PI / 180, 1e-9);
  EXPECT_NEAR(needle::needleAngle(75), 150 * M_PI / 180, 1e-9);
}

}  // namespace
