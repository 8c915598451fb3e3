// Measuring the round trip through the speakers and the microphone: a few clicks are played
// through the engine's output while the capture records, and the clicks are looked for in
// what the microphone heard. The delay is measured against the sound server's own figures
// (when the server says the clicks are heard, when it says the microphone took them), so it
// is what a take must be moved by beyond what the server already accounts for.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace recorder {

struct LatencyProbeResult {
  std::optional<double> roundTripMs;  // nullopt: the clicks were not heard, or no device
  std::string why;                    // why not, for the developer's log
};

// Plays the clicks and listens on `source` (a server source name; the default source when
// empty). The engine must be initialised. Blocks for about four seconds, calling `idle` (the
// window's events) between reads of the capture.
LatencyProbeResult measureRoundTrip(const std::string& source,
                                    const std::function<void()>& idle = {});

}  // namespace recorder
