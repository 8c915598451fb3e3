// Counts the dropouts in a recording of a steady tone: where the tone starts and ends (the first
// and last frame above a threshold on any channel), its usual level inside that span (the median
// of the peaks of 1 ms windows), and the gaps: runs of at least 1 ms in which no sample on any
// channel reaches half that level. A sine stays below half its peak for a third of each half
// period only, far less than 1 ms for tones above 170 Hz, so the tone itself is never a gap; the
// channels' phases do not matter (L = sine, R = -sine counts as the plain tone does). Gaps are
// looked for between the first and the last frame at half that level, after the tone's own
// fade in and before its fade out.
//
//   gap_count RECORDING.wav [--threshold A] [--min-ms M]
//
// prints "gaps N total_ms X longest_ms Y span_s Z" on one line. Run by bench/run-gap-bench.sh.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int usage() {
  std::fprintf(stderr, "usage: gap_count RECORDING.wav [--threshold A] [--min-ms M]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = nullptr;
  double threshold = 0.01;  // the tone's start and end; the private server's silence is 0
  double minMs = 1.0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--threshold") && i + 1 < argc)
      threshold = std::atof(argv[++i]);
    else if (!std::strcmp(argv[i], "--min-ms") && i + 1 < argc)
      minMs = std::atof(argv[++i]);
    else if (argv[i][0] != '-' && !path)
      path = argv[i];
    else
      return usage();
  }
  if (!path || threshold <= 0 || minMs <= 0) return usage();

  SF_INFO info{};
  SNDFILE* file = sf_open(path, SFM_READ, &info);
  if (!file) {
    std::fprintf(stderr, "gap_count: %s: %s\n", path, sf_strerror(nullptr));
    return 2;
  }
  const int channels = info.channels;
  const double rate = info.samplerate;
  // The loudest channel of each frame: the envelope follows whichever channel carries the tone.
  std::vector<float> level;
  level.reserve(size_t(std::max<sf_count_t>(info.frames, 0)));
  std::vector<float> block(size_t(4096 * channels));
  for (sf_count_t n; (n = sf_readf_float(file, block.data(), 4096)) > 0;) {
    for (sf_count_t f = 0; f < n; ++f) {
      float peak = 0;
      for (int c = 0; c < channels; ++c)
        peak = std::max(peak, std::fabs(block[size_t(f * channels + c)]));
      level.push_back(peak);
    }
  }
  sf_close(file);

  const auto above = [&](float v) { return v > threshold; };
  const auto first = std::find_if(level.begin(), level.end(), above);
  if (first == level.end()) {
    std::fprintf(stderr, "gap_count: %s: no tone above %g\n", path, threshold);
    return 1;
  }
  const auto last = std::find_if(level.rbegin(), level.rend(), above).base();  // one past
  const size_t begin = size_t(first - level.begin());
  const size_t end = size_t(last - level.begin());

  // The tone's usual level: the median of the peaks of whole 1 ms windows in the span.
  const size_t window = std::max<size_t>(1, size_t(std::lround(rate / 1000)));
  std::vector<float> peaks;
  for (size_t w = begin; w + window <= end; w += window)
    peaks.push_back(*std::max_element(level.begin() + long(w), level.begin() + long(w + window)));
  if (peaks.empty()) peaks.push_back(*std::max_element(first, last));
  std::nth_element(peaks.begin(), peaks.begin() + long(peaks.size() / 2), peaks.end());
  const float half = peaks[peaks.size() / 2] / 2;

  // The tone's own fade in and out (a stretched song begins and ends on a ramp) is no gap: the
  // gaps are counted between the first and the last frame at half the usual level.
  size_t inner = begin, innerEnd = end;
  while (inner < end && level[inner] < half) ++inner;
  while (innerEnd > inner && level[innerEnd - 1] < half) --innerEnd;

  const size_t minFrames = std::max<size_t>(1, size_t(std::lround(minMs * rate / 1000)));
  long gaps = 0;
  size_t total = 0, longest = 0;
  for (size_t f = inner; f < innerEnd;) {
    if (level[f] >= half) {
      ++f;
      continue;
    }
    const size_t from = f;
    while (f < innerEnd && level[f] < half) ++f;
    const size_t length = f - from;
    if (length >= minFrames) {
      ++gaps;
      total += length;
      longest = std::max(longest, length);
    }
  }
  std::printf("gaps %ld total_ms %.1f longest_ms %.1f span_s %.3f\n", gaps,
              double(total) * 1000 / rate, double(longest) * 1000 / rate,
              double(end - begin) / rate);
  return 0;
}
