// The 44-byte header of a PCM WAV file, as the recorder and the CD ripper write it: format
// tag 1, `channels` (at most 2), `rate`, `bits`, the RIFF size dataBytes + 36 and the data
// size dataBytes, little-endian.
#pragma once

#include <array>
#include <cstdint>

namespace audiolib {

std::array<uint8_t, 44> wavHeader(int channels, uint32_t rate, int bits, uint32_t dataBytes);

}  // namespace audiolib
