// The karaoke lyric table: timed syllables grouped into lines, built from the text events of
// the lyric source, and the fitting of the lyric font to the window's width.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "SmfTrack.h"
#include "SongScanner.h"
#include "SongText.h"

namespace midi {

// Candidate events the table holds at most, one for every 100 ms of 55 minutes; the FF bytes
// of a source after them are not read. Each FF byte of the whole file can be a candidate, so
// without a bound a file of them would cost memory many times its size.
constexpr size_t kMaxLyricEvents = size_t(1) << 15;

struct LyricEvent {
  double time = 0;      // ms at which the next syllable starts
  double duration = 0;  // ms from this syllable's start to the next one's
  std::string text;     // UTF-8, as shown (a leading line-break mark removed)
  int textLength = 0;   // characters of text
  int column = 0;       // characters of the line before this syllable
  int line = 0;         // index into the lines
  uint64_t tick = 0;    // `time` in file ticks
};

struct LyricTable {
  // Index 0 holds no syllable; its time and tick are when the first event starts.
  std::vector<LyricEvent> lyricEvents{LyricEvent{}};
  std::vector<std::string> lyricLines{std::string{}};  // line 0: text before the first break
  void reset() { *this = LyricTable{}; }
};

// Builds the table from `source` (a track's data or the whole file). Every FF byte starts a
// candidate event; text events (FF 01, or FF 05 when the source's FF 01 events carry no text
// but lyric events do) give the syllables, "@" texts and other FF bytes give empty events.
// `ticks` gives the tick of each source byte and `tempo` turns ticks into milliseconds. At most
// kMaxLyricEvents candidates are read.
LyricTable GetWords(std::span<const uint8_t> source, const TickMap& ticks, const TempoMap& tempo);

// The table of a scanned song: its lyric source read with the song's own ticks and tempo map.
// Empty for a file larger than kMaxSongFileBytes, and for a song without a lyric track whose
// texts are no lyrics (no lyric event, no text that starts a line with "/" or "\\").
LyricTable songLyrics(std::span<const uint8_t> file, const LyricSource& source);

// The lyric font size: 36, shrunk one point at a time while the widest line (measured at 36,
// the first one on ties) is not narrower than `widthLimit` - 10; never below 1.
int fitFontSize(const std::vector<std::string>& lines, int widthLimit,
                const std::function<int(const std::string& line, int pointSize)>& textWidth);

}  // namespace midi
