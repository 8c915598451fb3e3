// The score of a take: every 10 ms inside a melody note earns credit by how close the sung
// pitch is to the note, whatever the octave; each lyric line and the whole song out of 10 000.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Lyrics.h"
#include "Melody.h"
#include "PitchTracker.h"

namespace singing {

constexpr int kMaxScore = 10000;
constexpr double kStepMs = 1000.0 / kStepsPerSecond;
constexpr double kFullCreditSemitones = 0.5;  // within this, full credit
constexpr double kNoCreditSemitones = 1.5;    // from this on, none

// How the song was played under the take: its key moved by `transpose` semitones, its tempo
// multiplied by `tempo` (1.25 = 125 %) from its start, and moved again while the take ran.
struct SongMoves {
  int transpose = 0;
  double tempo = 1.0;
  // From song time `songMs` on (the song's own time), the song plays at these.
  struct Change {
    double songMs = 0;
    int transpose = 0;
    double tempo = 1.0;
  };
  std::vector<Change> changes;  // in the order made; a change earlier than the last counts at it

  // The take's time (ms as heard) of song time `songMs`, and back; the key moved at `songMs`.
  double heardMs(double songMs) const;
  double songMs(double heardMs) const;
  int transposeAt(double songMs) const;
};

// The sung pitch's distance from `key` in semitones, folded into [-6, 6) (octaves ignored).
double foldedError(double sungHz, double key);
// The credit of one step: 1 within kFullCreditSemitones, falling linearly to 0 at
// kNoCreditSemitones; 0 without a pitch (sungHz <= 0).
double stepCredit(double sungHz, double key);
// The sung pitch as a key number moved by whole octaves into [key - 6, key + 6): where the
// singing lane draws it against the current note. nullopt without a pitch.
std::optional<double> laneKey(double sungHz, double key);

// The melody as heard at those moves: times as heard, keys moved as at each note's start.
Melody moved(const Melody& melody, const SongMoves& moves);

struct LineScore {
  int line = 0;  // index into the table's lyricLines
  std::string text;
  int steps = 0;             // 10 ms steps of the line's notes
  std::optional<int> score;  // 0..kMaxScore, nullopt for a line without notes
};

struct TakeScore {
  std::vector<LineScore> lines;  // lines that show words, in time order
  int steps = 0;
  int total = 0;  // 0..kMaxScore over all note steps
};

// A line that shows words: its start (ms as heard at the moves) and its index into the table's
// lyricLines.
struct LineStart {
  double ms = 0;
  int line = 0;
};
// The lines that show words, in time order; each starts with its first syllable showing text.
std::vector<LineStart> lineStarts(const midi::LyricTable& lyrics, const SongMoves& moves);
// The index into `starts` of the line a note starting at `ms` belongs to: the line whose words
// start last at or before it (notes before the first words belong to the first line).
size_t lineOfNote(const std::vector<LineStart>& starts, double ms);

// Scores `pitch` (a take's estimates, sorted by sample, at `rate`; the take's sample 0 is the
// song's first heard frame) against the melody played with `moves`. A note belongs to the line
// whose words start last at or before it (notes before the first words to the first line).
TakeScore scoreTake(const Melody& melody, const midi::LyricTable& lyrics,
                    std::span<const PitchPoint> pitch, int rate, const SongMoves& moves = {});

}  // namespace singing
