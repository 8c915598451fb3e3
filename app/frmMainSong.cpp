// The main window's controls for what a song sounds like beyond its effects: the key and the
// tempo of an audio song (the MIDI player keeps its own key and tempo controls; the keyboard
// shortcuts move whichever song is chosen), the guide voice beside the remover, and "Same
// loudness for every song", and the remover's method. The handlers read the controls and call
// the players' procedures.
#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QMenu>
#include <QScrollBar>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>

#include "SongLoudness.h"
#include "frmMain.h"

namespace {
constexpr char kLoudnessSetting[] = "options/sameLoudness";
constexpr char kRemoverSetting[] = "options/remover";  // "side" or "centre"
}  // namespace

void frmMain::songSetup() {
  spinKey = findChild<QSpinBox*>("spinKey");
  spinTempo = findChild<QSpinBox*>("spinTempo");
  cmdKeyTempoReset = findChild<QToolButton*>("cmdKeyTempoReset");
  sliderVoice = findChild<QSlider*>("sliderVoice");
  actSameLoudness = findChild<QAction*>("actSameLoudness");
  auto shortcut = [this](const QKeySequence& keys, auto handler) {
    auto* a = new QAction(this);
    a->setShortcut(keys);
    a->setShortcutContext(Qt::WindowShortcut);
    connect(a, &QAction::triggered, this, handler);
    addAction(a);
    return a;
  };
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Up), [this] { moveKey(1); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Down), [this] { moveKey(-1); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Right), [this] { moveTempo(1); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Left), [this] { moveTempo(-1); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_0), [this] { cmdKeyTempoReset_Click(); });
  connect(spinKey, &QSpinBox::valueChanged, this, &frmMain::spinKey_Change);
  connect(spinTempo, &QSpinBox::valueChanged, this, &frmMain::spinTempo_Change);
  connect(cmdKeyTempoReset, &QToolButton::clicked, this, &frmMain::cmdKeyTempoReset_Click);
  connect(sliderVoice, &QSlider::valueChanged, this, &frmMain::sliderVoice_Change);
  // The guide voice is a share of what the remover takes away: nothing to set without it.
  connect(Chkrem, &QCheckBox::toggled, sliderVoice, &QSlider::setEnabled);
  connect(actSameLoudness, &QAction::triggered, this, &frmMain::actSameLoudness_Click);
  connect(&tmrLoudness, &QTimer::timeout, this, &frmMain::tmrLoudness_Timer);
  tmrLoudness.setInterval(200);

  loudness =
      std::make_unique<player::SongLoudness>(player::SongLoudness::userCacheDir(), std::string());
  actSameLoudness->setChecked(QSettings().value(kLoudnessSetting, true).toBool());
  loudness->setEnabled(actSameLoudness->isChecked());

  // "Options > Remover": the side signal (the remover as it always was) or centre extraction.
  QMenu* remover = mnutil->addMenu("Remover");
  remover->setObjectName("mnuRemover");
  auto* methods = new QActionGroup(remover);
  actRemoverSide = remover->addAction("Side signal");
  actRemoverCentre = remover->addAction("Centre extraction");
  actRemoverSide->setToolTip("Removes the centre with the band's bass and drums, in mono");
  actRemoverCentre->setToolTip("Removes the centred voice and keeps the band in stereo");
  for (QAction* a : {actRemoverSide, actRemoverCentre}) {
    a->setCheckable(true);
    methods->addAction(a);
    connect(a, &QAction::triggered, this, &frmMain::mnuRemover_Click);
  }
  const bool centre = QSettings().value(kRemoverSetting).toString() == "centre";
  (centre ? actRemoverCentre : actRemoverSide)->setChecked(true);
  player->setRemoverMethod(centre ? player::AudioPlayer::RemoverMethod::Centre
                                  : player::AudioPlayer::RemoverMethod::Side);
}

void frmMain::mnuRemover_Click() {
  const bool centre = actRemoverCentre->isChecked();
  player->setRemoverMethod(centre ? player::AudioPlayer::RemoverMethod::Centre
                                  : player::AudioPlayer::RemoverMethod::Side);
  QSettings().setValue(kRemoverSetting, centre ? "centre" : "side");
}

void frmMain::spinKey_Change() {
  player->setSongKey(spinKey->value());
}

void frmMain::spinTempo_Change() {
  player->setSongTempo(spinTempo->value());
}

void frmMain::cmdKeyTempoReset_Click() {
  if (!audioSong) {
    vscroll1->setValue(0);
    vslidertempo->setValue(64);
    return;
  }
  spinKey->setValue(0);
  spinTempo->setValue(100);
}

// The shortcuts move the song that is chosen: an audio song's spin boxes, or the MIDI player's
// key scroll bar and tempo slider by one step.
void frmMain::moveKey(int step) {
  if (audioSong)
    spinKey->stepBy(step);
  else
    vscroll1->setValue(vscroll1->value() + step);
}

void frmMain::moveTempo(int step) {
  if (audioSong)
    spinTempo->stepBy(step);
  else
    vslidertempo->setValue(vslidertempo->value() + step);
}

// A new audio song plays in its own key and tempo.
void frmMain::songChosen(const QString& path) {
  spinKey->setValue(0);
  spinTempo->setValue(100);
  player->resetKeyTempo();
  loudness->songOpened(path.toStdString());
  tmrLoudness.start();
}

void frmMain::sliderVoice_Change() {
  player->setVoice(sliderVoice->value());
}

void frmMain::actSameLoudness_Click() {
  loudness->setEnabled(actSameLoudness->isChecked());
  QSettings().setValue(kLoudnessSetting, actSameLoudness->isChecked());
  applySongGain(true);
  // Switched on, the song is measured now: its gain follows as it is learnt.
  if (!loudness->settled()) tmrLoudness.start();
}

// The gain of the song now known: at once before it is heard, gently while it plays (the
// estimate grows as the song is measured).
void frmMain::applySongGain(bool ramp) {
  const float gain = loudness->gainDb();
  if (audioSong)
    player->setSongGain(gain, ramp);
  else if (midiPlayer->midiPerformance)
    midiPlayer->midiPerformance->SetSongGain(gain, ramp);
}

void frmMain::tmrLoudness_Timer() {
  applySongGain(true);
  if (loudness->settled()) tmrLoudness.stop();
}
