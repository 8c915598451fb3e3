// The system mixer through the private sound server, read back with pactl; and the mixer
// against a server that is missing or hung, and the volume control's command.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>

#include "MicFeed.h"
#include "MonitorRecorder.h"
#include "SoundServer.h"
#include "TestAudio.h"
#include "VRMixer.h"
#include "VolumeControl.h"

using recorder::VRMixer;

namespace {

std::string pactl(const std::string& args) {
  std::string out;
  testaudio::run("pactl " + args + " 2>/dev/null", &out);
  return out;
}

// The first percentage of a pactl volume line.
int percentIn(const std::string& text) {
  std::smatch m;
  return std::regex_search(text, m, std::regex(R"((\d+)%)")) ? std::stoi(m[1]) : -1;
}

int sinkPercent(const std::string& name) {
  return percentIn(pactl("get-sink-volume " + name));
}
int sourcePercent(const std::string& name) {
  return percentIn(pactl("get-source-volume " + name));
}

// Index and argument of the loaded module-loopbacks that carry an orivelR owner tag.
std::string taggedLoopbacks() {
  std::string out;
  testaudio::run("pactl list short modules | grep module-loopback | grep orivelr.owner", &out);
  return out;
}

// The pactl description of the sink input that module `module` owns; empty when none.
std::string inputOfModule(const std::string& module) {
  const std::string all = pactl("list sink-inputs");
  for (size_t at = all.find("Sink Input #"); at != std::string::npos;) {
    const size_t next = all.find("Sink Input #", at + 1);
    const std::string block = all.substr(at, next - at);
    if (block.find("Owner Module: " + module + "\n") != std::string::npos) return block;
    at = next;
  }
  return {};
}

// Every device's volume and the defaults: what a test must leave as it found it.
std::string serverState() {
  return testaudio::output(
      "pactl list sinks sources | grep -E '^\\s*(Name|Volume|Mute):'; pactl list sink-inputs |"
      " grep -E '^\\s*(Volume|Mute):'; pactl get-default-sink; pactl get-default-source");
}

// Whether the 1 kHz "voice" is heard on the default sink's monitor now.
bool toneHeard() {
  testaudio::MonitorRecorder rec;
  if (!rec.ok() || !rec.recordMore(4410)) return false;
  const testaudio::Audio a = rec.stop();
  return testaudio::toneAmplitude(a, 0, 1000, a.frames() - 2205, 2205) > 0.05;
}

class Mixer : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_SOUND_SERVER();
    before_ = serverState();
  }
  void TearDown() override {
    if (before_.empty()) return;
    testaudio::run(
        "pactl set-sink-volume kara_out 100%; pactl set-source-volume kara_mic 100%;"
        " pactl set-source-volume kara_out.monitor 100%");
    EXPECT_EQ(serverState(), before_);
    EXPECT_EQ(taggedLoopbacks(), "");
  }
  std::string before_;
};

TEST_F(Mixer, LevelsMoveOnlyTheDeviceOfTheirControl) {
  VRMixer mixer;
  ASSERT_TRUE(mixer.connected());
  // A slider dragged step by step: the setters return at once, the getter gives the last step,
  // and the server ends at it.
  for (int level = 100; level >= 70; --level) ASSERT_TRUE(mixer.setMasterVolume(level));
  EXPECT_EQ(mixer.masterVolume(), 70);
  EXPECT_TRUE(testaudio::waitFor([] { return sinkPercent("kara_out") == 70; }, 10));
  EXPECT_EQ(mixer.masterVolume(), 70);
  EXPECT_EQ(sourcePercent("kara_mic"), 100);

  ASSERT_TRUE(mixer.setRecVolume(40));  // "2 - Mic": the default source
  EXPECT_TRUE(testaudio::waitFor([] { return sourcePercent("kara_mic") == 40; }, 10));
  EXPECT_EQ(mixer.recVolume(), 40);
  ASSERT_TRUE(mixer.setRecSourceType(recorder::kRecSrcWave));
  ASSERT_TRUE(mixer.setRecVolume(55));
  EXPECT_TRUE(testaudio::waitFor([] { return sourcePercent("kara_out.monitor") == 55; }, 10));
  EXPECT_EQ(sourcePercent("kara_mic"), 40);
  EXPECT_EQ(sinkPercent("kara_out"), 70);
  EXPECT_EQ(sinkPercent("mic_feed"), 100);
}

