// The lyrics of a karaoke MIDI file (.kar, or a .mid with lyric events) in the timed-lyrics
// model: the song's lyric table grouped into lines, timed in the file's own tempo.
#pragma once

#include <cstdint>
#include <span>

#include "Lyrics.h"
#include "TimedLyrics.h"

namespace karaoke {

// How long a line's last syllable is lit at most: nothing in the lyric track says when it
// ends, and the next line can be a whole verse away.
constexpr double kMaxLastKarSyllableMs = 1500;

// The lines of `table`: each syllable from its own start to the next syllable's, a line's
// last one to the next line's first or kMaxLastKarSyllableMs; lines without a syllable are
// left out.
TimedLyrics karLyricsOf(const midi::LyricTable& table);

// The song's lyrics, with the title and artist of its "@T" header texts (the first two).
TimedLyrics karLyrics(std::span<const uint8_t> file);

}  // namespace karaoke
