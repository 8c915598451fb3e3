// The lyric table on any bytes, as a scanned song and as a bare lyric source: every event
// points into its line, times are finite, the table stays within its bound, and the font
// fitting ends.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>

#include "InputFile.h"
#include "Lyrics.h"
#include "SongScanner.h"

namespace {

int characters(const std::string& utf8) {
  return int(std::count_if(utf8.begin(), utf8.end(),
                           [](char ch) { return (uint8_t(ch) & 0xC0) != 0x80; }));
}

void checkTable(const midi::LyricTable& table) {
  fuzz::require(!table.lyricEvents.empty() && !table.lyricLines.empty());
  fuzz::require(table.lyricEvents.size() <= midi::kMaxLyricEvents + 1);
  for (size_t k = 1; k < table.lyricEvents.size(); ++k) {
    const midi::LyricEvent& e = table.lyricEvents[k];
    fuzz::require(e.line >= 0 && size_t(e.line) < table.lyricLines.size());
    fuzz::require(e.textLength == characters(e.text));
    fuzz::require(e.column >= 0 &&
                  e.column + e.textLength <= characters(table.lyricLines[size_t(e.line)]));
    fuzz::require(std::isfinite(e.time) && std::isfinite(e.duration));
  }
  const int size = midi::fitFontSize(table.lyricLines, 400, [](const std::string& line, int pt) {
    return characters(line) * pt / 2;
  });
  fuzz::require(size >= 1 && size <= 36);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const midi::SongScan scan = midi::scanSong(bytes, std::nullopt);
  checkTable(midi::songLyrics(bytes, scan.lyricSource));
  checkTable(midi::GetWords(bytes, midi::TickMap::ofTrack(bytes), midi::TempoMap::ofFile(bytes)));
  return 0;
}
