// The CD window on an image the test writes: the drive and its CD-TEXT track list, the panel
// and door buttons of an image, playback wrapping after the last track, a WAV rip handed to
// the main window (whose play button then plays it) and a WMA rip to TRACK<n>.WMA.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>
#include <filesystem>

#include "CdImage.h"
#include "MainWindowTest.h"
#include "TestAudio.h"
#include "frmDemo.h"
#include "frmMain.h"

namespace fs = std::filesystem;

namespace {

bool shown(const apptest::RecordingMessages& m, const QString& title, const QString& text) {
  for (const auto& s : m.shown)
    if (s.title == title && s.text.startsWith(text)) return true;
  return false;
}

class CdWindow : public apptest::MainWindowTest {
 protected:
  void SetUp() override {
    setenv("ORIVELR_CD_IMAGES", testaudio::writeCdImage(home.path()).c_str(), 1);
    MainWindowTest::SetUp();
    if (HasFatalFailure()) return;
    w->cdripper->trigger();
    cd = w->cdWindow.get();
    ASSERT_TRUE(cd && cd->isVisible());
  }
  frmDemo* cd = nullptr;
};

TEST_F(CdWindow, ListsTheImageWithItsCdTextAndHasNoDoor) {
  EXPECT_EQ(cd->windowTitle(), "CD Player &  Ripper");
  EXPECT_TRUE(w->ripPending);
  ASSERT_GE(cd->cmbCDDrives->count(), 1);
  EXPECT_TRUE(cd->cmbCDDrives->itemText(cd->cmbCDDrives->count() - 1).contains("disc.cue"));
  cd->cmbCDDrives->setCurrentIndex(cd->cmbCDDrives->count() - 1);
  cd->cmbCDDrives_Click();
  EXPECT_EQ(cd->txtCDArtist->text(), "Band");
  EXPECT_EQ(cd->txtCDAlbum->text(), "Album");
  ASSERT_EQ(cd->lstTracks->count(), 2);
  EXPECT_EQ(cd->lstTracks->item(0)->text(), "01\tAnn / One\t[00:06]");
  EXPECT_EQ(cd->lstTracks->item(1)->text(), "02\tBob / Two\t[00:03]");
  for (int b : {3, 4, 5, 6}) EXPECT_FALSE(cd->cmdButton[size_t(b)]->isEnabled()) << b;
  QTest::mouseClick(cd->cmdButton[9], Qt::LeftButton);
  EXPECT_EQ(cd->height(), frmDemo::kExpandedHeight);
  EXPECT_EQ(cd->cmdButton[9]->text(), "&Drive Info <<");
  QTest::mouseClick(cd->cmdButton[9], Qt::LeftButton);
  EXPECT_EQ(cd->height(), frmDemo::kCollapsedHeight);
  EXPECT_EQ(cd->cmdButton[9]->text(), "&Drive Info >>");
  // After the last track the list goes back to the first, and it plays.
  cd->PlayNextTrack(1);
  EXPECT_EQ(cd->lstTracks->currentRow(), 0);
  EXPECT_NE(BASS_ChannelIsActive(cd->cdStream), BASS_ACTIVE_STOPPED);
  QTest::mouseClick(cd->cmdButton[2], Qt::LeftButton);
  EXPECT_TRUE(s.messages.shown.empty());
}

// "&Fade Out" slides the volume to 0 over five seconds, then the next track starts at the
// volume of the slider.
TEST_F(CdWindow, FadeOutEndsInTheNextTrackAtTheSlidersVolume) {
  cd->cmbCDDrives->setCurrentIndex(cd->cmbCDDrives->count() - 1);
  cd->cmbCDDrives_Click();
  cd->SliderVolume->setValue(-80);
  cd->lstTracks->setCurrentRow(0);
  QTest::mouseClick(cd->cmdButton[0], Qt::LeftButton);
  const HSTREAM first = cd->cdStream;
  QTest::mouseClick(cd->cmdButton[8], Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return cd->cdStream != first; }, 10000));
  EXPECT_EQ(cd->lstTracks->currentRow(), 1);
  DWORD volume = 0;
  ASSERT_TRUE(BASS_ChannelGetAttributes(cd->cdStream, nullptr, &volume, nullptr));
  EXPECT_EQ(volume, 80u);
  QTest::mouseClick(cd->cmdButton[2], Qt::LeftButton);
}

