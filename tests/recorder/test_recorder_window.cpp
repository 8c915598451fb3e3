// The main window's mixer panel through the real sound server: the record source list and
// level. Takes recorded in the window are the evening tests' (tests/evening).
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "AppTestSupport.h"
#include "Form2.h"
#include "SoundServer.h"
#include "TestAudio.h"
#include "VRMixer.h"
#include "frmMain.h"

namespace {

TEST(RecorderWindow, SourceListShowsTheTypeTheMixerKeptAndTheLevelSliderRunsUpsideDown) {
  REQUIRE_SOUND_SERVER();
  testaudio::TempDir home;
  setenv("ORIVELR_HOME", home.path().c_str(), 1);
  apptest::InstalledServices s;
  Form2 warning;
  warning.show();
  QTest::mouseClick(warning.Command1, Qt::LeftButton);
  frmMain* w = warning.mainWindow();
  ASSERT_TRUE(w && w->isVisible());
  EXPECT_EQ(w->cboRecSrcType->currentRow(), 2);  // the microphone
  w->inputmenu->trigger();
  EXPECT_TRUE(w->cboRecSrcType->isVisible());
  w->cboRecSrcType->setCurrentRow(1);  // no line source on the virtual devices
  EXPECT_EQ(w->cboRecSrcType->currentRow(), 2);
  w->cboRecSrcType->setCurrentRow(3);  // what the system plays
  EXPECT_EQ(w->VRMixer1->recordSourceName(), "kara_out.monitor");
  const auto volume = [] { return testaudio::output("pactl get-source-volume kara_out.monitor"); };
  w->sldRecVolume->setValue(30);
  EXPECT_NE(volume().find(" 70%"), std::string::npos) << volume();
  w->sldRecVolume->setValue(0);
  EXPECT_NE(volume().find(" 100%"), std::string::npos) << volume();
  delete w;
  unsetenv("ORIVELR_HOME");
}

}  // namespace