TEST_F(Mixer, SourceTypeChoosesTheRecordedSourceAndKeepsTypesTheMachineLacks) {
  VRMixer mixer;
  EXPECT_EQ(mixer.recSourceType(), recorder::kRecSrcMic);
  EXPECT_EQ(mixer.recordSourceName(), "kara_mic");
  ASSERT_TRUE(mixer.setRecSourceType(recorder::kRecSrcWave));
  EXPECT_EQ(mixer.recordSourceName(), "kara_out.monitor");
  // Types without a source here: the virtual devices have no ports at all.
  for (int type : {0, 1, 4, 5, 6, 7, 8, 9, 10, -1}) {
    EXPECT_FALSE(mixer.setRecSourceType(type)) << type;
    EXPECT_EQ(mixer.recSourceType(), recorder::kRecSrcWave) << type;
  }
  ASSERT_TRUE(mixer.setRecSourceType(recorder::kRecSrcMic));
  // A default changed by someone else is followed; the mixer itself never changes it.
  testaudio::run("pactl set-default-source silence");
  EXPECT_EQ(mixer.recordSourceName(), "silence");
  testaudio::run("pactl set-default-source kara_mic");
}

TEST_F(Mixer, MicrophoneIsHeardOnTheOutputOnlyWhileUnmuted) {
  testaudio::MicFeed voice(1000, 0.5f);
  std::atomic<int> events{0}, lastEvent{-1};
  std::string module;
  {
    VRMixer mixer;
    mixer.onPlayMuteChanged = [&](int muted) {
      lastEvent = muted;
      ++events;
    };
    EXPECT_TRUE(mixer.playMute());
    EXPECT_EQ(taggedLoopbacks(), "") << "a microphone must not be heard unasked";

    ASSERT_TRUE(mixer.setPlaySelect(recorder::kPlaySelectMic));
    ASSERT_TRUE(mixer.setPlayVolume(100));
    ASSERT_TRUE(mixer.setPlayMute(false));
    const std::string tagged = taggedLoopbacks();
    ASSERT_NE(tagged, "");
    module = tagged.substr(0, tagged.find('\t'));
    EXPECT_NE(tagged.find("source=\"kara_mic\" sink=\"kara_out\""), std::string::npos) << tagged;
    EXPECT_TRUE(testaudio::waitFor(toneHeard, 5));

    ASSERT_TRUE(mixer.setPlayVolume(50));
    EXPECT_TRUE(testaudio::waitFor([&] { return percentIn(inputOfModule(module)) == 50; }, 10));
    EXPECT_EQ(mixer.playVolume(), 50);

    // Another program mutes the loopback's stream, then unmutes it.
    const std::string input =
        std::regex_replace(inputOfModule(module), std::regex(R"(^Sink Input #(\d+)[\s\S]*)"), "$1");
    testaudio::run("pactl set-sink-input-mute " + input + " 1");
    ASSERT_TRUE(testaudio::waitFor([&] { return events == 1; }, 5));
    EXPECT_EQ(lastEvent, 1);
    EXPECT_TRUE(mixer.playMute());
    testaudio::run("pactl set-sink-input-mute " + input + " 0");
    ASSERT_TRUE(testaudio::waitFor([&] { return events == 2; }, 5));
    EXPECT_EQ(lastEvent, 0);

    ASSERT_TRUE(mixer.setPlayMute(true));
    EXPECT_EQ(taggedLoopbacks(), "");
    EXPECT_TRUE(testaudio::waitFor([] { return !toneHeard(); }, 5));

    ASSERT_TRUE(mixer.setPlayMute(false));
    EXPECT_NE(taggedLoopbacks(), "");
    EXPECT_EQ(mixer.playVolume(), 50) << "the level is remembered while muted";
  }
  EXPECT_EQ(taggedLoopbacks(), "") << "the loopback outlived its mixer";
  EXPECT_EQ(events, 2);
}

