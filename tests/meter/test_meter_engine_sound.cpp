// The engine through the private sound server: a voice sung into the virtual microphone is
// what the default capture device records, and a recording whose process is killed leaves a
// file that other readers take whole.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "MicFeed.h"
#include "TestAudio.h"
#include "modDXAPI.h"

using namespace lumo;

namespace {

bool nextNotification(int32_t& id) {
  DXEngine& e = engine();
  while (!e.takeNotification(id)) {
    pollfd p{e.notificationFd(), POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return false;
  }
  return true;
}

}  // namespace

TEST(EngineSound, VoiceIntoTheMicrophoneIsRecordedFromTheDefaultDevice) {
  ASSERT_EQ(testaudio::run("pactl set-sink-volume mic_feed 100% && "
                           "pactl set-source-volume kara_mic 100%"),
            0);
  const auto drivers = enumerateDrivers();
  ASSERT_FALSE(drivers.empty());
  const DriverEntry& mic = drivers[defaultCaptureDriver(drivers) - 1];
  EXPECT_EQ(mic.Name, "KaraMic");
  EXPECT_EQ(mic.Type, sdtcInput);

  testaudio::MicFeed voice(880, 0.5f);
  DXEngine& e = engine();
  ASSERT_TRUE(e.openCapture(1024, "4M16", mic)) << e.LastErrorMessage;
  e.setupCaptureNotifications();
  testaudio::TempDir dir;
  const auto path = dir / "voice.wav";
  int32_t number;
  std::string message;
  ASSERT_TRUE(e.recordFile.create(path, e.captureFormat, &number, &message)) << message;
  e.saveStep("4M16", false, true);
  e.captureBuffer->start(true);
  const auto& t = e.CaptureNotifyTable;
  int wraps = 0;
  int32_t id;
  while (wraps < 2 && nextNotification(id)) {
    if (id == t[66].event || id == t[0].event) e.saveStep("4M16", id == t[0].event, false);
    wraps += id == t[0].event;
  }
  e.closeCapture();
  ASSERT_TRUE(e.recordFile.finalise());

  const auto a = testaudio::readAudio(path);
  ASSERT_EQ(a.frames(), 2 * 44100);
  // The last half second, well after the voice reached the microphone.
  const int64_t from = a.frames() - 22050;
  EXPECT_NEAR(testaudio::toneAmplitude(a, 0, 880, from, 22050), 0.5, 0.05);
  EXPECT_NEAR(testaudio::rms(a, 0, from, 22050), 0.5 / std::sqrt(2.0), 0.04);
  EXPECT_LT(testaudio::toneAmplitude(a, 0, 440, from, 22050), 0.02);
}

TEST(EngineSound, KilledRecordingLeavesAFileOtherReadersTakeWhole) {
  testaudio::TempDir dir;
  const auto path = dir / "killed.wav";
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    execl(LUMO_ENGINE_RECORD, LUMO_ENGINE_RECORD, path.c_str(), "2",
          nullptr);  // 11025 Hz stereo 8 bit
    _exit(127);
  }
  close(out[1]);
  // Until the recorder says it saved more than a second and a quarter.
  double saved = 0;
  std::string text;
  while (saved < 1.2 * 22050) {
    pollfd p{out[0], POLLIN, 0};
    ASSERT_GT(poll(&p, 1, 10000), 0) << "the recorder went quiet: " << text;
    char buf[256];
    const ssize_t n = read(out[0], buf, sizeof buf);
    ASSERT_GT(n, 0) << "the recorder ended: " << text;
    text.append(buf, size_t(n));
    for (size_t line; (line = text.find('\n')) != std::string::npos; text.erase(0, line + 1))
      saved = std::stod(text.substr(text.find(' ') + 1, line));
  }
  kill(pid, SIGKILL);
  int status;
  waitpid(pid, &status, 0);
  close(out[0]);
  ASSERT_TRUE(WIFSIGNALED(status));

  const uint64_t data = std::filesystem::file_size(path) - 44;
  EXPECT_GE(data, saved);
  EXPECT_LE(data, saved + 22050);  // at most the one chunk written after the last report
  EXPECT_EQ(std::stoull(testaudio::soxi(path, "s")) * 2, data);
  EXPECT_EQ(testaudio::readAudio(path).frames() * 2, int64_t(data));
}
