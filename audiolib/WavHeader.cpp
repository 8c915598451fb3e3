#include "WavHeader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace audiolib {
namespace {

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

}  // namespace

std::array<uint8_t, 44> wavHeader(int channels, uint32_t rate, int bits, uint32_t dataBytes) {
  std::array<uint8_t, 44> h{};
  channels = std::min(channels, 2);
  const int blockAlign = int(std::lround(channels * bits / 8.0));
  std::memcpy(&h[0], "RIFF", 4);
  put32(&h[4], dataBytes + 36);
  std::memcpy(&h[8], "WAVE", 4);
  std::memcpy(&h[12], "fmt ", 4);
  put32(&h[16], 16);
  put16(&h[20], 1);
  put16(&h[22], uint16_t(channels));
  put32(&h[24], rate);
  put32(&h[28], rate * uint32_t(blockAlign));
  put16(&h[32], uint16_t(blockAlign));
  put16(&h[34], uint16_t(bits));
  std::memcpy(&h[36], "data", 4);
  put32(&h[40], dataBytes);
  return h;
}

}  // namespace audiolib
