#include "LrcParser.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "SongText.h"

namespace karaoke {

namespace {

using Bytes = std::span<const uint8_t>;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// "mm:ss", "mm:ss.x", "mm:ss.xx", "mm:ss.xxx" (or ':' before the fraction) in milliseconds.
std::optional<double> parseTime(std::string_view s) {
  size_t i = 0;
  const auto digits = [&](size_t most) {
    const size_t from = i;
    while (i < s.size() && isDigit(s[i]) && i - from < most) ++i;
    return s.substr(from, i - from);
  };
  const std::string_view mm = digits(6);
  if (mm.empty() || i >= s.size() || s[i] != ':') return std::nullopt;
  ++i;
  const std::string_view ss = digits(2);
  if (ss.empty()) return std::nullopt;
  double ms = 0;
  for (char c : mm) ms = ms * 10 + (c - '0');
  ms *= 60000;
  double sec = 0;
  for (char c : ss) sec = sec * 10 + (c - '0');
  ms += sec * 1000;
  if (i < s.size() && (s[i] == '.' || s[i] == ':')) {
    ++i;
    const std::string_view frac = digits(3);
    if (frac.empty()) return std::nullopt;
    double f = 0;
    for (char c : frac) f = f * 10 + (c - '0');
    ms += f * 1000 / std::pow(10.0, double(frac.size()));
  }
  if (i != s.size()) return std::nullopt;
  return ms;
}

std::string_view trim(std::string_view s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::string toUtf8(std::string_view s) {
  return midi::songTextToUtf8(Bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
}

struct Word {
  double startMs;
  std::string text;
};

// A timed line as read: its time, and its words when it carries word times (their times are
// those written, for the line's first time).
struct Entry {
  double startMs;
  double firstLineMs;  // the line's earliest time: repeats shift the word times from it
  std::vector<Word> words;
  std::string text;
  bool wordTimed = false;
  std::optional<double> wordsEndMs;  // a closing word time after the last word
};

// Splits a line's text at its <mm:ss.xx> word times.
void readWords(std::string_view rest, Entry& e) {
  size_t pos = 0;
  std::string pending;  // text before the first word time
  std::optional<double> at;
  std::string text;
  const auto flush = [&]() {
    if (at) {
      if (text.empty() && !e.words.empty())
        e.wordsEndMs = *at;
      else if (!text.empty())
        e.words.push_back({*at, toUtf8(text)}), e.wordsEndMs.reset();
    } else {
      pending += text;
    }
    text.clear();
  };
  while (pos < rest.size()) {
    if (rest[pos] == '<') {
      const size_t close = rest.find('>', pos);
      if (close != std::string_view::npos) {
        if (const auto t = parseTime(rest.substr(pos + 1, close - pos - 1))) {
          flush();
          at = t;
          e.wordTimed = true;
          pos = close + 1;
          continue;
        }
      }
    }
    text += rest[pos++];
  }
  flush();
  // Text before the first word time is sung from the line's start.
  if (!trim(pending).empty() && e.wordTimed)
    e.words.insert(e.words.begin(), Word{-1, toUtf8(pending)});
  e.text = e.wordTimed ? std::string{} : toUtf8(trim(pending));
  if (e.wordTimed && e.words.empty()) e.wordTimed = false;
}

}  // namespace

TimedLyrics parseLrc(Bytes bytes) {
  TimedLyrics lyrics;
  std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (all.starts_with("\xEF\xBB\xBF")) all.remove_prefix(3);
  double offset = 0;
  std::vector<Entry> entries;
  size_t from = 0;
  while (from <= all.size() && entries.size() < kMaxLrcLines) {
    size_t end = all.find('\n', from);
    if (end == std::string_view::npos) end = all.size();
    std::string_view line = all.substr(from, end - from);
    from = end + 1;
    if (line.ends_with('\r')) line.remove_suffix(1);
    line = trim(line);

    std::vector<double> times;
    while (line.starts_with('[')) {
      const size_t close = line.find(']');
      if (close == std::string_view::npos) break;
      const std::string_view tag = line.substr(1, close - 1);
      if (const auto t = parseTime(trim(tag))) {
        times.push_back(*t);
      } else if (times.empty()) {
        const size_t colon = tag.find(':');
        const std::string_view key = trim(tag.substr(0, colon));
        const std::string_view value =
            colon == std::string_view::npos ? std::string_view{} : trim(tag.substr(colon + 1));
        std::string k(key);
        std::transform(k.begin(), k.end(), k.begin(), [](char c) { return char(c | 0x20); });
        if (k == "ti")
          lyrics.title = toUtf8(value);
        else if (k == "ar")
          lyrics.artist = toUtf8(value);
        else if (k == "offset") {
          std::string v(value);
          char* stop = nullptr;
          const double o = std::strtod(v.c_str(), &stop);
          if (stop != v.c_str() && std::isfinite(o) && std::abs(o) < 3.6e6) offset = o;
        }
      } else {
        break;  // a bracket in the words
      }
      line.remove_prefix(close + 1);
    }
    if (times.empty()) continue;
    Entry proto{};
    readWords(line, proto);
    const double first = *std::min_element(times.begin(), times.end());
    for (double t : times) {
      if (entries.size() >= kMaxLrcLines) break;
      Entry e = proto;
      e.startMs = t;
      e.firstLineMs = first;
      entries.push_back(std::move(e));
    }
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.startMs < b.startMs; });

  for (size_t k = 0; k < entries.size(); ++k) {
    const Entry& e = entries[k];
    const double nextStart =
        k + 1 < entries.size() ? entries[k + 1].startMs : e.startMs + kLastLrcLineMs;
    LyricLine line;
    if (e.wordTimed) {
      const double shift = e.startMs - e.firstLineMs;
      for (size_t w = 0; w < e.words.size(); ++w) {
        Syllable s;
        s.startMs = e.words[w].startMs < 0 ? e.startMs : e.words[w].startMs + shift;
        s.text = e.words[w].text;
        line.syllables.push_back(std::move(s));
      }
      for (size_t w = 0; w < line.syllables.size(); ++w) {
        double end = w + 1 < line.syllables.size()
                         ? line.syllables[w + 1].startMs
                         : (e.wordsEndMs ? *e.wordsEndMs + shift
                                         : std::max(nextStart, line.syllables[w].startMs));
        line.syllables[w].endMs = std::max(end, line.syllables[w].startMs);
      }
    } else {
      if (e.text.empty()) continue;  // an empty timed line only ends the one before
      line.syllables.push_back({e.startMs, std::max(nextStart, e.startMs), e.text});
    }
    std::stable_sort(line.syllables.begin(), line.syllables.end(),
                     [](const Syllable& a, const Syllable& b) { return a.startMs < b.startMs; });
    for (Syllable& s : line.syllables) {
      s.endMs = std::max(s.endMs, s.startMs);
      s.startMs -= offset;
      s.endMs -= offset;
    }
    lyrics.lines.push_back(std::move(line));
  }
  // Word times can put a line's first word before the line's own time.
  std::stable_sort(
      lyrics.lines.begin(), lyrics.lines.end(),
      [](const LyricLine& a, const LyricLine& b) { return a.startMs() < b.startMs(); });
  return lyrics;
}

std::optional<std::filesystem::path> findLrcFor(const std::filesystem::path& song) {
  return findBeside(song, {".lrc"});
}

std::optional<TimedLyrics> readLrcFile(const std::filesystem::path& path, std::string* error) {
  const auto bytes = readRegularFile(path, kMaxLrcBytes, error);
  if (!bytes) return std::nullopt;
  return parseLrc(*bytes);
}

}  // namespace karaoke
