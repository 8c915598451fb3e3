#include "Latency.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace singing {
namespace {

constexpr double kClickHz = 2000.0;
// A click stands out when it matches this many times better than the signal typically does,
// and by at least kMinOnset (digital silence has no typical match).
constexpr float kOnsetOverNoise = 10.0f;
constexpr float kMinOnset = 1e-3f;
// A click is looked for this far either side of where the best shift puts it.
constexpr double kSearchMs = 1.5;

// How much of a click starts at each sample: the signal matched against the click, whichever
// way round the speaker puts it (noise and tones far from the click's band match little).
std::vector<float> onsets(std::span<const float> x, const std::vector<float>& click) {
  std::vector<float> o(x.size(), 0.0f);
  for (size_t i = 0; i < x.size(); ++i) {
    const size_t m = std::min(click.size(), x.size() - i);
    float r = 0;
    for (size_t j = 0; j < m; ++j) r += click[j] * x[i + j];
    o[i] = std::fabs(r);
  }
  return o;
}

float median(std::vector<float> v) {
  if (v.empty()) return 0;
  auto mid = v.begin() + std::ptrdiff_t(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  return *mid;
}

}  // namespace

std::vector<float> clickSound(int rate) {
  const size_t n = size_t(std::lround(kClickMs * rate / 1000.0));
  std::vector<float> c(n);
  for (size_t i = 0; i < n; ++i) {
    const double w = std::sin(std::numbers::pi * double(i) / double(n));  // sine window
    c[i] = float(0.5 * w * std::sin(2 * std::numbers::pi * kClickHz * double(i) / rate));
  }
  return c;
}

std::optional<double> findClickDelayMs(std::span<const float> captured, int rate,
                                       const ClickTrain& t) {
  if (t.count < 1 || rate <= 0 || t.spacingMs <= t.maxDelayMs - t.minDelayMs) return std::nullopt;
  const std::vector<float> o = onsets(captured, clickSound(rate));
  const float threshold = std::max(kOnsetOverNoise * median(o), kMinOnset);
  const double perMs = rate / 1000.0;
  const int64_t n = int64_t(o.size());
  const int64_t burst = std::max<int64_t>(1, std::lround(kClickMs * perMs));
  auto at = [&](int k, int64_t shift) {
    return std::llround((t.firstMs + k * t.spacingMs) * perMs) + shift;
  };
  // The strongest onset within a click's length of `from`, and where it is.
  auto peak = [&](int64_t from, int64_t len, int64_t* where) {
    float best = 0;
    for (int64_t i = std::max<int64_t>(from, 0); i < std::min(from + len, n); ++i)
      if (o[size_t(i)] > best) best = o[size_t(i)], *where = i;
    return best;
  };

  // The shift whose clicks carry the most onset energy over their length.
  const int64_t lo = std::llround(t.minDelayMs * perMs), hi = std::llround(t.maxDelayMs * perMs);
  std::vector<double> prefix(o.size() + 1, 0.0);
  for (size_t i = 0; i < o.size(); ++i) prefix[i + 1] = prefix[i] + double(o[i]) * o[i];
  auto energy = [&](int64_t from) {
    const int64_t a = std::clamp<int64_t>(from, 0, n), b = std::clamp<int64_t>(from + burst, 0, n);
    return prefix[size_t(b)] - prefix[size_t(a)];
  };
  int64_t bestShift = lo;
  double bestEnergy = -1;
  for (int64_t s = lo; s <= hi; ++s) {
    double e = 0;
    for (int k = 0; k < t.count; ++k) e += energy(at(k, s));
    if (e > bestEnergy) bestEnergy = e, bestShift = s;
  }

  // Each click on its own: its best match near that shift.
  const int64_t slack = std::llround(kSearchMs * perMs);
  std::vector<double> delays;
  for (int k = 0; k < t.count; ++k) {
    const int64_t from = at(k, bestShift) - slack;
    int64_t where = -1;
    if (peak(from, burst + 2 * slack, &where) < threshold) continue;
    delays.push_back(double(where - at(k, 0)) / perMs);
  }
  if (delays.size() * 4 < size_t(t.count) * 3) return std::nullopt;
  std::sort(delays.begin(), delays.end());
  return delays[delays.size() / 2];
}

}  // namespace singing
