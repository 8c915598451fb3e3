#include "frmAbout.h"

#include <fluidsynth.h>
#include <lame/lame.h>
#include <sndfile.h>

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "bass.h"

QString aboutText() {
  char sndfile[64] = {};
  sf_command(nullptr, SFC_GET_LIB_VERSION, sndfile, sizeof sndfile);
  return QString(
             "<h3>orivelR %1</h3>"
             "<p>Vocal remover &amp; karaoke recorder for the Linux desktop, with the LumoMeter "
             "level meter library.</p>"
             "<p>Licence: none is granted yet; its owner has still to choose one. The "
             "libraries below keep their own licences (LGPL, GPL, BSD, MIT).</p>"
             "<p>Built on Qt %2, SDL2, PulseAudio, libsndfile (%3), mpg123, libopenmpt, "
             "libsoxr, FluidSynth %4, LAME %5, libcdio and libcdio-paranoia, FFmpeg and "
             "TagLib.</p>")
      .arg(QCoreApplication::applicationVersion().isEmpty()
               ? QString("1.0")
               : QCoreApplication::applicationVersion())
      .arg(qVersion())
      .arg(QString::fromLatin1(sndfile))
      .arg(QString::fromLatin1(fluid_version_str()))
      .arg(QString::fromLatin1(get_lame_version()));
}

frmAbout::frmAbout(QWidget* owner) : QWidget(owner, Qt::Window) {
  setObjectName("frmAbout");
  setWindowTitle("About orivelR");
  setAttribute(Qt::WA_DeleteOnClose);
  lblAbout = new QLabel(aboutText(), this);
  lblAbout->setObjectName("lblAbout");
  lblAbout->setWordWrap(true);
  cmdOK = new QPushButton("OK", this);
  cmdOK->setObjectName("cmdOK");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblAbout);
  layout->addWidget(cmdOK);
  resize(420, 260);
  connect(cmdOK, &QPushButton::clicked, this, &QWidget::close);
}
