// What the MIDI player's sliders ask of the sequencer, for the window and the renderer alike.
#pragma once

#include <cmath>

namespace midi {

// The tempo slider (0..127, 64 = the song's tempo): CInt(v * 30 / 127) steps of 1/15,
// so 64 gives 1.0, 127 gives 2.0 and 0 gives 0 (the sequencer's slowest).
inline float tempoFactor(int slider) {
  const int step = int(std::nearbyint(slider * 30.0 / 127));
  return float(step * 2.0 / 30);
}

// The MIDI level slider (0..100) as the sequencer's master volume in hundredths of a decibel:
// 100 gives -3000, 50 gives -900, 0 gives +1200.
inline long masterVolume(int slider1) {
  return (100 - slider1) * 42L - 3000;
}

}  // namespace midi
