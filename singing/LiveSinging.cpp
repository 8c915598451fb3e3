#include "LiveSinging.h"

#include <algorithm>

namespace singing {

LiveSinging::LiveSinging(Melody melody, midi::LyricTable lyrics, SongMoves moves, int rate)
    : melody_(std::move(melody)),
      lyrics_(std::move(lyrics)),
      moves_(std::move(moves)),
      rate_(rate) {
  placeLines();
  points_.reserve(size_t(kStepsPerSecond) * 600);
  sung_.reserve(points_.capacity());
}

void LiveSinging::placeLines() {
  const std::vector<LineStart> starts = lineStarts(lyrics_, moves_);
  lineEndMs_.assign(starts.size(), -1);
  for (const MelodyNote& n : moved(melody_, moves_).notes) {
    if (starts.empty()) break;
    double& end = lineEndMs_[lineOfNote(starts, n.startMs)];
    end = std::max(end, n.endMs);
  }
  // A line without notes has nothing to score.
  lineGiven_.resize(starts.size(), false);
  for (size_t i = 0; i < starts.size(); ++i)
    if (lineEndMs_[i] < 0) lineGiven_[i] = true;
}

void LiveSinging::move(const SongMoves::Change& change) {
  moves_.changes.push_back(change);
  placeLines();
}

void LiveSinging::add(std::span<const PitchPoint> points) {
  for (const PitchPoint& p : points) {
    points_.push_back(p);
    sung_.push_back({moves_.songMs(double(p.sample) * 1000.0 / rate_), p.hz});
  }
}

double LiveSinging::heardMs() const {
  return points_.empty() ? -1 : double(points_.back().sample) * 1000.0 / rate_;
}

std::vector<LineScore> LiveSinging::linesOver() {
  const double now = heardMs();
  std::vector<size_t> over;
  for (size_t i = 0; i < lineEndMs_.size(); ++i)
    if (!lineGiven_[i] && lineEndMs_[i] <= now) over.push_back(i);
  if (over.empty()) return {};
  const TakeScore s = score();
  std::vector<LineScore> given;
  for (size_t i : over) {
    lineGiven_[i] = true;
    given.push_back(s.lines[i]);
  }
  return given;
}

TakeScore LiveSinging::score() const {
  return scoreTake(melody_, lyrics_, points_, rate_, moves_);
}

}  // namespace singing
