// The main window walked at random, as a user off the happy path would: from fixed seeds, random
// sequences of opening WAV, MP3, .kar and .mid songs, Play, Stop, REC, the recorder's stop,
// "&DigitalRecorder", saving the take as WAV and MP3, key and tempo, the remover, the CD window
// on an image with its rip, answering every message box as a user might. After every step the
// window must keep its promises: an unsaved take is never lost without the user's answer, a take
// started over a song has the song playing, the key heard is the key shown, and the save, record
// and stop buttons never offer what cannot be done. The real engine runs on SDL's paced silent
// device. A failing seed prints the actions that led to it; keep it as a fixed case.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <random>
#include <sstream>

#include "CdImage.h"
#include "MainWindowTest.h"
#include "SmfWriter.h"
#include "TestAudio.h"
#include "frmDemo.h"
#include "frmMain.h"

#ifndef ORIVELR_WALK_FIRST_SEED
#define ORIVELR_WALK_FIRST_SEED 1
#define ORIVELR_WALK_SEEDS 20
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kSteps = 200;
constexpr double kSongSeconds = 2;

// The songs of the walk, written once per test program.
struct Songs {
  explicit Songs(const fs::path& dir) {
    const auto audio =
        testaudio::makeAudio(44100, 2, int64_t(44100 * kSongSeconds), [](int64_t f, int c) {
          return testaudio::sine(440, 0.2, f, 44100) +
                 testaudio::sine(c ? 4000 : 1000, 0.1, f, 44100);
        });
    wav = dir / "song.wav";
    testaudio::writeWav(wav, audio);
    mp3 = dir / "song.mp3";
    testaudio::encodeMp3(wav, mp3);
    kar = dir / "song.kar";
    testmidi::writeFile(kar, midi(true));
    mid = dir / "song.mid";
    testmidi::writeFile(mid, midi(false));
    cdImage = testaudio::writeCdImage(dir);
  }
  // Two seconds at 120 beats a minute: a piano line, drums, and words on the karaoke one.
  static testmidi::Bytes midi(bool words) {
    testmidi::TrackWriter conductor;
    conductor.tempo(0, 500000).end();
    testmidi::TrackWriter t;
    t.text(0, 0x03, "Walk").program(0, 0, 0).controller(0, 0, 7, 100);
    if (words) t.text(0, 0x01, "@KMIDI KARAOKE FILE").text(0, 0x01, "@TWalk");
    for (int i = 0; i < int(kSongSeconds * 2); ++i) {
      if (words) t.text(i ? 240 : 0, 0x01, i % 2 == 0 ? "/Can" : "ta");
      t.noteOn(0, 0, 60 + i % 5, 100).noteOn(0, 9, 36, 100);
      t.channel(240, 0x80, {uint8_t(60 + i % 5), 0});
    }
    t.end(0);
    return testmidi::buildSmf(1, 480, {conductor.bytes(), t.bytes()});
  }
  fs::path wav, mp3, kar, mid, cdImage;
};

QByteArray fileHash(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash h(QCryptographicHash::Sha1);
  h.addData(&f);
  return h.result();
}

// A menu item the user can reach: it and every menu above it are enabled.
bool reachable(QAction* a) {
  if (!a || !a->isEnabled() || !a->isVisible()) return false;
  for (QObject* o : a->associatedObjects())
    if (auto* m = qobject_cast<QMenu*>(o))
      if (!m->isEnabled() || !reachable(m->menuAction())) return false;
  return true;
}

bool clickable(QAbstractButton* b) {
  return b && b->isEnabled() && b->isVisibleTo(b->window());
}

class Walker {
 public:
  Walker(frmMain* w, apptest::InstalledServices& s, const Songs& songs, const fs::path& home,
         uint32_t seed)
      : w_(w), s_(s), songs_(songs), home_(home), rng_(seed), seed_(seed) {
    take_ = QString::fromStdString((home / "NEWWAVE.WAV").string());
    s_.messages.onShow = [this](const apptest::Shown& m) { answer(m); };
  }
  ~Walker() { s_.messages.onShow = nullptr; }

