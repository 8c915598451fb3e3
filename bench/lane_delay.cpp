// How far the pitch lane lags behind the capture: a tone arrives in the capture's 20 ms
// fragments at the pace of real time; a writer like the take's looks for them at its nap's
// step and feeds the live pitch worker; the window reads the estimates at the lanes' 20 ms
// tick. For each estimate, the time from the capture delivering its sample to the window
// holding it. Prints the median, the 95th percentile and the largest, in ms.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <thread>
#include <vector>

#include "FrameClock.h"
#include "LivePitch.h"

int main() {
  constexpr int kRate = 48000, kFragment = kRate / 50, kSeconds = 10;
  constexpr auto kWriterNap = std::chrono::milliseconds(10), kTick = std::chrono::milliseconds(20);
  std::vector<int16_t> tone(size_t(kRate) * kSeconds);
  for (size_t i = 0; i < tone.size(); ++i)
    tone[i] = int16_t(8000 * std::sin(2 * std::numbers::pi * 220.0 * double(i) / kRate));

  recorder::LivePitch live(kRate);
  std::vector<int64_t> deliveredNs(tone.size() / kFragment + 1, 0);
  const int64_t start = audiolib::monotonicNs();
  std::thread writer([&] {
    size_t fed = 0;
    while (fed < tone.size()) {
      // What the capture has delivered by now, in whole fragments.
      const auto now = audiolib::monotonicNs();
      const size_t fragments = std::min(size_t((now - start) / 20'000'000), deliveredNs.size() - 1);
      for (size_t f = 0; f < fragments; ++f)
        if (!deliveredNs[f]) deliveredNs[f] = start + int64_t(f + 1) * 20'000'000;
      const size_t upTo = std::min(tone.size(), fragments * kFragment);
      if (upTo > fed) {
        live.feed(tone.data() + fed, upTo - fed, 1);
        fed = upTo;
      } else {
        std::this_thread::sleep_for(kWriterNap);
      }
    }
  });
  std::vector<double> lagMs;
  singing::PitchPoint points[128];
  for (auto next = std::chrono::steady_clock::now(); lagMs.size() < size_t(kSeconds - 1) * 100;) {
    next += kTick;
    std::this_thread::sleep_until(next);
    const int64_t now = audiolib::monotonicNs();
    while (const size_t n = live.read(points))
      for (size_t i = 0; i < n; ++i) {
        const size_t fragment = size_t(points[i].sample) / kFragment;
        if (fragment < deliveredNs.size() && deliveredNs[fragment])
          lagMs.push_back(double(now - deliveredNs[fragment]) / 1e6);
      }
  }
  writer.join();
  std::sort(lagMs.begin(), lagMs.end());
  std::printf("lane lag behind the capture over %zu estimates: median %.1f ms, p95 %.1f ms, max %.1f ms\n",
              lagMs.size(), lagMs[lagMs.size() / 2], lagMs[lagMs.size() * 95 / 100], lagMs.back());
}
