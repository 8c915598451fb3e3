// The main window recording a take over a song, as a user does: "Accetto", the song opened
// from the menu, the vocal remover checked, then the record button; after a second of
// settling it measures the whole process's CPU over SECONDS, presses the recorder's stop and
// answers No to "PlayBack". With --play-only it plays the song with the play button instead,
// for the same window without a recording. Prints one line: cpu % of one core, resident KiB.
//
//   bench_window_record SONG.wav SECONDS [--play-only]
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include "Form2.h"
#include "Services.h"
#include "WindowBenchServices.h"
#include "frmMain.h"

namespace {

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long residentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_window_record SONG.wav SECONDS [--play-only]\n");
    return 2;
  }
  const bool playOnly = argc > 3 && !std::strcmp(argv[3], "--play-only");
  const int seconds = std::atoi(argv[2]);
  QApplication application(argc, argv);
  SongDialog files(QString::fromLocal8Bit(argv[1]));
  StderrMessages messages("bench_window_record");
  app::services().files = &files;
  app::services().messages = &messages;
  Form2 warning;
  warning.show();
  QTest::mouseClick(warning.Command1, Qt::LeftButton);
  frmMain* w = warning.mainWindow();
  if (!w || !w->isVisible()) return 1;
  w->menuwave->trigger();
  QTest::mouseClick(w->Chkrem, Qt::LeftButton);
  double cpu0 = 0, cpu1 = 0;
  long rss = 0;
  // Settle, measure, then stop; inside the record button's handler when recording.
  QTimer::singleShot(1000, [&] { cpu0 = cpuSeconds(); });
  QTimer::singleShot(1000 + seconds * 1000, [&] {
    cpu1 = cpuSeconds();
    rss = residentKiB();
    if (!playOnly) QTest::mouseClick(w->cmdstop, Qt::LeftButton);
  });
  if (playOnly) {
    QTest::mouseClick(w->Cmdplw, Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return cpu1 > 0; }, (seconds + 5) * 1000)) return 1;
  } else {
    QTest::mouseClick(w->cmdrec, Qt::LeftButton);  // returns when the take is done
  }
  std::printf("cpu %.2f %% of one core over %d s, resident %ld KiB\n",
              100 * (cpu1 - cpu0) / seconds, seconds, rss);
  std::fflush(stdout);
  BASS_Free();
  _exit(0);
}
