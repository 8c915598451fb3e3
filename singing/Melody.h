// The melody of a MIDI song: the notes the singer is meant to sing, in milliseconds of the
// song's own tempo, one at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Lyrics.h"

namespace singing {

struct MelodyNote {
  double startMs = 0;
  double endMs = 0;
  int key = 60;  // MIDI note number
};

struct Melody {
  std::vector<MelodyNote> notes;  // by start, never overlapping
  int track = 0;                  // 1-based track of the file
  int channel = 0;                // 0..15
  bool wordsTrack = false;        // the notes are those of the track that carries the words
  double syllableMatch = 0;       // share of syllables with a note starting within 50 ms
};

// A syllable with a note starting this close to it counts as sung on that note.
constexpr double kSyllableNoteMs = 50.0;
// A track or channel is the melody only when at least this share of syllables matches it.
constexpr double kMinSyllableMatch = 0.5;

// A syllable shows text: something else than spaces and line-break marks.
bool showsText(const std::string& text);

// The start (ms) of every syllable of the table that shows some text.
std::vector<double> syllableStarts(const midi::LyricTable& table);

// The melody of `file` read with the lyric source the player uses: the notes of the track that
// carries the words when they are all on one channel; otherwise the track and channel (drums on
// channel 10 excluded) whose note onsets best match the syllables, when at least
// kMinSyllableMatch of them do. Overlapping notes are made monophonic: a note that starts ends
// the one sounding, and of notes starting together the highest is kept. nullopt, with the
// reason in *whyNot, for a song without words or without a matching part.
std::optional<Melody> songMelody(std::span<const uint8_t> file, std::string* whyNot = nullptr);

}  // namespace singing
