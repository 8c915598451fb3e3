#include "modDSPtest.h"

#include <algorithm>
#include <atomic>
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

void removeCentre(float* frames, size_t count, float voice) {
  if (!(voice > 0)) return removeCentre(frames, count);
  const float keep = 1.0f - voice;
  for (size_t i = 0; i < 2 * count; i += 2) {
    const float t = (frames[i + 1] - frames[i]) * 0.5f * keep;
    frames[i] = t + voice * frames[i];
    frames[i + 1] = t + voice * frames[i + 1];
  }
}

void removeCentre(int16_t* frames, size_t count, float voice) {
  if (!(voice > 0)) return removeCentre(frames, count);
  const float keep = 1.0f - voice;
  for (size_t i = 0; i < 2 * count; i += 2) {
    const float t = (float(frames[i + 1]) - float(frames[i])) * 0.5f * keep;
    for (size_t c = 0; c < 2; ++c)
      frames[i + c] =
          int16_t(std::clamp<long>(std::lrint(t + voice * float(frames[i + c])), -32768, 32767));
  }
}

}  // namespace player

void VocalRemoverProc(HDSP handle, DWORD channel, void* buffer, DWORD length, void* user) {
  BASS_CHANNELINFO info{};
  const bool floatBlock = BASS_GetConfig(BASS_CONFIG_FLOATDSP) == 1 ||
                          (BASS_ChannelGetInfo(channel, &info) && (info.flags & BASS_SAMPLE_FLOAT));
  const float voice =
      user ? std::clamp(static_cast<const std::atomic<float>*>(user)->load(std::memory_order_relaxed),
                        0.0f, 1.0f)
           : 0.0f;
  if (floatBlock)
    player::removeCentre(static_cast<float*>(buffer), length / (2 * sizeof(float)), voice);
  else
    player::removeCentre(static_cast<int16_t*>(buffer), length / (2 * sizeof(int16_t)), voice);
}
