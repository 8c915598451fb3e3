#include "SingerPresenter.h"

#include <algorithm>
#include <cmath>

namespace karaoke {

namespace {

double litFraction(const Syllable& s, double t) {
  if (t < s.startMs) return 0;
  if (t >= s.endMs) return 1;
  return std::clamp((t - s.startMs) / (s.endMs - s.startMs), 0.0, 1.0);
}

}  // namespace

SingerFrame presentAt(const TimedLyrics& lyrics, double tMs, double songLengthMs) {
  SingerFrame f;
  f.title = lyrics.title;
  f.artist = lyrics.artist;
  f.timeLeftMs = std::max(0.0, songLengthMs - tMs);
  const auto& lines = lyrics.lines;
  const double t = lyricTime(lyrics, tMs);
  if (lines.empty()) {
    f.showTitle = true;
    return f;
  }
  // The first line not yet begun.
  const auto upcoming = std::upper_bound(
      lines.begin(), lines.end(), t, [](double v, const LyricLine& l) { return v < l.startMs(); });
  const int next = int(upcoming - lines.begin());
  if (next == 0) {
    f.showTitle = true;
    f.nextLine = 0;
  } else {
    const int sung = next - 1;
    const bool over = t >= lines[size_t(sung)].endMs();
    f.currentLine = over && next < int(lines.size()) ? next : sung;
    f.nextLine = f.currentLine + 1 < int(lines.size()) ? f.currentLine + 1 : -1;
  }
  if (f.currentLine >= 0) {
    for (const Syllable& s : lines[size_t(f.currentLine)].syllables)
      f.lit.push_back(litFraction(s, t));
  }
  if (next < int(lines.size())) {
    const double start = lines[size_t(next)].startMs();
    const double restBefore = next == 0 ? kCountInGapMs : start - lines[size_t(next - 1)].endMs();
    const double ahead = start - t;
    if (restBefore >= kCountInGapMs && ahead > 0 && ahead <= kCountInBeats * 1000.0)
      f.countIn = int(std::ceil(ahead / 1000.0));
  }
  return f;
}

}  // namespace karaoke
