// For the tests that play through the private sound server of ./test.sh: they fail in CI when
// it is missing and skip elsewhere.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "TestAudio.h"

namespace testaudio {

inline bool serverUp() {
  return run("pactl info > /dev/null 2>&1") == 0;
}

// The output, the virtual microphone's feed and the microphone at full level and unmuted, so
// that what the output plays comes back as loud as it left (the latency tests' loops).
inline void fullLevelLoop() {
  run("pactl set-sink-volume kara_out 100%; pactl set-sink-mute kara_out 0;"
      "pactl set-sink-volume mic_feed 100%; pactl set-source-volume @DEFAULT_SOURCE@ 100%");
}

}  // namespace testaudio

#define REQUIRE_SOUND_SERVER()                                                   \
  do {                                                                           \
    if (!testaudio::serverUp()) {                                                \
      if (std::getenv("CI")) FAIL() << "no sound server (./test.sh starts one)"; \
      GTEST_SKIP() << "no sound server: run through ./test.sh";                  \
    }                                                                            \
  } while (0)
