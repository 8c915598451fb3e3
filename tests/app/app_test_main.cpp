// main() of the window tests: off screen, and with SDL's paced silent driver unless a test
// asks for the sound server.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (!std::getenv("ORIVELR_TEST_REAL_SOUND")) setenv("SDL_AUDIODRIVER", "dummy", 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
