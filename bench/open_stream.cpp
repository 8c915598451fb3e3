// How long opening a long MP3 holds up its caller and the song that already plays: plays
// SONG through the real output, then opens LONG (an MP3 of an hour) with
// BASS_StreamCreateFile a few times while a second thread asks for the song's position every
// millisecond, as the main window's timer does. Prints, per open, the call's time, the longest
// wait of a position call meanwhile, and how long until the stream's length is exact; at the
// end the output's underflows over the whole run (0 when the song never went dry).
//
//   open_stream SONG.wav LONG.mp3 [--runs N]
//
// Run by bench/run-open-bench.sh.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "Device.h"
#include "bass.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: open_stream SONG.wav LONG.mp3 [--runs N]\n");
    return 2;
  }
  const char* song = argv[1];
  const char* longSong = argv[2];
  const int runs = argc > 4 && !std::strcmp(argv[3], "--runs") ? std::atoi(argv[4]) : 3;
  if (!BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr)) {
    std::fprintf(stderr, "open_stream: no output (error %d)\n", BASS_ErrorGetCode());
    return 1;
  }
  const HSTREAM playing = BASS_StreamCreateFile(FALSE, song, 0, 0, BASS_SAMPLE_FLOAT);
  if (!playing || !BASS_StreamPlay(playing, FALSE, 0)) {
    std::fprintf(stderr, "open_stream: cannot play %s (error %d)\n", song, BASS_ErrorGetCode());
    BASS_Free();
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));  // playing steadily
  const uint64_t dryBefore = audiolib::outputUnderflows();

  std::atomic<bool> polling{true};
  std::atomic<int64_t> longestPollUs{0};
  std::thread poller([&] {
    while (polling.load()) {
      const auto t = Clock::now();
      BASS_ChannelGetPosition(playing);
      const auto us =
          std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t).count();
      if (us > longestPollUs.load()) longestPollUs.store(us);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });

  int status = 0;
  for (int run = 0; run < runs; ++run) {
    longestPollUs.store(0);
    const auto t = Clock::now();
    const HSTREAM s = BASS_StreamCreateFile(FALSE, longSong, 0, 0, BASS_SAMPLE_FLOAT);
    const double openMs = msSince(t);
    if (!s) {
      std::fprintf(stderr, "open_stream: cannot open %s (error %d)\n", longSong,
                   BASS_ErrorGetCode());
      status = 1;
      break;
    }
    const QWORD first = BASS_StreamGetLength(s);
    // The exact length arrives when the scan is done: the length stops changing.
    QWORD length = first;
    double exactMs = 0;
    for (int still = 0; still < 50; ++still) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      const QWORD now = BASS_StreamGetLength(s);
      if (now != length) {
        length = now;
        still = 0;
      }
      if (still == 0) exactMs = msSince(t);
    }
    const auto seekAt = Clock::now();
    BASS_ChannelSetPosition(s, length / 2 / 8 * 8);
    const double seekMs = msSince(seekAt);
    std::printf(
        "open_ms %.1f longest_position_call_ms %.1f length_exact_after_ms %.0f header_length_s "
        "%.3f exact_length_s %.3f seek_middle_ms %.1f\n",
        openMs, double(longestPollUs.load()) / 1000.0, exactMs, BASS_ChannelBytes2Seconds(s, first),
        BASS_ChannelBytes2Seconds(s, length), seekMs);
    std::fflush(stdout);
    BASS_StreamFree(s);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  polling.store(false);
  poller.join();
  std::printf("underflows %llu\n",
              static_cast<unsigned long long>(audiolib::outputUnderflows() - dryBefore));
  BASS_StreamFree(playing);
  BASS_Free();
  return status;
}
