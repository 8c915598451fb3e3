// The round trip through the singer's speakers and microphone: a train of clicks is played,
// the microphone's capture is searched for it, and the delay between where the clicks were
// meant to be heard and where they were captured is the latency the sound server's own
// figures do not know (the air, the sound card's converters, a loopback in between).
#pragma once

#include <optional>
#include <span>
#include <vector>

namespace singing {

struct ClickTrain {
  int count = 5;            // clicks played
  double spacingMs = 700;   // from one click's start to the next
  double firstMs = 0;       // where the first click lies in the capture with no delay at all
  double minDelayMs = -50;  // the delays searched
  double maxDelayMs = 500;
};

// Clicks this long (a windowed 2 kHz burst, peak 0.5) are played; `click` writes one at `rate`.
constexpr double kClickMs = 2.0;
std::vector<float> clickSound(int rate);

// The delay (ms) of `train` in `captured` (mono, `rate`): the shift at which the clicks'
// onsets line up best, refined to the median of the clicks heard one by one. nullopt when
// fewer than three quarters of the clicks stand out of the signal's noise at that shift (the
// speakers were not heard: headphones, a muted microphone). The spacing must exceed the
// searched range, or the train would match itself one click over.
std::optional<double> findClickDelayMs(std::span<const float> captured, int rate,
                                       const ClickTrain& train);

}  // namespace singing
