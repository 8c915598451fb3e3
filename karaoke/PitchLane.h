// What the pitch lane shows at a moment of the song: the melody's notes as bars moving from
// right to left past the "now" line, and the singer's pitch drawn over them, each estimate
// moved by whole octaves onto the note sung at its time (a man singing an octave down is on
// the line). Positions are fractions of the lane: x from its left (0) to its right (1), keys
// between the lane's bottom (lowKey) and top (highKey).
#pragma once

#include <span>
#include <vector>

#include "LiveSinging.h"
#include "Melody.h"

namespace karaoke {

constexpr double kLaneBehindMs = 1500;  // song time shown left of the now line
constexpr double kLaneAheadMs = 4500;   // and right of it
constexpr double kLaneMinKeys = 12;     // the lane spans at least an octave
constexpr double kLaneMarginKeys = 2;   // room above the highest note and below the lowest

struct LaneBar {
  double x0 = 0, x1 = 0;  // clipped to the lane
  int key = 60;
  bool now = false;  // sounding at the now line
};

struct LaneDot {
  double x = 0;
  double key = 60;  // fractional, folded onto the note of its time
};

struct LaneFrame {
  double lowKey = 0, highKey = 0;  // the same for the whole song: bars do not jump
  double nowX = kLaneBehindMs / (kLaneBehindMs + kLaneAheadMs);
  std::vector<LaneBar> bars;
  std::vector<LaneDot> sung;
};

// The lane at song time `songMs` (the song's own tempo) of `melody` (in the same time, its keys
// as written) played `transpose` semitones away; `sung` in song time, by time.
LaneFrame laneAt(const singing::Melody& melody, int transpose,
                 std::span<const singing::SungPoint> sung, double songMs);

}  // namespace karaoke
