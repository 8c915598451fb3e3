// The main window's side of the singer's screen: the menu item that shows it, the song clock
// of the player chosen, the words and pictures of each song (an audio song's LRC file beside
// it, an MP3+G package, a karaoke MIDI file's lyric track), and a song opened from the command
// line as if chosen from its menu item.
#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QLoggingCategory>
#include <QMenu>
#include <QPainter>
#include <QStandardPaths>
#include <QToolButton>
#include <filesystem>

#include "KarLyrics.h"
#include "LivePitch.h"
#include "LiveSinging.h"
#include "LrcParser.h"
#include "Melody.h"
#include "SingerScreen.h"
#include "SongPackage.h"
#include "TakeScore.h"
#include "WaveSetup.h"
#include "frmMain.h"

Q_LOGGING_CATEGORY(lcSinger, "orivelR.singer")

namespace {

constexpr char kMessageTitle[] = "orivelR";
constexpr char kNoMelodyText[] = "No score: the song's words follow none of its parts";
// The lanes follow the voice at this step (the tracker gives an estimate every 10 ms).
constexpr int kSingingTickMs = 20;
// The small lane at the foot of the karaoke picture, in parts of its height.
constexpr double kSmallLaneShare = 0.28;

// The file dialog of one menu command answered with a file already known.
class KnownFile final : public app::FileDialogService {
 public:
  explicit KnownFile(QString path) : path_(std::move(path)) {}
  std::optional<QString> openFile(QWidget*, const app::FileDialogRequest&) override {
    return path_;
  }

