// The CD+G decoder: the graphics of a CD+G stream (packets of 24 bytes, 300 a second) drawn
// into a 300 x 216 picture of colour indices, border included, with a 16-entry palette of 4-bit
// RGB. Every byte is masked to its six graphics bits, every offset is clamped, and overlapping
// scrolls move with memmove. A snapshot every few seconds of packets lets a backward seek
// replay from the one before it rather than from the start.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace karaoke {

constexpr int kCdgWidth = 300;
constexpr int kCdgHeight = 216;
constexpr size_t kCdgPacketBytes = 24;
constexpr int kCdgPacketsPerSecond = 300;
// The picture inside the border: columns 6..293, rows 12..203.
constexpr int kCdgBorderX = 6;
constexpr int kCdgBorderY = 12;
constexpr size_t kCdgSnapshotPackets = 5 * kCdgPacketsPerSecond;

namespace cdg {
enum Instruction : uint8_t {
  kMemoryPreset = 1,
  kBorderPreset = 2,
  kTileNormal = 6,
  kScrollPreset = 20,
  kScrollCopy = 24,
  kTransparentColour = 28,
  kLoadColoursLow = 30,
  kLoadColoursHigh = 31,
  kTileXor = 38,
};
constexpr uint8_t kGraphicsCommand = 0x09;
}  // namespace cdg

struct CdgState {
  std::array<uint8_t, size_t(kCdgWidth) * kCdgHeight> pixels{};  // colour indices 0..15
  std::array<uint16_t, 16> palette{};                            // 0x0RGB
  uint8_t border = 0;
  int transparent = -1;  // the index Define Transparent Colour named, -1 before one
  int hOffset = 0;       // 0..5: the picture is shown this many pixels to the left
  int vOffset = 0;       // 0..11: and this many up
  // The last Memory Preset done: its colour and repeat count, so later repeats of the same
  // preset leave what was drawn since alone.
  int presetColour = -1;
  int presetRepeat = -1;

  uint8_t at(int x, int y) const { return pixels[size_t(y) * kCdgWidth + size_t(x)]; }
  bool operator==(const CdgState&) const = default;
};

// Applies one packet (its 24 bytes; other commands than CD+G graphics are ignored).
void applyCdgPacket(CdgState& state, std::span<const uint8_t, kCdgPacketBytes> packet);

// The picture as shown, RGBA 8 bits each, row by row: inside the border the memory moved by the
// scroll offsets (smooth scrolling), the border area as it is in memory (a Memory Preset clears
// it too, a Border Preset paints it). Colour values 0..15 become v * 17.
std::vector<uint8_t> cdgToRgba(const CdgState& state);

class CdgDecoder {
 public:
  CdgDecoder() = default;
  explicit CdgDecoder(std::vector<uint8_t> stream);

  size_t packetCount() const { return stream_.size() / kCdgPacketBytes; }
  // The packet heard at `seconds` of song time.
  static size_t packetAt(double seconds);

  // The picture after packets [0, packetIndex) (clamped to the stream): forward from where it
  // is, backward from the last snapshot at or before packetIndex.
  void renderAt(size_t packetIndex);
  size_t position() const { return position_; }
  const CdgState& state() const { return state_; }
  std::vector<uint8_t> toRgba() const { return cdgToRgba(state_); }
  // The last Border Preset's colour, 0xRRGGBBAA: what the window fills around the picture.
  uint32_t borderRgba() const;

 private:
  std::vector<uint8_t> stream_;
  CdgState state_;
  size_t position_ = 0;
  std::vector<CdgState> snapshots_{CdgState{}};  // snapshot k: after k * kCdgSnapshotPackets
};

}  // namespace karaoke
