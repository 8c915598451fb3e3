#include "SongScanner.h"

#include <algorithm>
#include <cmath>

#include "SmfTrack.h"

namespace midi {

namespace {

using Bytes = std::span<const uint8_t>;

// Positions past the end read as 0, as the scanner's string reads give empty characters there.
uint8_t at(Bytes b, size_t pos) {
  return pos < b.size() ? b[pos] : 0;
}

uint32_t be(Bytes b, size_t pos, int count) {
  uint32_t v = 0;
  for (int i = 0; i < count; ++i) v = (v << 8) | at(b, pos + size_t(i));
  return v;
}

// The first position at or after `from` where `pattern` starts, or npos.
size_t findBytes(Bytes b, std::initializer_list<uint8_t> pattern, size_t from) {
  if (from >= b.size()) return std::string::npos;
  const auto it =
      std::search(b.begin() + std::ptrdiff_t(from), b.end(), pattern.begin(), pattern.end());
  return it == b.end() ? std::string::npos : size_t(it - b.begin());
}

// Channel searches start at the 22nd byte, past the header and the first track's chunk header.
constexpr size_t kChannelSearchStart = 21;
constexpr size_t kFirstTrack = 14;
constexpr int kTextTrackEvents = 50;

double ticksPerSixteenthOf(Bytes file) {
  return ticksPerQuarter(file) / 4.0;
}

Bytes withinLimit(Bytes file) {
  return file.size() > kMaxSongFileBytes ? Bytes{} : file;
}

SongTiming timingFor(double tempoMicros, double ticksPerSixteenth) {
  SongTiming t;
  t.tempoMicros = tempoMicros;
  t.ticksPerSixteenth = ticksPerSixteenth;
  t.songBpm = std::round(60000000.0 / tempoMicros * 100.0) / 100.0;
  t.msPerTick = (tempoMicros / ticksPerSixteenth) / 4000.0;
  return t;
}

}  // namespace

SongTiming fallbackTiming(Bytes file) {
  file = withinLimit(file);
  return timingFor(kDefaultTempoMicros, ticksPerSixteenthOf(file));
}

std::string describe(const LyricSource& source) {
  switch (source.kind) {
    case LyricSourceKind::WordsTrack:
      return "track " + std::to_string(source.track) + " (Words)";
    case LyricSourceKind::TextTrack:
      return "track " + std::to_string(source.track) + " (50 text events)";
    case LyricSourceKind::WholeFile:
      break;
  }
  return "whole file";
}

LyricSource findLyricSource(Bytes file) {
  file = withinLimit(file);
  const int trackCount = int(be(file, 10, 2));
  size_t pos = kFirstTrack;
  for (int t = 1; t <= trackCount && pos < file.size(); ++t) {
    const size_t len = be(file, pos + 4, 4);
    const size_t begin = std::min(pos + 8, file.size());
    const size_t length = std::min(len, file.size() - begin);
    const Bytes data = file.subspan(begin, length);
    if (findBytes(data, {0xFF, 0x03, 0x05, 'W', 'o', 'r', 'd', 's'}, 0) != std::string::npos)
      return {LyricSourceKind::WordsTrack, t, begin, length};
    int texts = 0;
    for (size_t q = findBytes(data, {0xFF, 0x01}, 0);
         q != std::string::npos && texts < kTextTrackEvents;
         q = findBytes(data, {0xFF, 0x01}, q + 1))
      ++texts;
    if (texts == kTextTrackEvents) return {LyricSourceKind::TextTrack, t, begin, length};
    pos = pos + 8 + len;
  }
  return {LyricSourceKind::WholeFile, 0, 0, file.size()};
}

void scanChannels(Bytes file, ChannelTable& table) {
  file = withinLimit(file);
  const auto npos = std::string::npos;
  for (int c = 0; c < kChannelCount; ++c) {
    ChannelState& ch = table[size_t(c)];
    const auto c8 = uint8_t(c);
    ch.inUse = -1;
    if (findBytes(file, {uint8_t(0x90 + c8)}, 0) == npos) continue;
    ch.inUse = int16_t(c + 1);

    // Program 0 is never taken: the search walks past it to the next program change.
    for (size_t q = findBytes(file, {uint8_t(0xC0 + c8)}, kChannelSearchStart); q != npos;
         q = findBytes(file, {uint8_t(0xC0 + c8)}, q + 1)) {
      if (at(file, q + 1) > 0) {
        ch.program = at(file, q + 1);
        break;
      }
    }

    // Volumes 0 and 127 are taken for stray bytes, not real settings.
    ch.volume = 100;
    for (size_t q = findBytes(file, {uint8_t(0xB0 + c8), 0x07}, kChannelSearchStart); q != npos;
         q = findBytes(file, {uint8_t(0xB0 + c8), 0x07}, q + 1)) {
      const uint8_t v = at(file, q + 2);
      if (v >= 1 && v <= 126) {
        ch.volume = v;
        break;
      }
    }

    // One second chance for an implausible pan, taken without further test.
    const size_t q = findBytes(file, {uint8_t(0xB0 + c8), 0x0A}, kChannelSearchStart);
    if (q != npos) {
      ch.pan = at(file, q + 2);
      if (ch.pan == 0 || ch.pan >= 128) {
        const size_t next = findBytes(file, {uint8_t(0xB0 + c8), 0x0A}, q + 1);
        if (next != npos) ch.pan = at(file, next + 2);
      }
    }
  }
}

SongScan scanSong(Bytes file, const std::optional<SongTiming>& previous) {
  SongScan s;
  s.tooLarge = file.size() > kMaxSongFileBytes;
  file = withinLimit(file);
  s.smfFormat = int(be(file, 8, 2));
  s.trackCount = int(be(file, 10, 2));

  const size_t p = findBytes(file, {0xFF, 0x51}, 0);
  s.tempoFound = p != std::string::npos;
  if (s.tempoFound) {
    const uint32_t micros = be(file, p + 3, 3);
    s.timing = timingFor(micros > 0 ? micros : kDefaultTempoMicros, ticksPerSixteenthOf(file));
  } else {
    s.timing = previous ? *previous : fallbackTiming(file);
  }

  s.lyricSource = findLyricSource(file);
  resetChannelTable(s.channels);
  scanChannels(file, s.channels);
  return s;
}

}  // namespace midi