 private:
  QString path_;
};

std::filesystem::path localPath(const QString& path) {
  return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// Where the MP3 of a zipped MP3+G song is put to be played.
std::filesystem::path packageCacheFolder() {
  return localPath(QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + "/mp3g");
}

bool isPackageName(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  return suffix == "zip" || suffix == "cdg";
}

}  // namespace

void frmMain::singerSetup() {
  singerScreen = new app::SingerScreen(this);
  singerPicture = new app::SingerPicture(Picture3, this);
  actSingerScreen = new QAction("Singer Screen", this);
  actSingerScreen->setObjectName("actSingerScreen");
  actSingerScreen->setCheckable(true);
  actSingerScreen->setShortcut(QKeySequence(Qt::Key_F2));
  mnutil->addAction(actSingerScreen);
  // F2 works from either window, and while a song plays (its menu is then disabled).
  addAction(actSingerScreen);
  singerScreen->addAction(actSingerScreen);
  connect(actSingerScreen, &QAction::triggered, this, &frmMain::actSingerScreen_Click);
  connect(singerScreen, &app::SingerScreen::shownChanged, actSingerScreen, &QAction::setChecked);
  singingTimer.setInterval(kSingingTickMs);
  singingTimer.setTimerType(Qt::PreciseTimer);
  connect(&singingTimer, &QTimer::timeout, this, &frmMain::singingTick);
}

void frmMain::actSingerScreen_Click() {
  singerScreen->setVisible(actSingerScreen->isChecked());
}

bool frmMain::singerSongChosen(const QString& path) {
  auto song = std::make_shared<app::SingerSong>();
  if (karaoke::isSongPackage(localPath(path)) || isPackageName(path)) {
    std::string error;
    auto package = karaoke::openSongPackage(localPath(path), packageCacheFolder(), &error);
    if (!package) {
      app::services().messages->show(
          app::kStyleExclamation, kMessageTitle,
          QString("Cannot open %1: %2").arg(path, QString::fromStdString(error)));
      // Nothing is chosen: there is no song left to play.
      CMDialog1.FileName.clear();
      Cmdplw->setEnabled(false);
      singerScreen->setSong(nullptr);
      singerPicture->stop();
      return false;
    }
    CMDialog1.FileName = QFile::decodeName(package->audio.c_str());
    song->cdg = std::move(package->cdg);
  } else if (const auto lrc = karaoke::findLrcFor(localPath(path))) {
    std::string error;
    if (auto lyrics = karaoke::readLrcFile(*lrc, &error))
      song->lyrics = std::move(*lyrics);
    else
      qCWarning(lcSinger) << "lyrics not read:" << QFile::decodeName(lrc->c_str())
                          << QString::fromStdString(error);
  }
  if (song->lyrics.title.empty())
    song->lyrics.title = QFileInfo(path).completeBaseName().toStdString();
  // The position heard, in the song's own time: the engine counts it at any key and tempo.
  app::SongClock clock{[this] {
                         const HSTREAM s = player->mainStream;
                         const QWORD pos = s ? BASS_ChannelGetPosition(s) : QWORD(-1);
                         return pos == QWORD(-1) ? 0.0 : BASS_ChannelBytes2Seconds(s, pos) * 1000;
                       },
                       [this] {
                         const HSTREAM s = player->mainStream;
                         const QWORD len = s ? BASS_StreamGetLength(s) : QWORD(-1);
                         return len == QWORD(-1) ? 0.0 : BASS_ChannelBytes2Seconds(s, len) * 1000;
                       },
                       [this] { return player->songKey(); }};
  singerScreen->setSong(song);
  singerScreen->setClock(clock);
  singerPicture->setSong(song, clock, [this] { return audioSong; });
  return true;
}

void frmMain::singerMidiOpened() {
  auto song = std::make_shared<app::SingerSong>();
  song->lyrics = karaoke::karLyrics(midiPlayer->songBytes);
  if (song->lyrics.title.empty())
    song->lyrics.title = QFileInfo(CMDialog1.FileName).completeBaseName().toStdString();
  std::string noMelody;
  song->melody = singing::songMelody(midiPlayer->songBytes, &noMelody);
  if (!song->melody)
    qCInfo(lcSinger) << "no pitch lane or score:" << QString::fromStdString(noMelody);
  midiMelody = song->melody ? std::make_shared<const singing::Melody>(*song->melody) : nullptr;
  singingStop();
  liveSinging.reset();
  singerScreen->setSinging(nullptr);
  singerPicture->stop();
  singerScreen->setSong(song);
  // The sequencer's position as heard, in seconds of the file's own tempo map.
  singerScreen->setClock({[this] {
                            return midiPlayer->songPlaying == 1
                                       ? midiPlayer->seconds(midiPlayer->songState.GetSeekHeard()) *
                                             1000
                                       : 0.0;
                          },
                          [this] { return midiPlayer->lengthSeconds() * 1000; },
                          [this] { return midiPlayer->keyHeard(); }});
}

void frmMain::openFromCommandLine(const QString& song) {
  const QFileInfo info(song);
  const QString suffix = info.suffix().toLower();
  const bool midi = suffix == "mid" || suffix == "kar" || suffix == "midi";
  const bool audio = suffix == "wav" || suffix == "mp3" || isPackageName(song);
  if (!info.isFile() || !(midi || audio)) {
    app::services().messages->show(app::kStyleExclamation, kMessageTitle,
                                   QString("Cannot open %1: not a song file").arg(song));
    return;
  }
  // The menu command runs as the user would run it, its file dialog answered with the song.
  KnownFile known(info.absoluteFilePath());
  app::FileDialogService* const dialog = app::services().files;
  app::services().files = &known;
  if (midi)
    MnuOpenSong_Click();
  else
    menuwave_Click();
  app::services().files = dialog;
}

void frmMain::scoreTake(const QString& take) {
  std::string why;
  const auto score =
      recorder::scoreTakeFile(midiPlayer->songBytes, take.toStdString(), takeMoves, &why);
  if (!score) qCWarning(lcSinger) << "the take has no score:" << QString::fromStdString(why);
  // A song whose words follow no part of it is not scored, and the label says so.
  showTakeScore(score ? std::optional<int>(score->total) : std::nullopt,
                midiMelody ? QString() : QString(kNoMelodyText));
}

void frmMain::singingStart() {
  singingStop();
  takeMoves = {midiPlayer->keyHeard(), midiPlayer->tempoHeard(), {}};
  followingTakeMoves = true;
  const audiolib::CaptureFormat f = recorder::recordingFormat();
  // The live tracker reads 16-bit takes; an 8-bit take is still scored from its file.
  if (!midiMelody || f.bits != 16) return;
  livePitch = std::make_unique<recorder::LivePitch>(f.rate);
  liveSinging = std::make_shared<singing::LiveSinging>(
      *midiMelody,
      midi::songLyrics(midiPlayer->songBytes, midi::findLyricSource(midiPlayer->songBytes)),
      takeMoves, f.rate);
  recorder::wavePlayerHooks().livePitch = livePitch.get();
  singerScreen->setSinging(liveSinging);
  if (!lblLane) {
    lblLane = new QLabel(Picture3);
    lblLane->setObjectName("lblLane");
  }
  const int h = int(Picture3->height() * kSmallLaneShare);
  lblLane->setGeometry(0, Picture3->height() - h, Picture3->width(), h);
  lblLane->show();
  singingTimer.start();
}

void frmMain::singingTick() {
  if (!livePitch || !liveSinging) return;
  std::array<singing::PitchPoint, 128> points;
  while (const size_t n = livePitch->read(points)) liveSinging->add(std::span(points.data(), n));
  for (const singing::LineScore& line : liveSinging->linesOver())
    if (line.score) singerScreen->showLineScore(*line.score);
  // The small lane at the song's position as heard, like the singer's screen.
  const double songMs = std::max(0.0, takeMoves.songMs(liveSinging->heardMs()));
  const karaoke::LaneFrame lane =
      karaoke::laneAt(*midiMelody, takeMoves.transposeAt(songMs), liveSinging->sung(), songMs);
  QPixmap pixmap(lblLane->size());
  QPainter p(&pixmap);
  app::paintPitchLane(p, pixmap.rect(), lane);
  p.end();
  lblLane->setPixmap(pixmap);
}

void frmMain::singingMoved() {
  if (!followingTakeMoves || !midiPlayer->songPlaying) return;
  // The sequencer plays the new key and tempo from the song time it renders now.
  const singing::SongMoves::Change change{
      midiPlayer->seconds(midiPlayer->songState.GetSeek()) * 1000, midiPlayer->keyHeard(),
      midiPlayer->tempoHeard()};
  const int lastKey =
      takeMoves.changes.empty() ? takeMoves.transpose : takeMoves.changes.back().transpose;
  const double lastTempo =
      takeMoves.changes.empty() ? takeMoves.tempo : takeMoves.changes.back().tempo;
  if (change.transpose == lastKey && change.tempo == lastTempo) return;
  takeMoves.changes.push_back(change);
  if (liveSinging) liveSinging->move(change);
}

void frmMain::singingStop() {
  followingTakeMoves = false;
  singingTimer.stop();
  recorder::wavePlayerHooks().livePitch = nullptr;
  if (livePitch) {
    singingTick();  // what the worker gave before it stops
    livePitch.reset();
  }
  if (lblLane) lblLane->hide();
}

void frmMain::showTakeScore(std::optional<int> total, const QString& whyNone) {
  if (!lblScore) {
    lblScore = new QLabel(lblTime->parentWidget());
    lblScore->setObjectName("lblScore");
    lblScore->move(lblTime->x(), lblTime->y() + lblTime->height());
  }
  lblScore->setText(total ? app::scoreText(*total) : whyNone);
  lblScore->adjustSize();
  lblScore->setVisible(!lblScore->text().isEmpty());
  singerScreen->setScore(total);
}
