// What the singer's screen shows at a moment of the song: the line being sung with each
// syllable's lit part, the line after it, the title before the first line, a count-in before a
// line that comes after a long rest, and the time left. The window paints the frame it gets.
#pragma once

#include <string>
#include <vector>

#include "TimedLyrics.h"

namespace karaoke {

// A rest before a line at least this long earns the line a count-in; so does the first line.
constexpr double kCountInGapMs = 3000;
constexpr int kCountInBeats = 3;  // one a second: 3, 2, 1

struct SingerFrame {
  bool showTitle = false;  // before the first line
  std::string title;
  std::string artist;
  int currentLine = -1;  // index into the lines, -1 when none is shown
  int nextLine = -1;
  std::vector<double> lit;  // per syllable of the current line, 0..1 as sung
  int countIn = 0;          // 3, 2, 1 in the seconds before nextLine's (or currentLine's) start
  double timeLeftMs = 0;    // of the song, from its length
};

// The frame at song time `tMs`. The current line is the one sung, or, once it is over, the one
// to come (all unlit) so the singer reads ahead; the last line stays shown, lit, at the end.
SingerFrame presentAt(const TimedLyrics& lyrics, double tMs, double songLengthMs);

}  // namespace karaoke
