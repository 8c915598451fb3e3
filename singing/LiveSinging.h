// A take's singing as it comes in: the estimates of the live pitch tracker kept for the pitch
// lane (by song time) and scored against the melody; each line's score as soon as its last
// note is over, the take's score so far at any moment. Everything runs on one thread (the
// window's), after the estimates left the analysis worker.
#pragma once

#include <span>
#include <vector>

#include "Lyrics.h"
#include "Melody.h"
#include "PitchTracker.h"
#include "Score.h"

namespace singing {

// One estimate where the lane draws it: at the song time (the song's own tempo) it was sung.
struct SungPoint {
  double songMs = 0;
  float hz = 0;  // 0 = no pitch
};

class LiveSinging {
 public:
  // `melody` in the song's own time; `moves` the key and tempo the song is played at; `rate`
  // the take's, whose sample 0 is the song's first heard frame.
  LiveSinging(Melody melody, midi::LyricTable lyrics, SongMoves moves, int rate);

  // The next estimates, in order of their samples.
  void add(std::span<const PitchPoint> points);
  // The song's key or tempo moved while the take runs: the melody still to come moves with it.
  void move(const SongMoves::Change& change);
  // The lines whose last note is over by the latest estimate and were not given yet, scored.
  std::vector<LineScore> linesOver();
  // The take so far, scored over the whole melody (what is still to come counts as unsung).
  TakeScore score() const;

  const std::vector<SungPoint>& sung() const { return sung_; }
  const Melody& melody() const { return melody_; }
  const SongMoves& moves() const { return moves_; }
  // The latest estimate's time as heard, in ms of the take; -1 before the first.
  double heardMs() const;

 private:
  void placeLines();

  Melody melody_;
  midi::LyricTable lyrics_;
  SongMoves moves_;
  int rate_;
  std::vector<PitchPoint> points_;
  std::vector<SungPoint> sung_;
  std::vector<double> lineEndMs_;  // per line in time order: its last note's end as heard
  std::vector<bool> lineGiven_;
};

}  // namespace singing
