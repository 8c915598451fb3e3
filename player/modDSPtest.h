// The vocal remover: a DSP callback on the song's first stream that replaces every stereo
// frame by half the difference of its channels, so whatever sits in the centre cancels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bass.h"

// The library's DSP callback. Float blocks as a rule (the player asks for float DSP); a
// 16-bit block is handled the same way on integers. `user`, when set, points to the guide
// voice's share (a std::atomic<float>, 0..1) of the song as it was to blend back in.
void VocalRemoverProc(HDSP handle, DWORD channel, void* buffer, DWORD length, void* user);

namespace player {
// Each of the `frames` stereo frames becomes ((R - L) / 2, (R - L) / 2), in place.
void removeCentre(float* frames, size_t count);
void removeCentre(int16_t* frames, size_t count);
// The same, with `voice` (0..1) of each frame as it was blended back: (1 - voice) of the side
// signal plus `voice` of the frame.
void removeCentre(float* frames, size_t count, float voice);
void removeCentre(int16_t* frames, size_t count, float voice);
}  // namespace player
