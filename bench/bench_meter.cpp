// The meter control at work on the default microphone, as the main window runs it (44.1 kHz
// stereo 16 bit, best resolution). bench/run-meter-bench.sh runs it.
//
//   bench_meter cpu SECONDS      meters for SECONDS and prints the process's CPU time over them
//                                and its resident memory
//   bench_meter latency RUNS     plays RUNS tone bursts into the sink "mic_feed" (the virtual
//                                microphone's source) and prints, for each, the time from the
//                                burst's first sample reaching the sink to the first LED lit
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "LumoCtl.h"

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long residentKiB() {
  QFile status("/proc/self/status");
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  return 0;
}

// The RMS of the left channel of the stretch, on the 16-bit scale.
double rmsOf(const QByteArray& values, int from, int to) {
  double sum = 0;
  int count = 0;
  for (int pos = from; pos + 1 <= to && pos + 1 < values.size(); pos += 4) {
    const auto v = int16_t(uint8_t(values[pos]) | (uint8_t(values[pos + 1]) << 8));
    sum += double(v) * v;
    ++count;
  }
  return count ? std::sqrt(sum / count) : 0;
}

int cpu(LumoCtl& meter, int seconds) {
  int updates = 0;
  QObject::connect(&meter, &LumoCtl::PeakValues, [&] { ++updates; });
  meter.StartVU();
  QTest::qWait(1000);  // settle: the device opens, the first pass of the buffer fills
  updates = 0;
  const double cpu0 = cpuSeconds();
  QElapsedTimer wall;
  wall.start();
  QTest::qWait(seconds * 1000);
  const double used = cpuSeconds() - cpu0;
  const double elapsed = double(wall.elapsed()) / 1000;
  std::printf(
      "cpu %.2f %% of one core over %.1f s, %d meter updates (%.1f ms apart), "
      "resident %ld KiB\n",
      100 * used / elapsed, elapsed, updates, 1000 * elapsed / std::max(updates, 1), residentKiB());
  meter.StopVU();
  return 0;
}

int latency(LumoCtl& meter, int runs) {
  const pa_sample_spec spec{PA_SAMPLE_S16LE, 44100, 1};
  pa_buffer_attr attr{};
  attr.maxlength = uint32_t(-1);
  attr.tlength = 44100 * 2 / 100;  // 10 ms queued: the burst's start is known to a few ms
  attr.prebuf = uint32_t(-1);
  attr.minreq = uint32_t(-1);
  int error = 0;
  pa_simple* feed = pa_simple_new(nullptr, "bench_meter", PA_STREAM_PLAYBACK, "mic_feed",
                                  "tone burst", &spec, nullptr, &attr, &error);
  if (!feed) {
    std::fprintf(stderr, "bench_meter: can't play into mic_feed: %s\n", pa_strerror(error));
    return 1;
  }
  // The feeder writes silence in 10 ms blocks, paced by the server, and a 300 ms burst when
  // asked; it notes when the burst's first sample will reach the sink.
  std::atomic<bool> stop{false}, burst{false};
  std::atomic<int64_t> onsetNs{0};
  std::thread feeder([&] {
    std::vector<int16_t> block(441);
    int burstBlocks = 0;
    while (!stop) {
      if (burst.exchange(false)) {
        const pa_usec_t queued = pa_simple_get_latency(feed, &error);
        onsetNs = (Clock::now() + std::chrono::microseconds(queued)).time_since_epoch().count();
        burstBlocks = 30;
      }
      for (size_t i = 0; i < block.size(); ++i)
        block[i] = burstBlocks ? int16_t(16000 * std::sin(2 * M_PI * 1000 * double(i) / 44100)) : 0;
      if (burstBlocks) --burstBlocks;
      pa_simple_write(feed, block.data(), block.size() * 2, &error);
    }
  });
  bool lit = false;
  Clock::time_point litAt;
  QObject::connect(&meter, &LumoCtl::PeakValues, [&](const QByteArray& v, int from, int to) {
    if (!lit && onsetNs && rmsOf(v, from, to) > 3000) {
      litAt = Clock::now();
      lit = true;
    }
  });
  meter.StartVU();
  QTest::qWait(1000);
  std::vector<double> ms;
  for (int run = 0; run < runs; ++run) {
    QTest::qWait(500);  // the burst before has passed and the meter rests
    lit = false;
    onsetNs = 0;
    burst = true;
    if (QTest::qWaitFor([&] { return lit; }, 2000)) {
      const Clock::time_point onset{Clock::duration(onsetNs.load())};
      ms.push_back(std::chrono::duration<double, std::milli>(litAt - onset).count());
    }
  }
  stop = true;
  feeder.join();
  pa_simple_free(feed);
  meter.StopVU();
  std::sort(ms.begin(), ms.end());
  if (ms.empty()) {
    std::printf("latency: no burst was metered\n");
    return 1;
  }
  std::printf("tone onset to first lit update: median %.1f ms, min %.1f, max %.1f (%zu of %d)\n",
              ms[ms.size() / 2], ms.front(), ms.back(), ms.size(), runs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "cpu") && std::strcmp(argv[1], "latency"))) {
    std::fprintf(stderr, "usage: bench_meter cpu SECONDS | latency RUNS\n");
    return 2;
  }
  QApplication app(argc, argv);
  LumoCtl meter;
  meter.resize(30, 120);
  meter.show();
  meter.setStyle(LumoCtl::scVU);
  meter.setQuality(LumoCtl::qc44S16);
  meter.setCalibration(3.5f);
  meter.setResolution(LumoCtl::rcBest);
  meter.setSoundDriver(meter.DefaultSoundDriver());
  QObject::connect(&meter, &LumoCtl::Error, [](int n, const QString& text) {
    std::fprintf(stderr, "bench_meter: error %#x %s\n", unsigned(n), qPrintable(text));
  });
  const int n = std::max(1, std::atoi(argv[2]));
  return !std::strcmp(argv[1], "cpu") ? cpu(meter, n) : latency(meter, n);
}
