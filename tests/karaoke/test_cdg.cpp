// The CD+G decoder: each instruction against a picture worked out by hand from its definition.
#include <gtest/gtest.h>

#include <random>

#include "CdgDecoder.h"

namespace {

using karaoke::CdgState;
using karaoke::kCdgHeight;
using karaoke::kCdgWidth;
using Packet = std::array<uint8_t, 24>;

Packet packet(uint8_t instruction, std::initializer_list<uint8_t> data) {
  Packet p{};
  p[0] = 0x09;
  p[1] = instruction;
  size_t i = 4;
  for (uint8_t d : data) p[i++] = d;
  return p;
}

void feed(CdgState& s, const Packet& p) {
  karaoke::applyCdgPacket(s, std::span<const uint8_t, 24>(p));
}

Packet tile(bool exclusiveOr, int colour0, int colour1, int row, int column,
            std::array<uint8_t, 12> bits) {
  Packet p = packet(exclusiveOr ? 38 : 6,
                    {uint8_t(colour0), uint8_t(colour1), uint8_t(row), uint8_t(column)});
  for (size_t r = 0; r < 12; ++r) p[8 + r] = bits[r];
  return p;
}

// Every pixel a different pattern of its coordinates, so any misplaced pixel shows.
CdgState patterned() {
  CdgState s;
  for (int y = 0; y < kCdgHeight; ++y)
    for (int x = 0; x < kCdgWidth; ++x)
      s.pixels[size_t(y * kCdgWidth + x)] = uint8_t((x * 7 + y * 3) % 16);
  return s;
}

TEST(CdgDecoder, MemoryPresetFillsAndItsRepeatsLeaveDrawingAlone) {
  CdgState s = patterned();
  feed(s, packet(1, {0xC3, 0x00}));  // the P and Q bits are masked off: colour 3
  for (uint8_t v : s.pixels) ASSERT_EQ(v, 3);
  feed(s, tile(false, 0, 9, 1, 1, {0x3F}));
  feed(s, packet(1, {3, 1}));
  EXPECT_EQ(s.at(6, 12), 9);
  feed(s, packet(1, {5, 0}));
  for (uint8_t v : s.pixels) ASSERT_EQ(v, 5);
}

TEST(CdgDecoder, BorderPresetPaintsOnlyTheBorder) {
  CdgState s;
  feed(s, packet(2, {0x47}));
  int border = 0;
  for (int y = 0; y < kCdgHeight; ++y)
    for (int x = 0; x < kCdgWidth; ++x) {
      const bool inside = x >= 6 && x < 294 && y >= 12 && y < 204;
      ASSERT_EQ(s.at(x, y), inside ? 0 : 7) << x << "," << y;
      border += !inside;
    }
  EXPECT_EQ(border, 300 * 216 - 288 * 192);
  EXPECT_EQ(s.border, 7);
}

TEST(CdgDecoder, TilesDrawNormalAndXorTwiceRestores) {
  CdgState s = patterned();
  const CdgState before = s;
  // Row 2, column 3: pixels 18..23, 24..35. Bits 100001 on its first row, 010000 on its last.
  std::array<uint8_t, 12> bits{0x21, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10 | 0xC0};
  feed(s, tile(false, 4, 11, 2, 3, bits));
  for (int y = 0; y < kCdgHeight; ++y)
    for (int x = 0; x < kCdgWidth; ++x) {
      uint8_t want = before.at(x, y);
      if (x >= 18 && x < 24 && y >= 24 && y < 36) {
        want = 4;
        if (y == 24 && (x == 18 || x == 23)) want = 11;
        if (y == 35 && x == 19) want = 11;
      }
      ASSERT_EQ(s.at(x, y), want) << x << "," << y;
    }
  const CdgState drawn = s;
  feed(s, tile(true, 4, 11, 2, 3, bits));
  EXPECT_EQ(s.at(18, 24), 11 ^ 11);
  EXPECT_EQ(s.at(20, 24), 4 ^ 4);
  feed(s, tile(true, 6, 13, 0, 49, bits));  // the last column of tiles
  EXPECT_EQ(s.at(294, 0), (before.at(294, 0) ^ 13));
  feed(s, tile(true, 6, 13, 0, 49, bits));
  feed(s, tile(true, 4, 11, 2, 3, bits));
  EXPECT_EQ(s.pixels, drawn.pixels);
  feed(s, tile(false, 1, 1, 18, 0, bits));  // past the last row: no tile
  feed(s, tile(false, 1, 1, 0, 50, bits));
  EXPECT_EQ(s.pixels, drawn.pixels);
}

TEST(CdgDecoder, ColourTablesAndTransparentColour) {
  CdgState s;
  // Red 0xA, green 0x5, blue 0x3: RRRRGG = 101001, GGBBBB = 010011.
  feed(s, packet(30, {0x29, 0x13, 0, 0, 0x3F, 0x3F}));
  feed(s, packet(31, {0, 0, 0xFF, 0xFF}));
  EXPECT_EQ(s.palette[0], 0xA53);
  EXPECT_EQ(s.palette[1], 0x000);
  EXPECT_EQ(s.palette[2], 0xFFF);
  EXPECT_EQ(s.palette[9], 0xFFF);
  feed(s, packet(28, {0x4C}));
  EXPECT_EQ(s.transparent, 12);
  Packet other = packet(30, {0x3F, 0x3F});
  other[0] = 0x08;  // not the graphics command
  feed(s, other);
  EXPECT_EQ(s.palette[0], 0xA53);
}

struct ScrollCase {
  uint8_t instruction;
  uint8_t h, v;
  int dx, dy;  // where a pixel moves
};

TEST(CdgDecoder, ScrollsMoveWithPresetOrCopyAndClampOffsets) {
  const std::vector<ScrollCase> cases = {
      {20, 0x20, 0, -6, 0},   {20, 0x10, 0, 6, 0},  {20, 0, 0x20, 0, -12},
      {20, 0, 0x10, 0, 12},   {24, 0x20, 0, -6, 0}, {24, 0x10, 0, 6, 0},
      {24, 0, 0x20, 0, -12},  {24, 0, 0x10, 0, 12}, {24, 0x27, 0x2F, -6, -12},
      {20, 0x03, 0x05, 0, 0},
  };
  for (const ScrollCase& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.instruction) << " " << int(c.h) << " " << int(c.v));
    const CdgState before = patterned();
    CdgState s = before;
    feed(s, packet(c.instruction, {0x0E, c.h, c.v}));
    const bool copy = c.instruction == 24;
    for (int y = 0; y < kCdgHeight; ++y)
      for (int x = 0; x < kCdgWidth; ++x) {
        int fx = x - c.dx, fy = y - c.dy;
        uint8_t want;
        if (fx >= 0 && fx < kCdgWidth && fy >= 0 && fy < kCdgHeight)
          want = before.at(fx, fy);
        else if (copy)
          want = before.at((fx + kCdgWidth) % kCdgWidth, (fy + kCdgHeight) % kCdgHeight);
        else
          want = 14;
        ASSERT_EQ(s.at(x, y), want) << x << "," << y;
      }
    EXPECT_EQ(s.hOffset, std::min(c.h & 7, 5));
    EXPECT_EQ(s.vOffset, std::min(c.v & 15, 11));
  }
}

