// Times the windows as a user meets them: from the start of the process to the warning window
// on screen, from "Accetto" to the main window on screen, the memory of an idle window and of a
// playing song, and the delay from a click on the remover to the first block it processes.
// Run by bench/run-window-bench.sh under Xvfb with the private sound server.
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "BenchSongs.h"
#include "Form2.h"
#include "frmMain.h"

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point kProcessStart = Clock::now();

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

long rssKb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(1 << 12, '\n');
  }
  return -1;
}

std::atomic<int64_t> gFirstBlockNs{0};
void probe(HDSP, DWORD, void*, DWORD, void*) {
  int64_t expected = 0;
  gFirstBlockNs.compare_exchange_strong(
      expected,
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
          .count());
}

std::atomic<int64_t> gFirstSoundNs{0};
std::atomic<bool> gListening{false};
void firstSound(HDSP, DWORD, void* buffer, DWORD length, void*) {
  if (!gListening.load()) return;
  const float* f = static_cast<const float*>(buffer);
  for (DWORD i = 0; i < length / sizeof(float); ++i)
    if (f[i] > 0.001f || f[i] < -0.001f) {
      int64_t expected = 0;
      gFirstSoundNs.compare_exchange_strong(
          expected,
          std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
              .count());
      return;
    }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_window SONG.wav\n");
    return 1;
  }
  QApplication app(argc, argv);
  Form2 warning;
  warning.show();
  static_cast<void>(QTest::qWaitForWindowExposed(&warning));
  const double toWarning = msSince(kProcessStart);

  const auto accepted = Clock::now();
  warning.Command1->click();
  frmMain* w = warning.mainWindow();
  if (!w || !QTest::qWaitForWindowExposed(w)) {
    std::fprintf(stderr, "bench_window: the main window did not open\n");
    return 1;
  }
  const double toMain = msSince(accepted);
  QTest::qWait(1000);
  const long idleKb = rssKb();

  w->CMDialog1.FileName = QString::fromLocal8Bit(argv[1]);
  w->Cmdplw->setEnabled(true);
  w->Cmdplw->click();
  QTest::qWait(2000);
  const long playingKb = rssKb();

  // The probe goes on last, after the remover and its effects, so its first call is the first
  // block the remover has processed.
  double clickToBlock = 0;
  const int rounds = 20;
  for (int i = 0; i < rounds; ++i) {
    gFirstBlockNs = 0;
    const auto click = Clock::now();
    w->Chkrem->click();
    BASS_ChannelSetDSP(w->player->mainStream, &probe, nullptr, -1000);
    static_cast<void>(QTest::qWaitFor([] { return gFirstBlockNs.load() != 0; }, 1000));
    clickToBlock +=
        (gFirstBlockNs.load() -
         std::chrono::duration_cast<std::chrono::nanoseconds>(click.time_since_epoch()).count()) /
        1e6;
    w->Chkrem->click();  // off again
    QTest::qWait(50);
  }
  clickToBlock /= rounds;
  const double heard = clickToBlock + BASS_GetLatency();
  w->cmdstw->click();

  // A karaoke song: from the click on the MIDI player's play to its first note's block.
  const std::string kar = benchsongs::writeTemp(benchsongs::makeSong(16, 40), "orivelR-bench.kar");
  BASS_ChannelSetDSP(w->midiPlayer->midiPerformance->stream(), &firstSound, nullptr, -1000);
  double playToNote = 0;
  const int songRounds = 5;
  for (int i = 0; i < songRounds; ++i) {
    w->CMDialog1.FileName = QString::fromStdString(kar);
    w->midiPlayer->chooseSong(kar);
    w->Cmd_Play->setEnabled(true);
    QTest::qWait(200);
    gFirstSoundNs = 0;
    gListening = true;
    const auto click = Clock::now();
    w->Cmd_Play->click();
    static_cast<void>(QTest::qWaitFor([] { return gFirstSoundNs.load() != 0; }, 2000));
    gListening = false;
    playToNote +=
        (gFirstSoundNs.load() -
         std::chrono::duration_cast<std::chrono::nanoseconds>(click.time_since_epoch()).count()) /
        1e6;
    w->Cmd_Stop->click();
  }
  playToNote /= songRounds;

  std::printf("start to warning window shown      %8.1f ms\n", toWarning);
  std::printf("\"Accetto\" to main window shown     %8.1f ms\n", toMain);
  std::printf("memory, idle main window           %8.1f MiB\n", idleKb / 1024.0);
  std::printf("memory, playing a song             %8.1f MiB\n", playingKb / 1024.0);
  std::printf("remover click to first block done  %8.1f ms (mean of %d)\n", clickToBlock, rounds);
  std::printf("  ... plus the output's latency    %8.1f ms\n", heard);
  std::printf("MIDI play click to first note block %8.1f ms (mean of %d)\n", playToNote,
              songRounds);
  std::printf("  ... plus the output's latency    %8.1f ms\n", playToNote + BASS_GetLatency());
  BASS_Free();
  std::fflush(stdout);
  _exit(0);
}
