// The warning window, start-up and the audio player as the user meets them, off screen, with
// the real engine on SDL's paced silent output.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <memory>

#include "AppTestSupport.h"
#include "Form2.h"
#include "LumoCtl.h"
#include "Seconds2HMS.h"
#include "TestAudio.h"
#include "WorkFolder.h"
#include "frmMain.h"

using apptest::InstalledServices;
using apptest::Shown;
using testaudio::TempDir;

namespace {

class Window : public ::testing::Test {
 protected:
  void SetUp() override { setenv("ORIVELR_HOME", home.path().c_str(), 1); }
  void TearDown() override {
    delete w;
    if (BASS_GetVersion()) BASS_Free();
    unsetenv("ORIVELR_HOME");
  }

  // The warning window, accepted.
  frmMain* accept() {
    warning = std::make_unique<Form2>();
    warning->show();
    QTest::mouseClick(warning->Command1, Qt::LeftButton);
    return w = warning->mainWindow();
  }
  QString song(const char* name, int channels, int seconds) {
    const auto path = home / name;
    testaudio::writeWav(
        path, testaudio::makeAudio(44100, channels, 44100 * seconds, [](int64_t f, int c) {
          return testaudio::sine(c ? 660 : 440, 0.2, f, 44100);
        }));
    return QString::fromStdString(path.string());
  }
  QString stereoSong() { return song("song.wav", 2, 20); }
  // Chooses `path` through "&Open Wave Mp3 File".
  void choose(const QString& path) {
    s.files.answers.push_back(path);
    w->menuwave->trigger();
  }

  TempDir home;
  InstalledServices s;
  std::unique_ptr<Form2> warning;
  frmMain* w = nullptr;  // the main window, deleted after the test
};

TEST_F(Window, DecliningEndsWithoutTouchingTheEngine) {
  for (const bool escape : {false, true}) {
    s.exit.codes.clear();
    Form2 f;
    f.show();
    if (escape)
      QTest::keyClick(&f, Qt::Key_Escape);
    else
      QTest::mouseClick(f.Command2, Qt::LeftButton);
    EXPECT_EQ(s.exit.codes, std::vector<int>{0});
    EXPECT_EQ(f.mainWindow(), nullptr);
    EXPECT_FALSE(BASS_ChannelIsActive(1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);  // never initialised
    EXPECT_TRUE(s.messages.shown.empty());
  }
}

// An engine of 2.1 passes the version check as 2.0 (the default of every other test) does.
TEST_F(Window, ReturnAcceptsAndOpensTheMainWindowWithItsMeterListening) {
  s.engine.main = 2 | (1u << 16);
  Form2 f;
  f.show();
  QTest::keyClick(f.Command1, Qt::Key_Return);
  w = f.mainWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->isVisible());
  EXPECT_FALSE(f.isVisible());
  EXPECT_FALSE(w->Meff->isEnabled());  // until a song has played
  EXPECT_EQ(BASS_GetVolume(), 100u);   // the engine runs
  EXPECT_TRUE(s.messages.shown.empty());
  // The meter listens from the start; the calibration slider shows tenths; Vmeter switches the
  // meter off for good.
  EXPECT_TRUE(w->vmet->isChecked());
  EXPECT_EQ(w->lumo1->State(), LumoCtl::scRunning);
  EXPECT_EQ(w->lumo1->Quality(), LumoCtl::qc44S16);
  w->hsCalibration->setValue(12);
  w->hsCalibration->setValue(35);
  EXPECT_FLOAT_EQ(w->lumo1->Calibration(), 3.5f);
  EXPECT_FLOAT_EQ(w->calibrationFactor, 3.5f);
  EXPECT_EQ(w->lblFactor->text(), "(x3.5)");
  w->vmet->trigger();
  EXPECT_FALSE(w->vmet->isChecked());
  EXPECT_FALSE(w->vmet->isEnabled());
  EXPECT_EQ(w->lumo1->State(), LumoCtl::scIdle);
}

using Env = std::vector<std::pair<const char*, const char*>>;  // set while the window starts

struct StartFailure {
  const char* name;
  DWORD mainVersion, fxVersion;  // 0: the library is missing
  int style;
  const char* title;
  QStringList text;  // the whole text, or what it starts with and then parts it contains
  Env env = {};
};

class StartUpCheck : public Window, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(StartUpCheck, FailureShowsItsBoxAndEnds) {
  const StartFailure& f = GetParam();
  s.engine.mainPresent = f.mainVersion != 0;
  s.engine.fxPresent = f.fxVersion != 0;
  s.engine.main = f.mainVersion;
  s.engine.fx = f.fxVersion;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  for (const auto& [name, value] : f.env) {
    const char* old = std::getenv(name);
    saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(name, value, 1);
  }
  accept();
  for (const auto& [name, old] : saved)
    old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str());
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(w->isVisible());
  ASSERT_EQ(s.messages.shown.size(), 1u);
  const Shown& box = s.messages.shown[0];
  EXPECT_EQ(box.style, f.style);
  EXPECT_EQ(box.title, f.title);
  if (f.text.size() == 1) {
    EXPECT_EQ(box.text, f.text[0]);
  }
  EXPECT_TRUE(box.text.startsWith(f.text[0])) << box.text.toStdString();
  for (const QString& part : f.text.mid(1))
    EXPECT_TRUE(box.text.contains(part)) << box.text.toStdString();
  EXPECT_EQ(s.exit.codes.size(), 1u);
}

