#include "PitchLane.h"

#include <algorithm>

#include "Score.h"

namespace karaoke {

namespace {

constexpr double kSpanMs = kLaneBehindMs + kLaneAheadMs;
// An estimate between notes folds onto the nearer neighbour within this much, else onto the
// middle of the lane.
constexpr double kFoldReachMs = 600;

}  // namespace

LaneFrame laneAt(const singing::Melody& melody, int transpose,
                 std::span<const singing::SungPoint> sung, double songMs) {
  LaneFrame f;
  const auto& notes = melody.notes;
  if (notes.empty()) return f;
  const auto [low, high] = std::minmax_element(
      notes.begin(), notes.end(), [](const auto& a, const auto& b) { return a.key < b.key; });
  f.lowKey = low->key + transpose - kLaneMarginKeys;
  f.highKey = high->key + transpose + kLaneMarginKeys;
  if (const double short_ = kLaneMinKeys - (f.highKey - f.lowKey); short_ > 0) {
    f.lowKey -= short_ / 2;
    f.highKey += short_ / 2;
  }
  const double from = songMs - kLaneBehindMs, to = songMs + kLaneAheadMs;
  const auto xOf = [&](double ms) { return (ms - from) / kSpanMs; };

  // Notes are by start and never overlap: the first one still sounding at `from` opens the view.
  auto first = std::partition_point(notes.begin(), notes.end(),
                                    [&](const singing::MelodyNote& n) { return n.endMs <= from; });
  for (auto it = first; it != notes.end() && it->startMs < to; ++it)
    f.bars.push_back({std::max(0.0, xOf(it->startMs)), std::min(1.0, xOf(it->endMs)),
                      it->key + transpose, it->startMs <= songMs && songMs < it->endMs});

  const double middle = (f.lowKey + f.highKey) / 2;
  auto point = std::partition_point(sung.begin(), sung.end(),
                                    [&](const singing::SungPoint& p) { return p.songMs < from; });
  auto note = first;
  for (; point != sung.end() && point->songMs <= songMs; ++point) {
    if (!(point->hz > 0)) continue;
    const double t = point->songMs;
    while (note != notes.end() && note->endMs <= t) ++note;
    // The note sounding at t, else the nearer of its neighbours when close enough.
    double reference = middle;
    double nearest = kFoldReachMs;
    if (note != notes.end() && note->startMs - t < nearest) {
      nearest = std::max(0.0, note->startMs - t);
      reference = note->key + transpose;
    }
    if (note != notes.begin() && t - std::prev(note)->endMs < nearest)
      reference = std::prev(note)->key + transpose;
    const auto key = singing::laneKey(point->hz, reference);
    if (key && *key >= f.lowKey && *key <= f.highKey) f.sung.push_back({xOf(t), *key});
  }
  return f;
}

}  // namespace karaoke
