// Keeps non-finite samples out of the engine: a NaN or an infinity that a file carries (a float
// WAV written by a broken program) would otherwise lodge in every filter it passes and silence
// the rest of the song.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace audiolib {

// Replaces every NaN and ±infinity among `count` samples by 0, in place; true when there was
// one. A test of the exponent bits, which the compiler turns into a few vector instructions.
inline bool zeroNonFinite(float* samples, size_t count) {
  uint32_t bad = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t bits = std::bit_cast<uint32_t>(samples[i]);
    const bool nonFinite = (bits & 0x7f800000u) == 0x7f800000u;
    bad |= nonFinite;
    samples[i] = nonFinite ? 0.0f : samples[i];
  }
  return bad != 0;
}

}  // namespace audiolib