const DWORD v19 = 1 | (9u << 16), v21 = 2 | (1u << 16);
const char* const kOldEngine = "Error: BASS version 2.0 or greater was not loaded";
const Env kNoOutput = {{"SDL_AUDIODRIVER", "pulseaudio"},
                       {"PULSE_SERVER", "unix:/nonexistent/pulse"}};

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Checks, StartUpCheck,
    ::testing::Values(
        StartFailure{"NoEngine", 0, 2, 16, "BASS.DLL", {"BASS.DLL does not exists"}},
        StartFailure{"EngineOnePointNine", v19, 2, 16, "BASS.DLL", {kOldEngine}},
        StartFailure{"EngineOnePointZero", 1, 2, 16, "BASS.DLL", {kOldEngine}},
        StartFailure{"NoEffects", 2, 0, 16, "BASS_FX.DLL", {"BASS_FX.DLL does not exists!"}},
        StartFailure{"EffectsTwoPointOne", v21, v21, 16, "BASS_FX.DLL",
                     {"Error: BASS_FX version 2.0 was not loaded"}},
        StartFailure{"OutputThatCannotOpen", 2, 2, 48, "Error",
                     {"Couldn't Initialize Digital Output\n\nBASS Error Code: ",
                      "\nBASS_FX Error Code: "}, kNoOutput},
        StartFailure{"UnexpectedLoadError", 2, 2, 16, "ORIVEL",
                     {"Unanticipated error number91 occurred: test error"},
                     {{"ORIVELR_TEST_LOAD_ERROR", "91"}}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A cancelled dialog changes nothing; a chosen song replaces the old take, a name ending in
// .mpl keeps it and offers no recording.
TEST_F(Window, ChoosingASongPreparesANewTake) {
  accept();
  QFile take(app::workFile("NEWWAVE.WAV"));  // the take of an earlier session
  ASSERT_TRUE(take.open(QIODevice::WriteOnly));
  take.close();
  w->menuwave->trigger();  // no answer queued: cancel
  EXPECT_FALSE(w->Cmdplw->isEnabled());
  EXPECT_TRUE(w->MnuFile->isEnabled());
  EXPECT_FALSE(w->audioSong);
  EXPECT_TRUE(take.exists());
  choose(QString::fromStdString((home / "typed.mpl").string()));
  EXPECT_TRUE(take.exists());
  EXPECT_FALSE(w->cmdrec->isEnabled());
  EXPECT_TRUE(w->Cmdplw->isEnabled());
  const QString song = stereoSong();
  choose(song);
  ASSERT_EQ(s.files.requests.size(), 3u);
  EXPECT_EQ(s.files.requests[2].filter,
            "Wave Files (*.wav)|*.wav|Mp3 Files (*.mp3)|*.mp3"
            "|Karaoke MP3+G (*.zip *.cdg)|*.zip;*.cdg");
  EXPECT_EQ(s.files.requests[2].defaultSuffix, ".mpl");
  EXPECT_TRUE(w->Cmdplw->isEnabled());
  EXPECT_FALSE(w->cmdstw->isEnabled());
  EXPECT_FALSE(w->Cmd_Play->isEnabled());
  EXPECT_TRUE(w->cmdrec->isEnabled());
  EXPECT_EQ(w->LabelSongLength->text(), song);
  EXPECT_FALSE(w->MnuFile->isEnabled());
  EXPECT_TRUE(w->audioSong);
  EXPECT_FALSE(take.exists());
}

// Help shows the manual until its button closes it, and shows it anew; About names the
// program and its libraries.
TEST_F(Window, HelpShowsTheManualEachTimeAndAboutNamesTheProgram) {
  ASSERT_TRUE(accept());
  for (int round = 0; round < 2; ++round) {
    w->Mhelp->trigger();
    auto* help = w->findChild<QWidget*>("formp3");
    ASSERT_TRUE(help && help->isVisible()) << round;
    auto* text = help->findChild<QPlainTextEdit*>("Text2");
    ASSERT_TRUE(text && text->isVisible());
    EXPECT_TRUE(text->toPlainText().contains("VOCAL REMOVER  & KARAOKE RECORDER"));
    EXPECT_GT(text->toPlainText().size(), 8000);
    QTest::mouseClick(help->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(w->findChild<QWidget*>("formp3"));  // unloaded
  }
  w->MnuAbout->trigger();
  auto* about = w->findChild<QLabel*>("lblAbout");
  ASSERT_TRUE(about);
  EXPECT_TRUE(about->text().contains("orivelR"));
  EXPECT_TRUE(about->text().contains("FluidSynth"));
}

// The dialogs offer every song kind at once (MP3+G packages among the audio songs) before the
// program's own filters, and open where the last song was chosen, else in the music folder.
TEST(FileDialogs, CombinedFilterFirstAndTheLastSongsFolder) {
  EXPECT_EQ(app::qtFilter("Wave Files (*.wav)|*.wav|Mp3 Files (*.mp3)|*.mp3"),
            "Songs (*.wav *.mp3);;Wave Files (*.wav);;Mp3 Files (*.mp3)");
  EXPECT_EQ(app::qtFilter("Wave Files (*.wav)|*.wav|Mp3 Files (*.mp3)|*.mp3"
                          "|Karaoke MP3+G (*.zip *.cdg)|*.zip;*.cdg"),
            "Songs (*.wav *.mp3 *.zip *.cdg);;Wave Files (*.wav);;Mp3 Files (*.mp3);;"
            "Karaoke MP3+G (*.zip *.cdg)");
  EXPECT_EQ(app::qtFilter("Kar File (*.kar)|*.kar|Mid File(*.mid)|*.mid"),
            "MIDI and karaoke (*.mid *.kar);;Kar File (*.kar);;Mid File(*.mid)");
  EXPECT_EQ(app::qtFilter("DLS (*.DLS)|*.dls"), "DLS (*.DLS)");
  testaudio::TempDir dir;
  const QString folder = QString::fromStdString(dir.path().string());
  app::rememberDialogFolder(folder + "/song.kar");
  EXPECT_EQ(app::dialogStartFolder(), folder);
  std::filesystem::remove_all(dir.path());
  const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
  EXPECT_EQ(app::dialogStartFolder(), QFileInfo(music).isDir() ? music : QDir::homePath());
}

// Play and Stop set the buttons and menus; a second Play frees the first streams; a song that
// cannot load shows why and leaves the playing state for Stop to end; Exit stops the engine.
TEST_F(Window, PlayStopASongThatCannotLoadAndExit) {
  accept();
  choose(stereoSong());
  QTest::mouseClick(w->Cmdplw, Qt::LeftButton);
  EXPECT_FALSE(w->Cmdplw->isEnabled());
  EXPECT_TRUE(w->cmdstw->isEnabled());
  EXPECT_FALSE(w->cmdrec->isEnabled());
  EXPECT_FALSE(w->MnuFile->isEnabled());
  EXPECT_EQ(BASS_ChannelIsActive(w->player->mainStream), BASS_ACTIVE_PLAYING);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->SliderPosition->value() > 0; }, 3000));
  EXPECT_EQ(w->lblTime->text(), "00:20");
  EXPECT_TRUE(w->Label5->text().startsWith("00:0"));
  QTest::mouseClick(w->cmdstw, Qt::LeftButton);
  EXPECT_TRUE(w->Cmdplw->isEnabled());
  EXPECT_TRUE(w->cmdstw->isEnabled());
  EXPECT_TRUE(w->cmdrec->isEnabled());
  EXPECT_TRUE(w->MnuFile->isEnabled());
  EXPECT_TRUE(w->Meff->isEnabled());
  EXPECT_EQ(BASS_ChannelIsActive(w->player->mainStream), 0u);
  w->tmrPlaybackPosition_Timer();
  EXPECT_EQ(w->SliderPosition->value(), 0);
  EXPECT_EQ(w->lblTrackPosition->text(), "");

  w->Cmdplw_Click();
  const HSTREAM first = w->player->mainStream;
  w->Cmdplw_Click();
  EXPECT_NE(w->player->mainStream, first);
  EXPECT_EQ(BASS_ChannelIsActive(first), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);

  const auto bad = home / "bad.mp3";
  testaudio::run("head -c 4000 /dev/urandom > '" + bad.string() + "'");
  w->cmdstw_Click();
  choose(QString::fromStdString(bad.string()));
  w->Cmdplw_Click();
  ASSERT_EQ(s.messages.shown.size(), 1u);
  EXPECT_EQ(s.messages.shown[0].title, "Error");
  EXPECT_TRUE(s.messages.shown[0].text.startsWith("Selected file couldn't be loaded!\n\n"));
  EXPECT_EQ(w->LabelSongLength->text(), "click here to open a file & play it...");
  EXPECT_FALSE(w->Cmdplw->isEnabled());
  EXPECT_TRUE(w->cmdstw->isEnabled());
  w->cmdstw_Click();
  EXPECT_TRUE(w->Cmdplw->isEnabled());
  w->MnuExit->trigger();
  EXPECT_EQ(s.exit.codes, std::vector<int>{0});
  EXPECT_FALSE(BASS_GetVolume() <= 100);  // freed: the engine answers no more
}

