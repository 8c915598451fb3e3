// The round trip measured through the private sound server: a delay line of a known length from
// the output into the virtual microphone stands for the speakers and the air.
#include <gtest/gtest.h>

#include <string>

#include "LatencyProbe.h"
#include "SoundServer.h"
#include "TestAudio.h"
#include "bass.h"

namespace {

// A module of the sound server loaded for the test's length.
class Module {
 public:
  explicit Module(const std::string& nameAndArguments) {
    std::string out;
    testaudio::run("pactl load-module " + nameAndArguments, &out);
    index_ = out.empty() ? -1 : std::stoi(out);
  }
  ~Module() {
    if (index_ >= 0) testaudio::run("pactl unload-module " + std::to_string(index_));
  }
  bool loaded() const { return index_ >= 0; }

 private:
  int index_ = -1;
};

class LatencyProbeSound : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_SOUND_SERVER();
    testaudio::fullLevelLoop();
  }
  void TearDown() override {
    BASS_Free();
    testaudio::run("pactl set-default-sink kara_out");
  }
  void startEngine() { ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 48000, 0, nullptr, nullptr)); }
};

// The speakers stand in a room of their own: the output is a sink that delays what it is given
// by exactly 50 ms (a delay line, on the sound server's clock) into the virtual microphone.
// The server knows nothing of the delay line; the probe finds it. Its timing reports scatter
// the figure: runs here measured 43.9 to 49.8 ms. (A loopback module is a worse reference:
// it only steers towards its nominal latency, 33.5 to 40 ms for a nominal 40.)
TEST_F(LatencyProbeSound, FindsAFixedDelayWithinFiveMilliseconds) {
  constexpr double kDelayMs = 50;
  Module room(
      "module-ladspa-sink sink_name=delayed_out sink_master=mic_feed plugin=delay_1898 "
      "label=delay_n control=1," +
      std::to_string(kDelayMs / 1000));
  ASSERT_TRUE(room.loaded()) << "the delay line (swh-plugins) is not installed";
  testaudio::run("pactl set-default-sink delayed_out");
  ASSERT_NO_FATAL_FAILURE(startEngine());
  const auto r = recorder::measureRoundTrip("");
  ASSERT_TRUE(r.roundTripMs.has_value()) << r.why;
  RecordProperty("roundTripMs", std::to_string(*r.roundTripMs));
  EXPECT_NEAR(*r.roundTripMs, kDelayMs, 7.5);
}

// Headphones: nothing of the output reaches the microphone, and no figure is given.
TEST_F(LatencyProbeSound, NothingWhenTheMicrophoneDoesNotHearTheOutput) {
  ASSERT_NO_FATAL_FAILURE(startEngine());
  const auto r = recorder::measureRoundTrip("");
  EXPECT_FALSE(r.roundTripMs.has_value()) << *r.roundTripMs;
  EXPECT_EQ(r.why, "the clicks were not heard");
}

}  // namespace
