// The main window's side of the CD window (opening it, a ripped track becoming the song), and
// the help and about windows.
#include <QMenu>
#include <QToolButton>

#include "formp3.h"
#include "frmAbout.h"
#include "frmDemo.h"
#include "frmMain.h"
#include "ui_frmMain.h"

void frmMain::cdripper_Click() {
  ripPending = true;
  if (!cdWindow) {
    cdWindow = std::make_unique<frmDemo>();
    cdWindow->onTrackRipped = [this](const QString& caption) { cdTrackRipped(caption); };
  }
  cdWindow->show();
  cdWindow->raise();
}

void frmMain::cdTrackRipped(const QString& caption) {
  LabelSongLength->setText(caption);
  abilita();
  cmdstw->setEnabled(true);
  Cmdplw->setEnabled(true);
  Cmd_Play->setEnabled(false);
  dismenu();
}

void frmMain::Mhelp_Click() {
  (new formp3(this))->show();
}

void frmMain::MnuAbout_Click() {
  (new frmAbout(this))->show();
}
