// The karaoke commands of orivelR-cli: `lyrics SONG --words` lists a song's timed words (a
// karaoke MIDI file's, or an audio song's from the LRC file beside it), `cdg SONG --at SECONDS
// OUT.png` writes the CD+G picture of an MP3+G song at a moment of the song.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// `lyrics`: with --words one row per syllable, START_MS<TAB>LINE<TAB>TEXT (lines from 1);
// without it the lyric table of runLyrics. 0 on success, 2 for a wrong argument list, 3 when
// the song or its lyrics cannot be read.
int lyricsCommand(const std::vector<std::string>& args);

// `cdg`: 0 on success, 2 for a wrong argument list, 3 when the song cannot be read, 4 when the
// picture cannot be written.
int cdgCommand(const std::vector<std::string>& args);

// An 8-bit RGB PNG of `rgb` (width * height * 3 bytes), its image data in stored deflate
// blocks: no compression library is needed to write it.
std::vector<uint8_t> encodePng(int width, int height, const std::vector<uint8_t>& rgb);

extern const char* const kKaraokeUsage;

}  // namespace cli
