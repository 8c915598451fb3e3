#include "Preload.h"

namespace midi {

namespace {

constexpr std::array<uint8_t, kPreloadFileSize> build() {
  std::array<uint8_t, kPreloadFileSize> b{};
  constexpr uint8_t head[] = {'M', 'T',  'h', 'd', 0,   0,   0, 6, 0,    0,    0, 1,
                              0,   0x60, 'M', 'T', 'r', 'k', 0, 0, 0x01, 0x80, 0};
  size_t pos = 0;
  for (const uint8_t x : head) b[pos++] = x;
  for (int program = 0; program < 128; ++program) {
    b[pos++] = 0xC0;
    b[pos++] = uint8_t(program);
    b[pos++] = 0x01;
  }
  for (const uint8_t x : {0x00, 0xFF, 0x2F, 0x00}) b[pos++] = x;
  return b;
}

constexpr std::array<uint8_t, kPreloadFileSize> kBytes = build();

}  // namespace

const std::array<uint8_t, kPreloadFileSize>& preloadFileBytes() {
  return kBytes;
}

}  // namespace midi
