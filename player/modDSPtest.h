// The vocal remover: a DSP callback on the song's first stream that replaces every stereo
// frame by half the difference of its channels, so whatever sits in the centre cancels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bass.h"

// The library's DSP callback. Float blocks as a rule (the player asks for float DSP); a
// 16-bit block is handled the same way on integers.
void VocalRemoverProc(HDSP handle, DWORD channel, void* buffer, DWORD length, void* user);

namespace player {
// Each of the `frames` stereo frames becomes ((R - L) / 2, (R - L) / 2), in place.
void removeCentre(float* frames, size_t count);
void removeCentre(int16_t* frames, size_t count);
}  // namespace player
