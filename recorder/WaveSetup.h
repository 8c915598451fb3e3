// The recording formats of the wave set-up list, and the format the next recording takes.
#pragma once

#include <array>
#include <optional>

#include "Capture.h"

namespace recorder {

struct WaveSetupItem {
  const char* text;
  std::optional<audiolib::CaptureFormat> format;  // none: the item changes nothing
};

// The list's items in order; item 0 is a heading that sets nothing.
extern const std::array<WaveSetupItem, 12> kWaveSetupItems;

// The program-wide recording format (44.1 kHz, stereo, 16 bits until the list sets another).
audiolib::CaptureFormat& recordingFormat();

}  // namespace recorder
