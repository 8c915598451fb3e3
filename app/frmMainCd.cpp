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
  if (!session.allows(player::Session::Control::SongMenus)) return;
  session.cdWindowOpened();
  if (!cdWindow) {
    cdWindow = std::make_unique<frmDemo>();
    cdWindow->onTrackRipped = [this](const QString& caption) { cdTrackRipped(caption); };
    cdWindow->onRipRunning = [this](bool running) {
      if (running)
        session.ripStarted();
      else
        session.ripEnded();
      followSession();
    };
  }
  cdWindow->show();
  cdWindow->raise();
}

// The CD window goes away when its track is taken; it is kept (hidden) for the next time, and a
// rip that runs keeps it open.
void frmMain::closeCdWindow() {
  if (cdWindow && !session.ripRunning()) cdWindow->close();
}

void frmMain::cdTrackRipped(const QString& caption) {
  LabelSongLength->setText(caption);
  abilita();
  cmdstw->setEnabled(true);
  Cmdplw->setEnabled(true);
  Cmd_Play->setEnabled(false);
  dismenu();
  followSession();
}

// One help window and one about window: a second click raises the one that is open.
void frmMain::Mhelp_Click() {
  if (!helpWindow_) helpWindow_ = new formp3(this);
  helpWindow_->show();
  helpWindow_->raise();
  helpWindow_->activateWindow();
}

void frmMain::MnuAbout_Click() {
  if (!aboutWindow_) aboutWindow_ = new frmAbout(this);
  aboutWindow_->show();
  aboutWindow_->raise();
  aboutWindow_->activateWindow();
}
