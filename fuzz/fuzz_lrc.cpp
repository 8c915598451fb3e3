// The LRC parser on any bytes: every syllable ends at or after its start, times are finite,
// lines are sorted and never empty, the texts are UTF-8 a window can draw, and the presenter
// reads the result at any moment.
#include <cmath>
#include <cstdint>
#include <span>

#include "InputFile.h"
#include "LrcParser.h"
#include "SingerPresenter.h"
#include "SongText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const karaoke::TimedLyrics l = karaoke::parseLrc(std::span<const uint8_t>(data, size));
  fuzz::require(l.lines.size() <= karaoke::kMaxLrcLines);
  double previous = -INFINITY;
  for (const karaoke::LyricLine& line : l.lines) {
    fuzz::require(!line.syllables.empty());
    fuzz::require(line.startMs() >= previous);
    previous = line.startMs();
    for (const karaoke::Syllable& s : line.syllables) {
      fuzz::require(std::isfinite(s.startMs) && std::isfinite(s.endMs) && s.endMs >= s.startMs);
      const auto* b = reinterpret_cast<const uint8_t*>(s.text.data());
      fuzz::require(s.text.empty() || midi::songTextToUtf8({b, s.text.size()}) == s.text);
    }
  }
  const double end = l.lines.empty() ? 0 : l.lines.back().endMs();
  for (double t : {-1000.0, 0.0, end / 3, end / 2, end + 1}) {
    const karaoke::SingerFrame f = karaoke::presentAt(l, t, end);
    fuzz::require(f.currentLine < int(l.lines.size()) && f.nextLine < int(l.lines.size()));
    fuzz::require(f.countIn >= 0 && f.countIn <= karaoke::kCountInBeats);
    for (double lit : f.lit) fuzz::require(lit >= 0 && lit <= 1);
  }
  return 0;
}
