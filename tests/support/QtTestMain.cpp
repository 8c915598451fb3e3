// main() of the tests with windows: off screen unless built to draw on the display they are
// given (ORIVELR_TEST_ON_DISPLAY: the evening tests under Xvfb), and with SDL's paced silent
// driver except in the test programs built to play through the sound server
// (ORIVELR_TEST_REAL_SOUND). The settings and the cache the windows keep go to a folder of the
// test program's own, never to the user's.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
#ifndef ORIVELR_TEST_ON_DISPLAY
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
#endif
#ifndef ORIVELR_TEST_REAL_SOUND
  setenv("SDL_AUDIODRIVER", "dummy", 1);
#endif
  std::string folder = (std::filesystem::temp_directory_path() / "orivelR-test-XXXXXX").string();
  if (!mkdtemp(folder.data())) return 2;
  setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
  setenv("XDG_CACHE_HOME", (folder + "/cache").c_str(), 1);
  int status = 0;
  {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
  }
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return status;
}
