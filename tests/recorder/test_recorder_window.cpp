// The main window's mixer panel through the real sound server: the record source list and
// level. Takes recorded in the window are the evening tests' (tests/evening).
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "MainWindowTest.h"
#include "SoundServer.h"
#include "TestAudio.h"
#include "VRMixer.h"
#include "frmMain.h"

namespace {

class RecorderWindow : public apptest::MainWindowTest {
 protected:
  void SetUp() override {
    REQUIRE_SOUND_SERVER();
    MainWindowTest::SetUp();
  }
};

TEST_F(RecorderWindow, SourceListShowsTheTypeTheMixerKeptAndTheLevelSliderRunsUpsideDown) {
  EXPECT_EQ(w->cboRecSrcType->currentRow(), 2);  // the microphone
  w->inputmenu->trigger();
  EXPECT_TRUE(w->cboRecSrcType->isVisible());
  w->cboRecSrcType->setCurrentRow(1);  // no line source on the virtual devices
  EXPECT_EQ(w->cboRecSrcType->currentRow(), 2);
  w->cboRecSrcType->setCurrentRow(3);  // what the system plays
  EXPECT_EQ(w->VRMixer1->recordSourceName(), "kara_out.monitor");
  // The mixer sends a level to the server after the slider has moved: wait until it is there.
  const auto volume = [] { return testaudio::output("pactl get-source-volume kara_out.monitor"); };
  const auto reaches = [&](const char* level) {
    return testaudio::waitFor([&] { return volume().find(level) != std::string::npos; }, 10);
  };
  w->sldRecVolume->setValue(30);
  EXPECT_TRUE(reaches(" 70%")) << volume();
  w->sldRecVolume->setValue(0);
  EXPECT_TRUE(reaches(" 100%")) << volume();
}

}  // namespace
