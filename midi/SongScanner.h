// The song file scanner: the facts the sequencer does not report (first tempo, division, the
// lyric track, each channel's first instrument, volume and pan), found by walking the track
// chunk headers and searching raw bytes. It is a byte scanner, not an event parser, so bytes
// inside texts or system exclusive data can count as hits.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "Patches.h"

namespace midi {

// The timing fields the lyric display and the sequencer timers read.
struct SongTiming {
  double ticksPerSixteenth = 0;  // header division / 4
  double tempoMicros = 0;        // first Set Tempo, microseconds per quarter note
  double songBpm = 0;            // 60000000 / tempoMicros, rounded to two decimals
  double msPerTick = 0;          // (tempoMicros / ticksPerSixteenth) / 4000
};

// What a song without any tempo gets when no earlier song left values behind.
SongTiming fallbackTiming(std::span<const uint8_t> file);

enum class LyricSourceKind {
  WordsTrack,  // a track named "Words"
  TextTrack,   // the first track with 50 text events
  WholeFile,   // no track qualified
};

struct LyricSource {
  LyricSourceKind kind = LyricSourceKind::WholeFile;
  int track = 0;      // 1-based track number, 0 for the whole file
  size_t offset = 0;  // the source's bytes in the file
  size_t length = 0;
  // Clipped to `file`, so a source kept from another file reads as what of it is there.
  std::span<const uint8_t> bytes(std::span<const uint8_t> file) const {
    const size_t begin = std::min(offset, file.size());
    return file.subspan(begin, std::min(length, file.size() - begin));
  }
};

// "track 2 (Words)", "track 3 (50 text events)" or "whole file".
std::string describe(const LyricSource& source);

struct SongScan {
  bool tooLarge = false;  // the file is larger than kMaxSongFileBytes and was read as empty
  int smfFormat = 0;
  int trackCount = 0;
  bool tempoFound = false;  // the file has an FF 51; otherwise `timing` is the previous one
  SongTiming timing;
  LyricSource lyricSource;
  ChannelTable channels;  // the table as reset before reading, then filled from the file
};

// Scans a whole song file. `previous` holds the timing left by the last song read; a file
// without a tempo keeps it, or gets the fallback (120 bpm) when there is none. Here and in the
// functions below, a file larger than kMaxSongFileBytes reads as an empty one.
SongScan scanSong(std::span<const uint8_t> file, const std::optional<SongTiming>& previous);

// The channel part of the scan, applied to `table` in place: inUse, program, volume and pan of
// the channels whose Note On status byte occurs anywhere in the file.
void scanChannels(std::span<const uint8_t> file, ChannelTable& table);

// The lyric source part of the scan.
LyricSource findLyricSource(std::span<const uint8_t> file);

}  // namespace midi