TEST_F(CdWindow, WavRipBecomesTheMainWindowsSongAndWmaRipHasItsTrackNumber) {
  cd->cmbCDDrives->setCurrentIndex(cd->cmbCDDrives->count() - 1);
  cd->cmbCDDrives_Click();
  ASSERT_EQ(cd->lstTracks->count(), 2);
  cd->lstTracks->setCurrentRow(1);
  QTest::mouseClick(cd->cmdButton[7], Qt::LeftButton);  // "&WAV File" is the start
  EXPECT_TRUE(shown(s.messages, "ORIVEL", "WAV File Encoded."));
  const fs::path wav = home / "TRACK.WAV";
  EXPECT_EQ(fs::file_size(wav), 44u + uintmax_t(testaudio::kCdImageTrackSectors[1]) * 2352);
  EXPECT_EQ(w->LabelSongLength->text(), "    From CdAudio TRACK2");
  EXPECT_TRUE(w->Cmdplw->isEnabled());
  EXPECT_FALSE(w->Cmd_Play->isEnabled());
  EXPECT_FALSE(cd->isVisible());
  QTest::mouseClick(w->Cmdplw, Qt::LeftButton);  // plays the ripped track
  EXPECT_EQ(w->CMDialog1.FileName, QString::fromStdString(wav.string()));
  EXPECT_NE(BASS_ChannelIsActive(w->player->mainStream), BASS_ACTIVE_STOPPED);
  QTest::mouseClick(w->cmdstw, Qt::LeftButton);

  w->cdripper->trigger();
  ASSERT_TRUE(cd->isVisible());
  cd->optExtractMode[1]->click();
  ASSERT_GT(cd->cmbWMAEncodingBitrate->count(), 0);
  cd->lstTracks->setCurrentRow(0);
  QTest::mouseClick(cd->cmdButton[7], Qt::LeftButton);
  EXPECT_TRUE(shown(s.messages, "WMA Encoding", "WMA File Encoded. Encoding took "));
  EXPECT_TRUE(fs::exists(home / "TRACK1.WMA"));
}

}  // namespace

// Full volume is at the top of the volume slider, and every way of moving it (a key, the wheel,
// a click on the groove) sets the playing track's volume, not only a drag.
TEST_F(CdWindow, VolumeSliderIsLouderUpAndFollowsKeysAndWheel) {
  cd->cmbCDDrives->setCurrentIndex(cd->cmbCDDrives->count() - 1);
  cd->cmbCDDrives_Click();
  cd->SliderVolume->setValue(-50);
  cd->lstTracks->setCurrentRow(0);
  QTest::mouseClick(cd->cmdButton[0], Qt::LeftButton);
  const auto volume = [this] {
    DWORD v = 0;
    EXPECT_TRUE(BASS_ChannelGetAttributes(cd->cdStream, nullptr, &v, nullptr));
    return int(v);
  };
  ASSERT_EQ(volume(), 50);
  const QStyle* style = cd->SliderVolume->style();
  QStyleOptionSlider o;
  o.initFrom(cd->SliderVolume);
  const auto handleY = [&] {
    o.minimum = cd->SliderVolume->minimum();
    o.maximum = cd->SliderVolume->maximum();
    o.sliderPosition = cd->SliderVolume->value();
    o.upsideDown = !cd->SliderVolume->invertedAppearance();  // as a vertical QSlider draws
    o.orientation = Qt::Vertical;
    o.rect = cd->SliderVolume->rect();
    return style->subControlRect(QStyle::CC_Slider, &o, QStyle::SC_SliderHandle, cd->SliderVolume)
        .center()
        .y();
  };
  const int halfY = handleY();
  QTest::keyClick(cd->SliderVolume, Qt::Key_Up);
  ASSERT_TRUE(QTest::qWaitFor([&] { return volume() > 50; }, 2000)) << volume();
  EXPECT_LT(handleY(), halfY) << "louder is higher up";
  const int afterKey = volume();
  QWheelEvent wheel(QPointF(5, 5), cd->SliderVolume->mapToGlobal(QPointF(5, 5)), QPoint(),
                    QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(cd->SliderVolume, &wheel);
  ASSERT_TRUE(QTest::qWaitFor([&] { return volume() < afterKey; }, 2000)) << volume();
  EXPECT_EQ(cd->lblVolume->text(),
            "Volume : " + QString::number(std::lround(std::abs(cd->SliderVolume->value()) / 10.0)));
  QTest::mouseClick(cd->cmdButton[2], Qt::LeftButton);
}

// Play takes the ripped track and closes the CD window; a song chosen after the CD window was
// closed without a rip is the one that plays.
TEST_F(CdWindow, PlayClosesTheWindowAndAChosenSongWinsOverAnUnusedCdWindow) {
  const fs::path song = home / "song.wav";
  testaudio::writeWav(song, testaudio::makeAudio(44100, 2, 44100 * 2, [](int64_t f, int) {
                        return testaudio::sine(440, 0.2, f, 44100);
                      }));
  cd->close();
  s.files.answers.push_back(QString::fromStdString(song.string()));
  w->menuwave->trigger();
  EXPECT_FALSE(w->ripPending);
  QTest::mouseClick(w->Cmdplw, Qt::LeftButton);
  EXPECT_EQ(w->CMDialog1.FileName, QString::fromStdString(song.string()));
  EXPECT_NE(BASS_ChannelIsActive(w->player->mainStream), BASS_ACTIVE_STOPPED);
  QTest::mouseClick(w->cmdstw, Qt::LeftButton);

  w->cdripper->trigger();
  ASSERT_TRUE(cd->isVisible());
  QTest::mouseClick(w->Cmdplw, Qt::LeftButton);
  EXPECT_FALSE(cd->isVisible());
  EXPECT_EQ(w->CMDialog1.FileName, QString::fromStdString((home / "TRACK.WAV").string()));
  EXPECT_TRUE(shown(s.messages, "Error", "Selected file couldn't be loaded!"));  // no rip yet
}
