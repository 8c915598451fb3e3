// The timed-lyrics model every lyric source fills (an LRC file, a karaoke MIDI file): the
// song's title and artist and its lines of syllables, timed in milliseconds of song time (the
// song's own tempo), so the player's song position reads them at any key and tempo.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace karaoke {

struct Syllable {
  double startMs = 0;
  double endMs = 0;  // never before startMs
  std::string text;  // UTF-8, with the spaces that separate it from the next word
};

struct LyricLine {
  std::vector<Syllable> syllables;  // never empty, in time order
  double startMs() const { return syllables.front().startMs; }
  double endMs() const;
  std::string text() const;
};

struct TimedLyrics {
  std::string title;
  std::string artist;
  std::vector<LyricLine> lines;  // sorted by start
  // The user's correction for this song: a positive offset shows the words earlier, as LRC's
  // own [offset:] does (that one is already applied to the times).
  double offsetMs = 0;
  bool empty() const { return lines.empty(); }
};

// The lyric time read at song position `songMs`.
inline double lyricTime(const TimedLyrics& lyrics, double songMs) {
  return songMs + lyrics.offsetMs;
}

// The file beside `song` with the same name and one of `extensions` (lower case, with the dot),
// the letters of name and extension in any case: "song.lrc" for "song.mp3", else "Song.LRC".
// An exact match of the name wins; among the others the first in name order. Only regular
// files (or links to them) are found.
std::optional<std::filesystem::path> findBeside(const std::filesystem::path& song,
                                                const std::vector<std::string>& extensions);

// Reads a whole regular file of at most `maxBytes`; nullopt with a reason in *error otherwise.
// A pipe or a device is refused before it is opened, so nothing blocks on it.
std::optional<std::vector<uint8_t>> readRegularFile(const std::filesystem::path& path,
                                                    size_t maxBytes, std::string* error);

}  // namespace karaoke
