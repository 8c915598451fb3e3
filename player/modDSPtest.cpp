#include "modDSPtest.h"

#include <algorithm>
#include <cmath>

namespace player {

void removeCentre(float* frames, size_t count) {
  for (size_t i = 0; i < 2 * count; i += 2) {
    // The difference of two floats is exact in double; the halved result is rounded once.
    const float t = float((double(frames[i + 1]) - double(frames[i])) / 2.0);
    frames[i] = t;
    frames[i + 1] = t;
  }
}

void removeCentre(int16_t* frames, size_t count) {
  for (size_t i = 0; i < 2 * count; i += 2) {
    const int32_t d = int32_t(frames[i + 1]) - int32_t(frames[i]);
    const int16_t t = int16_t(std::min<long>(std::lrint(d * 0.5), 32767));
    frames[i] = t;
    frames[i + 1] = t;
  }
}

}  // namespace player

void VocalRemoverProc(HDSP handle, DWORD channel, void* buffer, DWORD length, void* user) {
  BASS_CHANNELINFO info{};
  const bool floatBlock = BASS_GetConfig(BASS_CONFIG_FLOATDSP) == 1 ||
                          (BASS_ChannelGetInfo(channel, &info) && (info.flags & BASS_SAMPLE_FLOAT));
  if (floatBlock)
    player::removeCentre(static_cast<float*>(buffer), length / (2 * sizeof(float)));
  else
    player::removeCentre(static_cast<int16_t*>(buffer), length / (2 * sizeof(int16_t)));
}