TEST(CdgDecoder, RgbaShowsTheOffsetPictureInsideTheBorder) {
  CdgState s = patterned();
  for (int i = 0; i < 16; ++i) s.palette[size_t(i)] = uint16_t(i << 8 | (15 - i) << 4 | 1);
  s.hOffset = 5;
  s.vOffset = 11;
  const auto rgba = karaoke::cdgToRgba(s);
  const auto pixel = [&](int x, int y) { return &rgba[size_t(y * kCdgWidth + x) * 4]; };
  const uint8_t* b = pixel(5, 100);  // the border is not moved: index (35 + 300) % 16 = 15
  EXPECT_EQ((std::array<uint8_t, 4>{b[0], b[1], b[2], b[3]}),
            (std::array<uint8_t, 4>{255, 0, 17, 255}));
  const uint8_t* in = pixel(293, 203);
  const int index = s.at(298, 214);
  EXPECT_EQ(in[0], index * 17);
  EXPECT_EQ(in[1], (15 - index) * 17);
}

// A stream of every instruction with random bytes; a seek backwards lands on the picture a
// replay from the start gives.
TEST(CdgDecoder, SeekBackwardsEqualsReplay) {
  std::mt19937 rng(7);
  const uint8_t kinds[] = {1, 2, 6, 20, 24, 28, 30, 31, 38, 6, 38, 0};
  std::vector<uint8_t> stream;
  for (int i = 0; i < 20 * 300; ++i) {
    Packet p{};
    for (auto& v : p) v = uint8_t(rng());
    p[0] = (rng() % 4 == 0) ? 0x0A : uint8_t(0x09 | (rng() & 0xC0));
    p[1] = kinds[rng() % std::size(kinds)];
    if (p[1] == 1 && rng() % 8) p[0] = 0;  // a clear screen now and then, not every second
    stream.insert(stream.end(), p.begin(), p.end());
  }
  karaoke::CdgDecoder seeking(stream);
  seeking.renderAt(5700);
  for (size_t target : {1234u, 4499u, 4500u, 3000u, 5999u, 0u, 6000u, 9000u}) {
    seeking.renderAt(target);
    karaoke::CdgDecoder replay(stream);
    replay.renderAt(target);
    EXPECT_EQ(seeking.state(), replay.state()) << target;
    EXPECT_EQ(seeking.position(), std::min<size_t>(target, 6000));
  }
  EXPECT_EQ(karaoke::CdgDecoder::packetAt(2.5), 750u);
}

}  // namespace
