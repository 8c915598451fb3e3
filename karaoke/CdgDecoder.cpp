#include "CdgDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace karaoke {

namespace {

constexpr size_t kRowBytes = kCdgWidth;
constexpr int kTileWidth = 6;
constexpr int kTileHeight = 12;

void fill(CdgState& s, uint8_t colour) {
  s.pixels.fill(colour);
}

void borderPreset(CdgState& s, uint8_t colour) {
  s.border = colour;
  for (int y = 0; y < kCdgHeight; ++y) {
    uint8_t* row = s.pixels.data() + size_t(y) * kRowBytes;
    if (y < kCdgBorderY || y >= kCdgHeight - kCdgBorderY) {
      std::memset(row, colour, kRowBytes);
    } else {
      std::memset(row, colour, kCdgBorderX);
      std::memset(row + kCdgWidth - kCdgBorderX, colour, kCdgBorderX);
    }
  }
}

void tile(CdgState& s, const uint8_t* d, bool exclusiveOr) {
  const uint8_t colour0 = d[0] & 0x0F;
  const uint8_t colour1 = d[1] & 0x0F;
  const int row = d[2] & 0x1F;
  const int column = d[3] & 0x3F;
  // 18 rows of 50 tiles; a place past them names no tile.
  if (row >= kCdgHeight / kTileHeight || column >= kCdgWidth / kTileWidth) return;
  for (int r = 0; r < kTileHeight; ++r) {
    uint8_t* p =
        s.pixels.data() + size_t(row * kTileHeight + r) * kRowBytes + size_t(column * kTileWidth);
    const uint8_t bits = d[4 + r];
    for (int c = 0; c < kTileWidth; ++c) {
      const uint8_t colour = (bits >> (5 - c)) & 1 ? colour1 : colour0;
      p[c] = exclusiveOr ? uint8_t((p[c] ^ colour) & 0x0F) : colour;
    }
  }
}

// Moves the whole memory by one tile width or height; what is pushed out comes back on the
// other side (copy) or the vacated band takes `colour` (preset).
void scroll(CdgState& s, const uint8_t* d, bool copy) {
  const uint8_t colour = d[0] & 0x0F;
  const int hCommand = (d[1] >> 4) & 0x03;
  const int vCommand = (d[2] >> 4) & 0x03;
  s.hOffset = std::min(d[1] & 0x07, kTileWidth - 1);
  s.vOffset = std::min(d[2] & 0x0F, kTileHeight - 1);

  uint8_t* px = s.pixels.data();
  if (hCommand == 1 || hCommand == 2) {
    uint8_t band[kTileWidth];
    for (int y = 0; y < kCdgHeight; ++y) {
      uint8_t* row = px + size_t(y) * kRowBytes;
      if (hCommand == 2) {  // left
        std::memcpy(band, row, kTileWidth);
        std::memmove(row, row + kTileWidth, kRowBytes - kTileWidth);
        uint8_t* vacated = row + kRowBytes - kTileWidth;
        copy ? std::memcpy(vacated, band, kTileWidth) : std::memset(vacated, colour, kTileWidth);
      } else {  // right
        std::memcpy(band, row + kRowBytes - kTileWidth, kTileWidth);
        std::memmove(row + kTileWidth, row, kRowBytes - kTileWidth);
        copy ? std::memcpy(row, band, kTileWidth) : std::memset(row, colour, kTileWidth);
      }
    }
  }
  if (vCommand == 1 || vCommand == 2) {
    constexpr size_t kBand = kRowBytes * kTileHeight;
    std::array<uint8_t, kBand> band;
    const size_t total = s.pixels.size();
    if (vCommand == 2) {  // up
      std::memcpy(band.data(), px, kBand);
      std::memmove(px, px + kBand, total - kBand);
      uint8_t* vacated = px + total - kBand;
      copy ? std::memcpy(vacated, band.data(), kBand) : std::memset(vacated, colour, kBand);
    } else {  // down
      std::memcpy(band.data(), px + total - kBand, kBand);
      std::memmove(px + kBand, px, total - kBand);
      copy ? std::memcpy(px, band.data(), kBand) : std::memset(px, colour, kBand);
    }
  }
}

void loadColours(CdgState& s, const uint8_t* d, int first) {
  for (int i = 0; i < 8; ++i) {
    const uint8_t a = d[2 * i];
    const uint8_t b = d[2 * i + 1];
    const uint16_t red = (a >> 2) & 0x0F;
    const uint16_t green = uint16_t(((a & 0x03) << 2) | ((b >> 4) & 0x03));
    const uint16_t blue = b & 0x0F;
    s.palette[size_t(first + i)] = uint16_t(red << 8 | green << 4 | blue);
  }
}

uint32_t rgbaOf(uint16_t rgb) {
  const uint32_t r = ((rgb >> 8) & 0x0F) * 17u;
  const uint32_t g = ((rgb >> 4) & 0x0F) * 17u;
  const uint32_t b = (rgb & 0x0F) * 17u;
  return r << 24 | g << 16 | b << 8 | 0xFFu;
}

}  // namespace

