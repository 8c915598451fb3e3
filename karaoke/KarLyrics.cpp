#include "KarLyrics.h"

#include <algorithm>

#include "SongScanner.h"
#include "SongText.h"

namespace karaoke {

namespace {

struct Placed {
  int line;
  Syllable syllable;
};

}  // namespace

TimedLyrics karLyricsOf(const midi::LyricTable& table) {
  // An event's time is when the one after it starts; its own start is that minus its length.
  std::vector<Placed> placed;
  for (size_t k = 1; k < table.lyricEvents.size(); ++k) {
    const midi::LyricEvent& e = table.lyricEvents[k];
    if (e.text.empty()) continue;
    const double start = e.time - e.duration;
    placed.push_back({e.line, {start, start, e.text}});
  }
  TimedLyrics lyrics;
  for (size_t k = 0; k < placed.size(); ++k) {
    Syllable s = placed[k].syllable;
    const bool lastOfLine = k + 1 == placed.size() || placed[k + 1].line != placed[k].line;
    s.endMs =
        k + 1 < placed.size() ? placed[k + 1].syllable.startMs : s.startMs + kMaxLastKarSyllableMs;
    if (lastOfLine) s.endMs = std::min(s.endMs, s.startMs + kMaxLastKarSyllableMs);
    s.endMs = std::max(s.endMs, s.startMs);
    if (k == 0 || placed[k - 1].line != placed[k].line) lyrics.lines.emplace_back();
    lyrics.lines.back().syllables.push_back(std::move(s));
  }
  return lyrics;
}

TimedLyrics karLyrics(std::span<const uint8_t> file) {
  const midi::SongScan scan = midi::scanSong(file, std::nullopt);
  TimedLyrics lyrics = karLyricsOf(midi::songLyrics(file, scan.lyricSource));
  if (file.size() > midi::kMaxSongFileBytes) return lyrics;
  // Header texts: FF 01 len "@T...". The first names the song, the second its singer.
  int found = 0;
  for (size_t p = 0; p + 3 < file.size() && found < 2; ++p) {
    if (file[p] != 0xFF || file[p + 1] != 0x01 || file[p + 2] >= 0x80) continue;
    const size_t len = std::min<size_t>(file[p + 2], file.size() - (p + 3));
    const auto text = file.subspan(p + 3, len);
    if (len < 2 || text[0] != '@' || text[1] != 'T') continue;
    std::string value = midi::songTextToUtf8(text.subspan(2));
    const size_t b = value.find_first_not_of(' ');
    value = b == std::string::npos ? std::string{}
                                   : value.substr(b, value.find_last_not_of(' ') - b + 1);
    if (value.empty()) continue;
    (found++ == 0 ? lyrics.title : lyrics.artist) = std::move(value);
  }
  return lyrics;
}

}  // namespace karaoke
