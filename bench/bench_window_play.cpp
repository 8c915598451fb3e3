// Plays one song through the main window to the default output device, as a user does: "Accetto"
// in the warning window, the song opened from the menu (the file dialog answered with SONG),
// the vocal remover checked with --remover, then the play button; returns once the song has
// ended and its last frames have left the device. Run by bench/run-gap-bench.sh, which records
// the sink's monitor around it.
//
//   bench_window_play SONG.wav|SONG.mp3 [--remover]
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#include "Form2.h"
#include "Services.h"
#include "WindowBenchServices.h"
#include "frmMain.h"

namespace {}  // namespace

int main(int argc, char** argv) {
  const char* song = nullptr;
  bool remover = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--remover"))
      remover = true;
    else if (argv[i][0] != '-' && !song)
      song = argv[i];
    else
      song = nullptr, i = argc;
  }
  if (!song) {
    std::fprintf(stderr, "usage: bench_window_play SONG.wav|SONG.mp3 [--remover]\n");
    return 2;
  }
  QApplication application(argc, argv);
  SongDialog files(QString::fromLocal8Bit(song));
  StderrMessages messages("bench_window_play");
  app::services().files = &files;
  app::services().messages = &messages;

  Form2 warning;
  warning.show();
  QTest::mouseClick(warning.Command1, Qt::LeftButton);
  frmMain* w = warning.mainWindow();
  if (!w || !w->isVisible()) {
    std::fprintf(stderr, "bench_window_play: the main window did not open\n");
    return 1;
  }
  w->menuwave->trigger();
  if (!w->Cmdplw->isEnabled()) {
    std::fprintf(stderr, "bench_window_play: %s was not opened\n", song);
    return 1;
  }
  if (remover) QTest::mouseClick(w->Chkrem, Qt::LeftButton);
  const int shownBefore = messages.shown;
  QTest::mouseClick(w->Cmdplw, Qt::LeftButton);
  const HSTREAM stream = w->player->mainStream;
  if (!stream || messages.shown != shownBefore) {
    std::fprintf(stderr, "bench_window_play: %s did not play\n", song);
    return 1;
  }
  const double seconds = BASS_ChannelBytes2Seconds(stream, BASS_StreamGetLength(stream));
  const int limitMs = int(std::max(seconds, 0.0) * 1000) + 30000;
  if (!QTest::qWaitFor([&] { return BASS_ChannelIsActive(stream) == BASS_ACTIVE_STOPPED; },
                       limitMs)) {
    std::fprintf(stderr, "bench_window_play: still playing after %d ms\n", limitMs);
    return 1;
  }
  // The stream has ended when its last frames are mixed; they are heard one latency later.
  QTest::qWait(int(BASS_GetLatency()) + 200);
  QTest::mouseClick(w->cmdstw, Qt::LeftButton);
  BASS_Free();
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(0);
}
