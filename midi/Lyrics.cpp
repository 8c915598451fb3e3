#include "Lyrics.h"

#include <algorithm>

namespace midi {

namespace {

using Bytes = std::span<const uint8_t>;

int characters(const std::string& utf8) {
  return int(std::count_if(utf8.begin(), utf8.end(),
                           [](char ch) { return (uint8_t(ch) & 0xC0) != 0x80; }));
}

uint8_t at(Bytes b, size_t pos) {
  return pos < b.size() ? b[pos] : 0;
}

size_t nextFF(Bytes b, size_t from) {
  if (from >= b.size()) return std::string::npos;
  const auto it = std::find(b.begin() + std::ptrdiff_t(from), b.end(), uint8_t(0xFF));
  return it == b.end() ? std::string::npos : size_t(it - b.begin());
}

// The text of the candidate event at the FF byte `p` when it is a text of `type`: the length
// byte's count of bytes (what is there when the data ends first), empty for "@" header lines;
// in UTF-8 whichever encoding the file used.
std::string candidateText(Bytes source, size_t p, uint8_t type) {
  if (at(source, p + 1) != type || at(source, p + 3) == '@') return {};
  const size_t begin = std::min(p + 3, source.size());
  const size_t length = std::min<size_t>(at(source, p + 2), source.size() - begin);
  return songTextToUtf8(source.subspan(begin, length));
}

bool hasTexts(Bytes source, uint8_t type) {
  for (size_t p = nextFF(source, 0); p != std::string::npos; p = nextFF(source, p + 1))
    if (!candidateText(source, p, type).empty()) return true;
  return false;
}

// Whether a file without a lyric track still carries lyrics: lyric events, or texts that
// break lines as karaoke texts do. A song's other texts (its name, a copyright, a note of the
// arranger) are no lyrics and are not lit as if they were.
bool carriesLyrics(Bytes file) {
  if (hasTexts(file, 0x05)) return true;
  for (size_t p = nextFF(file, 0); p != std::string::npos; p = nextFF(file, p + 1)) {
    const std::string text = candidateText(file, p, 0x01);
    if (!text.empty() && (text[0] == '/' || text[0] == '\\')) return true;
  }
  return false;
}

std::string trimSpaces(const std::string& s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string trimLeft(const std::string& s) {
  const size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string{} : s.substr(b);
}

}  // namespace

LyricTable GetWords(Bytes source, const TickMap& ticks, const TempoMap& tempo) {
  // Karaoke files of today carry their syllables as lyric events and leave FF 01 to headers.
  const uint8_t type = !hasTexts(source, 0x01) && hasTexts(source, 0x05) ? 0x05 : 0x01;

  LyricTable table;
  std::vector<size_t> positions;
  int line = 0;
  int col = 0;
  for (size_t p = nextFF(source, 0); p != std::string::npos && positions.size() < kMaxLyricEvents;
       p = nextFF(source, p + 1)) {
    std::string text = candidateText(source, p, type);
    const std::string t = trimSpaces(text);
    LyricEvent e;
    if (t == "\\" || t == "/") {
      col = 0;
      text.clear();
      table.lyricLines.emplace_back();
      e.line = ++line;
    } else if (!text.empty() && (text[0] == '/' || text[0] == '\\')) {
      col = 0;
      text = trimLeft(text.substr(1));
      table.lyricLines.push_back(text);
      e.line = ++line;
    } else {
      table.lyricLines[size_t(line)] += text;
      e.line = line;
    }
    e.column = col;
    e.textLength = characters(text);
    e.text = std::move(text);
    col += e.textLength;
    table.lyricEvents.push_back(std::move(e));
    positions.push_back(p);
  }

  // Each event waits for the start of the next one; the last one for its own end.
  for (size_t k = 0; k < positions.size(); ++k) {
    LyricEvent& e = table.lyricEvents[k + 1];
    const uint64_t start = ticks.tickAt(positions[k]);
    e.tick = k + 1 < positions.size() ? ticks.tickAt(positions[k + 1])
                                      : start + ticks.followingDelta(positions[k]).value_or(0);
    e.time = tempo.ticksToMs(e.tick);
    e.duration = e.time - tempo.ticksToMs(start);
  }
  // The empty element before the first event waits, like the others, for the start of the
  // event after it: so the first syllable is lit when it begins, not skipped.
  if (!positions.empty()) {
    table.lyricEvents[0].tick = ticks.tickAt(positions[0]);
    table.lyricEvents[0].time = tempo.ticksToMs(table.lyricEvents[0].tick);
  }
  return table;
}

LyricTable songLyrics(Bytes file, const LyricSource& source) {
  if (file.size() > kMaxSongFileBytes) return {};
  const Bytes bytes = source.bytes(file);
  if (source.kind == LyricSourceKind::WholeFile && !carriesLyrics(bytes)) return {};
  const TickMap ticks =
      source.kind == LyricSourceKind::WholeFile ? TickMap::ofFile(file) : TickMap::ofTrack(bytes);
  return GetWords(bytes, ticks, TempoMap::ofFile(file));
}

int fitFontSize(const std::vector<std::string>& lines, int widthLimit,
                const std::function<int(const std::string& line, int pointSize)>& textWidth) {
  constexpr int kStart = 36;
  if (lines.empty()) return kStart;
  size_t widest = 0;
  int widestWidth = textWidth(lines[0], kStart);
  for (size_t i = 1; i < lines.size(); ++i) {
    const int w = textWidth(lines[i], kStart);
    if (w > widestWidth) {
      widest = i;
      widestWidth = w;
    }
  }
  int size = kStart;
  while (size > 1 && textWidth(lines[widest], size) >= widthLimit - 10) --size;
  return size;
}

}  // namespace midi
