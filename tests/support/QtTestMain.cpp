// main() of the tests with windows: off screen unless built to draw on the display they are
// given (ORIVELR_TEST_ON_DISPLAY: the evening tests under Xvfb), and with SDL's paced silent
// driver except in the test programs built to play through the sound server
// (ORIVELR_TEST_REAL_SOUND).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
#ifndef ORIVELR_TEST_ON_DISPLAY
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
#endif
#ifndef ORIVELR_TEST_REAL_SOUND
  setenv("SDL_AUDIODRIVER", "dummy", 1);
#endif
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