void applyCdgPacket(CdgState& state, std::span<const uint8_t, kCdgPacketBytes> packet) {
  if ((packet[0] & 0x3F) != cdg::kGraphicsCommand) return;
  uint8_t d[16];
  for (int i = 0; i < 16; ++i) d[i] = packet[size_t(4 + i)] & 0x3F;
  switch (packet[1] & 0x3F) {
    case cdg::kMemoryPreset: {
      const int colour = d[0] & 0x0F;
      const int repeat = d[1] & 0x0F;
      // A preset is sent up to 16 times in a row against read errors: a repeat of the one done
      // last changes nothing, or it would wipe what was drawn between them.
      if (repeat > 0 && colour == state.presetColour && repeat > state.presetRepeat) {
        state.presetRepeat = repeat;
        break;
      }
      fill(state, uint8_t(colour));
      state.presetColour = colour;
      state.presetRepeat = repeat;
      break;
    }
    case cdg::kBorderPreset:
      borderPreset(state, d[0] & 0x0F);
      break;
    case cdg::kTileNormal:
      tile(state, d, false);
      break;
    case cdg::kTileXor:
      tile(state, d, true);
      break;
    case cdg::kScrollPreset:
      scroll(state, d, false);
      break;
    case cdg::kScrollCopy:
      scroll(state, d, true);
      break;
    case cdg::kTransparentColour:
      state.transparent = d[0] & 0x0F;
      break;
    case cdg::kLoadColoursLow:
      loadColours(state, d, 0);
      break;
    case cdg::kLoadColoursHigh:
      loadColours(state, d, 8);
      break;
    default:
      break;
  }
}

std::vector<uint8_t> cdgToRgba(const CdgState& state) {
  std::vector<uint8_t> out(size_t(kCdgWidth) * kCdgHeight * 4);
  uint8_t* o = out.data();
  for (int y = 0; y < kCdgHeight; ++y) {
    for (int x = 0; x < kCdgWidth; ++x, o += 4) {
      const bool inside = x >= kCdgBorderX && x < kCdgWidth - kCdgBorderX && y >= kCdgBorderY &&
                          y < kCdgHeight - kCdgBorderY;
      const uint8_t index =
          inside ? state.at(x + state.hOffset, y + state.vOffset) : state.at(x, y);
      const uint32_t c = rgbaOf(state.palette[index & 0x0F]);
      o[0] = uint8_t(c >> 24);
      o[1] = uint8_t(c >> 16);
      o[2] = uint8_t(c >> 8);
      o[3] = uint8_t(c);
    }
  }
  return out;
}

CdgDecoder::CdgDecoder(std::vector<uint8_t> stream) : stream_(std::move(stream)) {}

size_t CdgDecoder::packetAt(double seconds) {
  if (!(seconds > 0)) return 0;
  const double p = std::floor(seconds * kCdgPacketsPerSecond);
  return p >= 1e15 ? size_t(1e15) : size_t(p);
}

void CdgDecoder::renderAt(size_t packetIndex) {
  const size_t target = std::min(packetIndex, packetCount());
  if (target < position_) {
    const size_t k = std::min(target / kCdgSnapshotPackets, snapshots_.size() - 1);
    state_ = snapshots_[k];
    position_ = k * kCdgSnapshotPackets;
  }
  while (position_ < target) {
    applyCdgPacket(state_, std::span<const uint8_t, kCdgPacketBytes>(
                               stream_.data() + position_ * kCdgPacketBytes, kCdgPacketBytes));
    ++position_;
    if (position_ % kCdgSnapshotPackets == 0 &&
        position_ / kCdgSnapshotPackets == snapshots_.size())
      snapshots_.push_back(state_);
  }
}

uint32_t CdgDecoder::borderRgba() const {
  return rgbaOf(state_.palette[state_.border & 0x0F]);
}

}  // namespace karaoke
