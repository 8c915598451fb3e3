// The score of a take against the melody, step by step.
#include "Score.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace singing {

namespace {

// The estimate nearest to `sample`, or 0 Hz when none lies within one step.
double pitchAt(std::span<const PitchPoint> pitch, double sample, double stepSamples) {
  const auto it =
      std::lower_bound(pitch.begin(), pitch.end(), sample,
                       [](const PitchPoint& p, double s) { return double(p.sample) < s; });
  const PitchPoint* nearest = nullptr;
  double distance = stepSamples;
  if (it != pitch.end() && double(it->sample) - sample < distance) {
    nearest = &*it;
    distance = double(it->sample) - sample;
  }
  if (it != pitch.begin() && sample - double(std::prev(it)->sample) < distance)
    nearest = &*std::prev(it);
  return nearest ? nearest->hz : 0.0;
}

}  // namespace

double foldedError(double sungHz, double key) {
  const double e = hzToKey(sungHz) - key;
  return e - 12.0 * std::floor((e + 6.0) / 12.0);
}

double stepCredit(double sungHz, double key) {
  if (!(sungHz > 0)) return 0;
  const double e = std::abs(foldedError(sungHz, key));
  if (e <= kFullCreditSemitones) return 1;
  if (e >= kNoCreditSemitones) return 0;
  return (kNoCreditSemitones - e) / (kNoCreditSemitones - kFullCreditSemitones);
}

std::optional<double> laneKey(double sungHz, double key) {
  if (!(sungHz > 0)) return std::nullopt;
  return key + foldedError(sungHz, key);
}

namespace {

// One stretch of the song played at one key and tempo: from song time `songMs`, heard at
// `heardMs`.
struct Stretch {
  double songMs, heardMs;
  int transpose;
  double tempo;
};

// The stretches of `moves`, the first from the song's start; a tempo that is not a positive
// number counts as the song's own.
std::vector<Stretch> stretches(const SongMoves& moves) {
  auto rate = [](double t) { return t > 0 && std::isfinite(t) ? t : 1.0; };
  std::vector<Stretch> s{{0, 0, moves.transpose, rate(moves.tempo)}};
  for (const SongMoves::Change& c : moves.changes) {
    const Stretch& last = s.back();
    const double at = std::max(c.songMs, last.songMs);
    s.push_back({at, last.heardMs + (at - last.songMs) / last.tempo, c.transpose, rate(c.tempo)});
  }
  return s;
}

// The stretch that plays song time `songMs` (the first one also before the song's start).
const Stretch& stretchAt(const std::vector<Stretch>& s, double songMs) {
  size_t i = 0;
  while (i + 1 < s.size() && s[i + 1].songMs <= songMs) ++i;
  return s[i];
}

}  // namespace

double SongMoves::heardMs(double songMs) const {
  const auto s = stretches(*this);
  const Stretch& at = stretchAt(s, songMs);
  return at.heardMs + (songMs - at.songMs) / at.tempo;
}

double SongMoves::songMs(double heardMs) const {
  const auto s = stretches(*this);
  size_t i = 0;
  while (i + 1 < s.size() && s[i + 1].heardMs <= heardMs) ++i;
  return s[i].songMs + (heardMs - s[i].heardMs) * s[i].tempo;
}

int SongMoves::transposeAt(double songMs) const {
  return stretchAt(stretches(*this), songMs).transpose;
}

Melody moved(const Melody& melody, const SongMoves& moves) {
  const auto s = stretches(moves);
  auto heard = [&](double songMs) {
    const Stretch& at = stretchAt(s, songMs);
    return at.heardMs + (songMs - at.songMs) / at.tempo;
  };
  Melody m = melody;
  for (MelodyNote& n : m.notes) {
    n.key += stretchAt(s, n.startMs).transpose;
    n.startMs = heard(n.startMs);
    n.endMs = heard(n.endMs);
  }
  return m;
}

std::vector<LineStart> lineStarts(const midi::LyricTable& lyrics, const SongMoves& moves) {
  std::map<int, double> first;
  for (size_t i = 1; i < lyrics.lyricEvents.size(); ++i) {
    const midi::LyricEvent& e = lyrics.lyricEvents[i];
    if (!showsText(e.text)) continue;
    const double start = moves.heardMs(e.time - e.duration);
    auto [it, fresh] = first.try_emplace(e.line, start);
    if (!fresh) it->second = std::min(it->second, start);
  }
  std::vector<LineStart> starts;
  for (const auto& [line, start] : first) starts.push_back({start, line});
  std::sort(starts.begin(), starts.end(),
            [](const LineStart& a, const LineStart& b) { return a.ms < b.ms; });
  return starts;
}

size_t lineOfNote(const std::vector<LineStart>& starts, double ms) {
  const auto after = std::upper_bound(starts.begin(), starts.end(), ms,
                                      [](double t, const LineStart& s) { return t < s.ms; });
  return after == starts.begin() ? 0 : size_t(after - starts.begin()) - 1;
}

TakeScore scoreTake(const Melody& melody, const midi::LyricTable& lyrics,
                    std::span<const PitchPoint> pitch, int rate, const SongMoves& moves) {
  TakeScore result;
  const std::vector<LineStart> order = lineStarts(lyrics, moves);
  std::vector<double> credit(order.size(), 0.0);
  std::vector<int> steps(order.size(), 0);

  double totalCredit = 0;
  const double stepSamples = rate / double(kStepsPerSecond);
  for (const MelodyNote& n : moved(melody, moves).notes) {
    const size_t line = lineOfNote(order, n.startMs);
    for (auto k = int64_t(std::ceil(n.startMs / kStepMs)); double(k) * kStepMs < n.endMs; ++k) {
      const double c = stepCredit(pitchAt(pitch, double(k) * stepSamples, stepSamples), n.key);
      totalCredit += c;
      ++result.steps;
      if (!order.empty()) {
        credit[line] += c;
        ++steps[line];
      }
    }
  }
  auto outOfMax = [](double c, int n) { return int(std::lround(kMaxScore * c / n)); };
  for (size_t i = 0; i < order.size(); ++i) {
    const int line = order[i].line;
    LineScore s{line,
                size_t(line) < lyrics.lyricLines.size() ? lyrics.lyricLines[size_t(line)] : "",
                steps[i], std::nullopt};
    if (steps[i] > 0) s.score = outOfMax(credit[i], steps[i]);
    result.lines.push_back(std::move(s));
  }
  result.total = result.steps > 0 ? outOfMax(totalCredit, result.steps) : 0;
  return result;
}

}  // namespace singing
