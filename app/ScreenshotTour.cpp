#include "ScreenshotTour.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <optional>

#include "Form1.h"
#include "Form2.h"
#include "Services.h"
#include "SingerScreen.h"
#include "WorkFolder.h"
#include "formp3.h"
#include "frmDemo.h"
#include "frmMain.h"

namespace {

// No one is there to click the message boxes of the tour: a Yes/No question ("PlayBack") is
// answered No, so that the take is not played back, the rest OK; each is printed instead.
class TourAnswers final : public app::MessageService {
 public:
  int show(int style, const QString& title, const QString& text) override {
    std::printf("message %s: %s\n", qPrintable(title), qPrintable(text));
    constexpr int kYesNo = 4;
    constexpr int kAnswerNo = 7;
    return (style & 7) == kYesNo ? kAnswerNo : app::kAnswerOk;
  }
};

// The file dialogs of the tour choose `answer` (nothing while it is empty).
class TourFiles final : public app::FileDialogService {
 public:
  QString answer;
  std::optional<QString> openFile(QWidget*, const app::FileDialogRequest& request) override {
    std::printf("file dialog %s: %s\n", qPrintable(request.title), qPrintable(answer));
    if (answer.isEmpty()) return std::nullopt;
    return answer;
  }
};

TourFiles& tourFiles() {
  static TourFiles files;
  return files;
}

void save(QWidget* window, const QString& dir, const QString& name) {
  const QString file = dir + "/" + name + ".png";
  if (window && window->grab().save(file))
    std::printf("saved %s\n", qPrintable(file));
  else
    std::printf("not saved: %s\n", qPrintable(file));
}

// The other windows, one after the other: the CD window playing the first track of a CD image,
// the converter and the manual; then the end.
void showOtherWindows(frmMain* w, const QString& dir) {
  w->cdripper->trigger();
  frmDemo* cd = w->cdWindow.get();
  if (cd && cd->cmbCDDrives->count() > 0) {
    // The images are listed after the drives: the last entry is one.
    cd->cmbCDDrives->setCurrentIndex(cd->cmbCDDrives->count() - 1);
    cd->cmbCDDrives_Click();
    if (cd->lstTracks->count() > 0) {
      cd->lstTracks->setCurrentRow(0);
      cd->lstTracks_Click();
    }
  }
  QTimer::singleShot(2000, w, [w, dir, cd] {
    save(cd, dir, "frmDemo");
    if (cd) cd->hide();
    // The converter with the take chosen and turned into MP3.
    w->wavp3->trigger();
    tourFiles().answer = app::workFile("NEWWAVE.WAV");
    w->converter->Command1->click();
    w->converter->Command3->click();
    QTimer::singleShot(1500, w, [w, dir] {
      save(w->converter.get(), dir, "Form1");
      w->converter->hide();
      w->Mhelp->trigger();
      // Wide enough for the manual's lines, which the window's first width wraps.
      if (formp3* help = w->findChild<formp3*>()) help->resize(820, 600);
      QTimer::singleShot(800, w, [w, dir] {
        save(w->findChild<formp3*>(), dir, "formp3");
        app::services().exit->end(0);
      });
    });
  });
}

// A take over the karaoke song: the record button runs the recorder until its stop, so the
// picture and the stop are on timers set before the click.
void recordTake(frmMain* w, const QString& dir) {
  w->Cmd_Stop->click();
  QTimer::singleShot(2500, w, [w, dir] { save(w, dir, "frmMain-recording"); });
  QTimer::singleShot(3000, w, [w] {
    if (w->cmdstop->isEnabled()) w->cmdstop->click();
  });
  w->cmdrec->click();
  QTimer::singleShot(500, w, [w, dir] { showOtherWindows(w, dir); });
}

}  // namespace

bool startScreenshotTour(Form2& warning) {
  const QString dir = qEnvironmentVariable("ORIVELR_SCREENSHOTS");
  if (dir.isEmpty()) return false;
  static TourAnswers answers;
  app::services().messages = &answers;
  app::services().files = &tourFiles();
  const QString song = qEnvironmentVariable("ORIVELR_SCREENSHOT_SONG");
  QTimer::singleShot(800, &warning, [&warning, dir, song] {
    save(&warning, dir, "Form2");
    warning.Command1->click();
    frmMain* w = warning.mainWindow();
    if (!w) return app::services().exit->end(1);
    if (!song.isEmpty()) {
      w->CMDialog1.FileName = song;
      w->LabelSongLength->setText(song);
      w->abilita();
      w->Cmdplw->setEnabled(true);
      w->Cmdplw->click();
      w->Chkrem->click();
    }
    QTimer::singleShot(2500, w, [w, dir] {
      save(w, dir, "frmMain");
      const QString kar = qEnvironmentVariable("ORIVELR_SCREENSHOT_KAR");
      if (kar.isEmpty()) return showOtherWindows(w, dir);
      // Then a karaoke song, its words lit as it plays, as "Open Midi Song" opens it.
      w->cmdstw->click();
      w->audioSong = false;
      w->CMDialog1.FileName = kar;
      w->LabelSongLength->setText(kar);
      w->midiPlayer->chooseSong(kar.toStdString());
      w->Cmd_Play->setEnabled(true);
      w->Cmd_Play->click();
      QTimer::singleShot(3000, w, [w, dir] {
        save(w, dir, "frmMain-karaoke");
        // The singer's screen of the same song, then the take.
        w->actSingerScreen->trigger();
        QTimer::singleShot(700, w, [w, dir] {
          save(w->singerScreen, dir, "SingerScreen");
          w->actSingerScreen->trigger();
          recordTake(w, dir);
        });
      });
    });
  });
  return true;
}