// The song's key and tempo move from their boxes and from the keyboard while it plays (the
// bus then stretches it), go back with Reset and when a new song is chosen; the effect
// controls reach the streams; the guide voice is for the remover; the remover's method and the
// loudness option are kept for the next run.
TEST_F(Window, KeyTempoEffectsVoiceRemoverAndLoudnessControls) {
  accept();
  choose(stereoSong());
  w->Cmdplw_Click();
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  QTest::keyClick(w, Qt::Key_Up, Qt::ControlModifier);
  QTest::keyClick(w, Qt::Key_Up, Qt::ControlModifier);
  QTest::keyClick(w, Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(w->spinKey->value(), 2);
  EXPECT_EQ(w->spinTempo->value(), 99);
  EXPECT_EQ(w->player->songKey(), 2);
  EXPECT_EQ(w->player->songTempo(), 99);
  EXPECT_TRUE(QTest::qWaitFor([&] { return BASS_BusGetLatency(w->player->songBus) > 0; }, 3000));
  QTest::keyClick(w, Qt::Key_0, Qt::ControlModifier);
  EXPECT_EQ(w->player->songKey(), 0);
  EXPECT_EQ(w->player->songTempo(), 100);

  // The remover's and the equalizers' controls reach the streams.
  QTest::mouseClick(w->Chkrem, Qt::LeftButton);
  EXPECT_TRUE(w->Chkrem->isChecked());
  EXPECT_EQ(w->vcompr[0]->value(), 8);
  EXPECT_EQ(w->Slider3[0]->value(), 8);
  EXPECT_TRUE(w->Slider3[0]->isEnabled());
  // A slider moved (here from code) runs its change handler: band 3 goes to +10 dB.
  w->vseq[3]->setValue(0);
  EqBand b{};
  b.band = 3;
  ASSERT_TRUE(BASS_FX_DSP_GetParameters(w->player->mainStream, kFxPeakingEq, &b));
  EXPECT_EQ(b.gain, 10.0f);
  // The scroll bars apply on their change, as the thumb is released.
  w->Veq1[5]->setValue(10);
  b.band = 5;
  ASSERT_TRUE(BASS_FX_DSP_GetParameters(w->player->boostStream, kFxPeakingEq, &b));
  EXPECT_EQ(b.gain, 0.0f);
  QTest::mouseClick(w->Chkrem, Qt::LeftButton);
  EXPECT_EQ(w->vcompr[0]->value(), 10);
  EXPECT_EQ(w->Slider3[0]->value(), 10);
  EXPECT_FALSE(w->Slider3[0]->isEnabled());
  // The balance moves only the second stream.
  w->SliderBalance->setValue(-100);
  int mainPan = 1, boostPan = 1;
  BASS_ChannelGetAttributes(w->player->mainStream, nullptr, nullptr, &mainPan);
  BASS_ChannelGetAttributes(w->player->boostStream, nullptr, nullptr, &boostPan);
  EXPECT_EQ(mainPan, 0);
  EXPECT_EQ(boostPan, -100);

  w->spinKey->setValue(-7);  // past the range: held at its end
  w->spinTempo->setValue(90);
  EXPECT_EQ(w->player->songKey(), -6);
  QTest::mouseClick(w->cmdstw, Qt::LeftButton);
  choose(song("other.wav", 2, 5));
  EXPECT_EQ(w->spinKey->value(), 0);
  EXPECT_EQ(w->spinTempo->value(), 100);

  EXPECT_FALSE(w->sliderVoice->isEnabled());
  QTest::mouseClick(w->Chkrem, Qt::LeftButton);
  EXPECT_TRUE(w->sliderVoice->isEnabled());
  w->sliderVoice->setValue(30);
  EXPECT_EQ(w->player->voice(), 30);

  // The remover's method, kept for the next run.
  w->actRemoverCentre->trigger();
  EXPECT_EQ(w->player->removerMethod(), player::AudioPlayer::RemoverMethod::Centre);
  EXPECT_EQ(QSettings().value("options/remover").toString(), "centre");

  EXPECT_TRUE(w->actSameLoudness->isChecked());
  w->actSameLoudness->trigger();
  EXPECT_FALSE(w->actSameLoudness->isChecked());
  EXPECT_FALSE(QSettings().value("options/sameLoudness", true).toBool());
}

TEST(Seconds2HMS, MinutesAndSecondsThenHoursWrappingAtAHundred) {
  const std::pair<long, const char*> cases[] = {
      {0, "00:00"},       {59, "00:59"},      {61, "01:01"},       {3599, "59:59"},
      {3600, "01:00:00"}, {3725, "01:02:05"}, {360000, "00:00:00"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(Seconds2HMS(seconds), text) << seconds;
}

}  // namespace