// With the default sink's monitor as the default source, a loopback would feed the output
// back into itself: there is no microphone line, and the window is told.
TEST_F(Mixer, NoMicrophoneLineIsReportedAndNeverLoopsTheOutputBack) {
  VRMixer mixer;
  int calls = 0;
  mixer.onNoLine = [&](std::string& text) {
    ++calls;
    mixer.setRecSourceType(recorder::answerNoLine(text));  // calling back in must not hang
  };
  EXPECT_FALSE(mixer.setPlaySelect(5));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(mixer.noLineText(), "No Line Record");

  testaudio::run("pactl set-default-source kara_out.monitor");
  EXPECT_FALSE(mixer.setPlaySelect(recorder::kPlaySelectMic));
  EXPECT_FALSE(mixer.setPlayMute(false));
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(taggedLoopbacks(), "");
  testaudio::run("pactl set-default-source kara_mic");
  EXPECT_EQ(mixer.recSourceType(), recorder::kRecSrcMic) << "no analog source here";
}

TEST_F(Mixer, LoopbacksOfOwnersThatHaveGoneAreRemovedAtStart) {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const auto load = [&](pid_t pid, const char* start) {
    return pactl(
        "load-module module-loopback source=kara_mic sink=kara_out "
        "\"sink_input_properties='orivelr.owner=\\\"" +
        std::string(host) + ":" + std::to_string(pid) + ":" + start + "\\\"'\"");
  };
  ASSERT_NE(load(child, "12345"), "");  // its process has gone
  ASSERT_NE(load(getpid(), "1"), "");   // the pid now belongs to another process
  ASSERT_NE(taggedLoopbacks(), "");
  {
    VRMixer mixer;
    EXPECT_EQ(taggedLoopbacks(), "");
  }
  EXPECT_EQ(testaudio::output("pactl list short modules | grep -c module-loopback"), "2")
      << "the server's own loopbacks must stay";
}

// A server that accepts the connection and never answers: every call gives up on its own.
TEST(MixerWithoutServer, EveryCallFailsInsteadOfHanging) {
  testaudio::TempDir dir;
  const std::string socketPath = (dir / "native").string();
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 8), 0);

  for (const std::string& server : {"unix:" + socketPath, "unix:" + (dir / "none").string()}) {
    setenv("PULSE_SERVER", server.c_str(), 1);
    VRMixer mixer;
    EXPECT_FALSE(mixer.connected()) << server;
    EXPECT_FALSE(mixer.setMasterVolume(50)) << server;
    EXPECT_EQ(mixer.recVolume(), -1) << server;
    EXPECT_EQ(mixer.recordSourceName(), "") << server;
    EXPECT_FALSE(mixer.setPlayMute(false)) << server;
    EXPECT_EQ(mixer.recSourceType(), recorder::kRecSrcMic) << server;
  }
  close(listener);
}

TEST(VolumeControl, OpensPavucontrolOnTheDevicesTabOrTellsItIsMissing) {
  testaudio::TempDir dir;
  const std::string program = (dir / "pavucontrol").string();
  std::ofstream(program) << "#!/bin/sh\n";
  const std::string path = "/nonexistent:" + dir.path().string();
  EXPECT_EQ(recorder::volumeControlCommand(recorder::VolumeView::Input, path), std::nullopt)
      << "not executable";
  chmod(program.c_str(), 0755);
  const auto in = recorder::volumeControlCommand(recorder::VolumeView::Input, path);
  const auto out = recorder::volumeControlCommand(recorder::VolumeView::Output, path);
  ASSERT_TRUE(in && out);
  EXPECT_EQ(in->program, program);
  EXPECT_EQ(in->arguments, std::vector<std::string>{"--tab=4"});
  EXPECT_EQ(out->arguments, std::vector<std::string>{"--tab=3"});
  EXPECT_EQ(recorder::volumeControlCommand(recorder::VolumeView::Output, "/nonexistent"),
            std::nullopt);
}

}  // namespace
