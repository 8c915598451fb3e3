// The fixture of the tests that use the main window: its work folder in a fresh home, the
// recording services installed, the warning window accepted as a user accepts it; the window
// and the engine go with the test.
#pragma once

#include <gtest/gtest.h>

#include <QTest>
#include <cstdlib>

#include "AppTestSupport.h"
#include "Form2.h"
#include "TestAudio.h"
#include "frmMain.h"

namespace apptest {

class MainWindowTest : public ::testing::Test {
 protected:
  // A test that sets its environment first calls this after it (and returns on a fatal failure).
  void SetUp() override {
    setenv("ORIVELR_HOME", home.path().c_str(), 1);
    warning.show();
    QTest::mouseClick(warning.Command1, Qt::LeftButton);
    w = warning.mainWindow();
    ASSERT_TRUE(w && w->isVisible()) << "start-up failed";
  }
  void TearDown() override {
    delete w;
    w = nullptr;
    if (BASS_GetVersion()) BASS_Free();
    unsetenv("ORIVELR_CD_IMAGES");
    unsetenv("ORIVELR_HOME");
  }

  testaudio::TempDir home;
  InstalledServices s;
  Form2 warning;
  frmMain* w = nullptr;
};

}  // namespace apptest
