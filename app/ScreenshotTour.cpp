#include "ScreenshotTour.h"

#include <QCheckBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <cstdio>

#include "Form2.h"
#include "Services.h"
#include "frmMain.h"

bool startScreenshotTour(Form2& warning) {
  const QString dir = qEnvironmentVariable("ORIVELR_SCREENSHOTS");
  if (dir.isEmpty()) return false;
  const QString song = qEnvironmentVariable("ORIVELR_SCREENSHOT_SONG");
  QTimer::singleShot(800, &warning, [&warning, dir, song] {
    warning.grab().save(dir + "/Form2.png");
    warning.Command1->click();
    frmMain* w = warning.mainWindow();
    if (!w) return;
    if (!song.isEmpty()) {
      w->CMDialog1.FileName = song;
      w->LabelSongLength->setText(song);
      w->abilita();
      w->Cmdplw->setEnabled(true);
      w->Cmdplw->click();
      w->Chkrem->click();
    }
    QTimer::singleShot(2500, w, [w, dir] {
      w->grab().save(dir + "/frmMain.png");
      std::printf("saved %s/Form2.png and %s/frmMain.png\n", qPrintable(dir), qPrintable(dir));
      const QString kar = qEnvironmentVariable("ORIVELR_SCREENSHOT_KAR");
      if (kar.isEmpty()) return app::services().exit->end(0);
      // Then a karaoke song, its words lit as it plays.
      w->cmdstw->click();
      w->CMDialog1.FileName = kar;
      w->LabelSongLength->setText(kar);
      w->midiPlayer->chooseSong(kar.toStdString());
      w->Cmd_Play->setEnabled(true);
      w->Cmd_Play->click();
      QTimer::singleShot(3000, w, [w, dir] {
        w->grab().save(dir + "/frmMain-karaoke.png");
        std::printf("saved %s/frmMain-karaoke.png\n", qPrintable(dir));
        app::services().exit->end(0);
      });
    });
  });
  return true;
}