  void start() {
    clock_.start();
    schedule();
  }
  // Every step done, every take and encoding ended, no handler still running.
  bool finished() const { return windDown_ && depth_ == 0 && !mp3Pending_; }
  const std::vector<std::string>& failures() const { return failures_; }
  std::string trail() const {
    std::ostringstream o;
    o << "seed " << seed_ << ", the last actions:";
    const size_t from = trail_.size() > 60 ? trail_.size() - 60 : 0;
    for (size_t i = from; i < trail_.size(); ++i) o << "\n  " << i << " " << trail_[i];
    return o.str();
  }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }

  void fail(const std::string& what) {
    if (failures_.size() < 5) failures_.push_back(what + " (after " + last_ + ")\n" + trail());
  }

  // A message box opens: the user answers it.
  void answer(const apptest::Shown& m) {
    int a = app::kAnswerOk;
    if (m.title == "PlayBack") {
      takeRecording_ = false;  // the take is over; its playback may follow
      a = (!windDown_ && chance(0.25)) ? app::kAnswerYes : app::kAnswerNo;
    } else if (m.text.startsWith("The last take has not been saved")) {
      a = (!windDown_ && chance(0.5)) ? app::kAnswerYes : app::kAnswerNo;
      if (a == app::kAnswerYes) unsaved_.clear();  // the user agreed to lose it
    } else if (m.title == "ORIVEL" && m.text == "Fatto!") {
      // The take is complete on disk: from now on it must not be lost.
      if (QFileInfo(take_).size() > 44) unsaved_ = fileHash(take_);
    } else if (m.title == "VARENO" && m.text == "Fatto!") {
      if (mp3Pending_ && fs::file_size(*mp3Pending_) > 0) unsaved_.clear();
      mp3Pending_.reset();
    } else if (m.title == "VARENO" && mp3Pending_ && m.style == app::kStyleExclamation) {
      mp3Pending_.reset();  // the encoding failed
    } else if (m.text.startsWith("WAV File Encoded")) {
      // The rip is the next song of the audio player.
      song_ = Kind::Audio;
      cdPending_ = true;
    } else if (m.text.startsWith("The take could not be saved")) {
      fail("saving the take as WAV failed: " + m.text.toStdString());
    }
    trail_.push_back("  box \"" + m.title.toStdString() + "\" \"" + m.text.left(40).toStdString() +
                     "\" -> " + std::to_string(a));
    s_.messages.answers.push_front(a);
  }

  // The next tick is a timer of its own, so that it also comes while a step blocks in a
  // handler's event loop (Qt never re-enters a timer whose tick is still running).
  void schedule() {
    QTimer::singleShot(2, &context_, [this] { tick(); });
  }

  void tick() {
    if (!(windDown_ && finished())) schedule();
    checkTheTakesSong();
    if (clock_.elapsed() < resumeAtMs_) return;
    if (steps_ >= kSteps) windDown_ = true;
    if (windDown_) {
      // Every running take and playback is stopped; then the walk is over.
      if (clickable(w_->cmdplaystop))
        act("stop the take's playback",
            [this] { QTest::mouseClick(w_->cmdplaystop, Qt::LeftButton); });
      if (clickable(w_->cmdstop))
        act("stop the take", [this] { QTest::mouseClick(w_->cmdstop, Qt::LeftButton); });
      return;
    }
    ++steps_;
    step();
  }

  // Runs one action as a step: the walk goes on from inside it when it blocks (a take, its
  // playback, a rip), and the window's promises are checked when it returns.
  void act(const std::string& name, const std::function<void()>& f) {
    trail_.push_back(std::string(size_t(depth_) * 2, ' ') + name);
    last_ = name;
    ++depth_;
    f();
    --depth_;
    // An answer the action left unused was for a dialog that never opened.
    s_.files.answers.clear();
    check();
  }

  void step() {
    const int choice = pick(22);
    switch (choice) {
      case 0:
      case 1:
        return chooseAudio(chance(0.5) ? songs_.wav : songs_.mp3);
      case 2:
      case 3:
        return chooseMidi(chance(0.6) ? songs_.kar : songs_.mid);
      case 4:
      case 5:
        if (clickable(w_->Cmdplw)) {
          act("audio play", [this] { click(w_->Cmdplw); });
          free_ = false;
          if (cdPending_) audioFile_ = AudioFile::Track;
          cdPending_ = false;
        }
        return;
      case 6:
        if (clickable(w_->cmdstw)) act("audio stop", [this] { click(w_->cmdstw); });
        return;
      case 7:
      case 8:
        if (clickable(w_->Cmd_Play)) {
          act("MIDI play", [this] { click(w_->Cmd_Play); });
          free_ = false;
        }
        return;
      case 9:
        if (clickable(w_->Cmd_Stop)) act("MIDI stop", [this] { click(w_->Cmd_Stop); });
        return;
      case 10:
      case 11:
        if (clickable(w_->cmdrec)) record();
        return;
      case 12:
        if (clickable(w_->cmdstop)) act("stop the take", [this] { click(w_->cmdstop); });
        return;
      case 13:
        if (reachable(w_->mnew)) {
          act("DigitalRecorder", [this] { w_->mnew->trigger(); });
          free_ = true;
        }
        return;
      case 14:
        return saveWav();
      case 15:
        return saveMp3();
      case 16: {
        const int key =
            w_->vscroll1->minimum() + pick(w_->vscroll1->maximum() - w_->vscroll1->minimum() + 1);
        if (w_->vscroll1->isEnabled())
          act("key " + std::to_string(key), [this, key] { w_->vscroll1->setValue(key); });
        if (w_->vslidertempo->isEnabled() && chance(0.3)) {
          const int tempo = pick(128);
          act("tempo " + std::to_string(tempo),
              [this, tempo] { w_->vslidertempo->setValue(tempo); });
        }
        // The audio song's key and tempo, whatever plays: they count from the next play.
        if (chance(0.5)) {
          const int audioKey = pick(13) - 6, audioTempo = 50 + pick(101);
          act("audio key " + std::to_string(audioKey) + " tempo " + std::to_string(audioTempo),
              [this, audioKey, audioTempo] {
                w_->spinKey->setValue(audioKey);
                w_->spinTempo->setValue(audioTempo);
              });
        }
        return;
      }
      case 17:
        if (clickable(w_->Chkrem)) act("remover", [this] { click(w_->Chkrem); });
        return;
      case 18:
        return cdWindow();
      case 19:
        if (clickable(w_->cmdplaystop))
          act("stop the take's playback", [this] { click(w_->cmdplaystop); });
        return;
      default: {
        const int ms = 30 + pick(400);
        trail_.push_back(std::string(size_t(depth_) * 2, ' ') + "wait " + std::to_string(ms));
        resumeAtMs_ = clock_.elapsed() + ms;
        return;
      }
    }
  }

  void click(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); }

  void chooseAudio(const fs::path& song) {
    if (!reachable(w_->menuwave)) return;
    const bool cancel = chance(0.1);
    act(cancel ? "open WAV/MP3, cancelled" : "open " + song.filename().string(), [=, this] {
      if (cancel)
        s_.files.answers.push_back(std::nullopt);
      else
        s_.files.answers.push_back(QString::fromStdString(song.string()));
      w_->menuwave->trigger();
    });
    // The dialog forgets the song before it opens: a cancel leaves no file to play.
    audioFile_ = cancel ? AudioFile::None : AudioFile::Chosen;
    if (!cancel) {
      song_ = Kind::Audio;
      free_ = false;
      cdPending_ = false;
    }
  }

  void chooseMidi(const fs::path& song) {
    if (!reachable(w_->MnuOpenSong)) return;
    act("open " + song.filename().string(), [=, this] {
      s_.files.answers.push_back(QString::fromStdString(song.string()));
      w_->MnuOpenSong->trigger();
    });
    song_ = Kind::Midi;
    free_ = false;
  }

  void record() {
    // What the take must be recorded over: the song chosen last, unless a take without a song
    // was asked for after it.
    if (cdPending_) audioFile_ = AudioFile::Track;  // the record command takes the ripped track
    cdPending_ = false;
    const bool trackThere = fs::exists(home_ / "TRACK.WAV");
    expectSong_ =
        !free_ && (song_ == Kind::Midi ||
                   (song_ == Kind::Audio && (audioFile_ == AudioFile::Chosen ||
                                             (audioFile_ == AudioFile::Track && trackThere))));
    songCheckPending_ = true;
    takeRecording_ = true;
    recStartedMs_ = clock_.elapsed();
    act("REC", [this] {
      click(w_->cmdrec);
      takeRecording_ = false;
    });
    songCheckPending_ = false;
  }

  void saveWav() {
    if (!clickable(w_->cmdsavewav)) return;
    const fs::path to = home_ / ("take" + std::to_string(++saves_) + ".wav");
    act("save the take as WAV", [&, this] {
      s_.files.answers.push_back(QString::fromStdString(to.string()));
      click(w_->cmdsavewav);
    });
    if (fs::exists(to) && !unsaved_.isEmpty()) {
      if (fileHash(QString::fromStdString(to.string())) != unsaved_)
        fail("the saved WAV is not the take");
      unsaved_.clear();
    }
  }

  void saveMp3() {
    if (!clickable(w_->cmdsave)) return;
    const fs::path to = home_ / ("take" + std::to_string(++saves_) + ".mp3");
    mp3Pending_ = to;
    act("save the take as MP3", [&, this] {
      s_.files.answers.push_back(QString::fromStdString(to.string()));
      click(w_->cmdsave);
    });
  }

  void cdWindow() {
    frmDemo* cd = w_->cdWindow.get();
    if (!cd || !cd->isVisible()) {
      if (reachable(w_->cdripper)) {
        act("open the CD window", [this] { w_->cdripper->trigger(); });
        cdPending_ = true;
      }
      return;
    }
    if (!cd->isEnabled()) return;  // a rip runs
    if (chance(0.4)) {
      act("close the CD window", [cd] { cd->close(); });
      return;
    }
    act("rip a track", [cd, this] {
      cd->cmbCDDrives->setCurrentIndex(cd->cmbCDDrives->count() - 1);
      cd->cmbCDDrives_Click();
      ripping_ = cd->lstTracks->count() > 0;
      if (!ripping_) return;
      cd->lstTracks->setCurrentRow(pick(cd->lstTracks->count()));
      cd->optExtractMode[0]->click();  // to a WAV file, the main window's next song
      QTest::mouseClick(cd->cmdButton[7], Qt::LeftButton);
      ripping_ = false;
    });
  }

  bool songHeard() const {
    if (song_ == Kind::Audio)
      return BASS_ChannelIsActive(w_->player->mainStream) != BASS_ACTIVE_STOPPED;
    return w_->midiPlayer->songPlaying != 0 || w_->midiPlayer->midiRunning;
  }

  // The window's promises, after every step.
  void check() {
    // An unsaved take is where it was, as it was.
    if (!unsaved_.isEmpty() && fileHash(take_) != unsaved_)
      fail("the unsaved take was lost or changed without the user's answer");
    // The save buttons offer only a take that is there, and never while it is recorded.
    const bool recording = takeRecording_;
    if ((w_->cmdsave->isEnabled() || w_->cmdsavewav->isEnabled()) &&
        (recording || QFileInfo(take_).size() <= 44))
      fail("a save button is enabled with no take to save");
    if (w_->cmdrec->isEnabled() && (recording || ripping_ || mp3Pending_))
      fail("REC is enabled while a take, a rip or an encoding runs");
    if (w_->cmdstop->isEnabled() && !recording) fail("the recorder's stop is enabled with no take");
    // The singer's pitch is tracked and drawn only while a take records.
    if (!recording &&
        (recorder::wavePlayerHooks().livePitch || (w_->lblLane && w_->lblLane->isVisible())))
      fail("the pitch lane runs with no take");
    checkTheKey();
  }

  // A take over a song has the song playing when it starts (or the song has had its time),
  // looked at before the user does anything else.
  void checkTheTakesSong() {
    if (songCheckPending_ && w_->cmdstop->isEnabled()) {
      songCheckPending_ = false;
      const bool hadItsTime = clock_.elapsed() - recStartedMs_ > qint64(kSongSeconds * 900);
      if (expectSong_ && !songHeard() && !hadItsTime)
        fail("the take started without its song (" +
             std::string(song_ == Kind::Audio ? "audio song " : "MIDI song ") +
             w_->CMDialog1.FileName.toStdString() + ")");
    }
  }

  void checkTheKey() {
    // The audio player plays in the key and at the tempo its boxes show.
    if (w_->player->songKey() != w_->spinKey->value() ||
        w_->player->songTempo() != w_->spinTempo->value())
      fail("the audio song's key and tempo are not the ones shown");
    // The key heard is the key shown.
    if (song_ == Kind::Midi && w_->midiPlayer->songPlaying && w_->midiPlayer->midiPerformance) {
      const int heard = w_->midiPlayer->midiPerformance->GetTranspose(0);
      if (heard != w_->vscroll1->value())
        fail("the key heard is " + std::to_string(heard) + ", the key shown " +
             std::to_string(w_->vscroll1->value()));
    }
  }

  frmMain* w_;
  apptest::InstalledServices& s_;
  const Songs& songs_;
  fs::path home_;
  std::mt19937 rng_;
  uint32_t seed_;
  QString take_;
  QObject context_;  // the ticks' timers end with the walker
  QElapsedTimer clock_;
  qint64 resumeAtMs_ = 0;
  int steps_ = 0;
  int depth_ = 0;
  int saves_ = 0;
  bool windDown_ = false;
  // What the user chose, as the user remembers it: the song, a take without one, a CD track.
  enum class Kind { None, Audio, Midi } song_ = Kind::None;
  enum class AudioFile { None, Chosen, Track } audioFile_ = AudioFile::None;
  bool free_ = false;
  bool cdPending_ = false;
  bool takeRecording_ = false;  // from REC until the take is over ("PlayBack" is asked)
  bool ripping_ = false;
  bool expectSong_ = false;
  bool songCheckPending_ = false;
  qint64 recStartedMs_ = 0;
  QByteArray unsaved_;
  std::optional<fs::path> mp3Pending_;
  std::string last_ = "the start";
  std::vector<std::string> trail_;
  std::vector<std::string> failures_;
};

class WindowWalk : public apptest::MainWindowTest, public testing::WithParamInterface<uint32_t> {
 protected:
  void SetUp() override {
    songs = std::make_unique<Songs>(songDir.path());
    setenv("ORIVELR_CD_IMAGES", songs->cdImage.c_str(), 1);
    MainWindowTest::SetUp();
  }
  testaudio::TempDir songDir;
  std::unique_ptr<Songs> songs;
};

TEST_P(WindowWalk, KeepsItsPromisesAfterEveryStep) {
  Walker walk(w, s, *songs, home.path(), GetParam());
  walk.start();
  // The walk ends by itself; a window that hangs in a handler never gets there.
  const bool ended = QTest::qWaitFor([&] { return walk.finished(); }, 240000);
  EXPECT_TRUE(ended) << "the walk did not end\n" << walk.trail();
  for (const auto& f : walk.failures()) ADD_FAILURE() << f;
}

INSTANTIATE_TEST_SUITE_P(Seeds, WindowWalk,
                         testing::Range<uint32_t>(ORIVELR_WALK_FIRST_SEED,
                                                  ORIVELR_WALK_FIRST_SEED + ORIVELR_WALK_SEEDS));

}  // namespace
