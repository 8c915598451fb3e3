// The engine on SDL's disk driver, which captures the bytes of the file SDL_DISKAUDIOFILEIN
// names and plays into SDL_DISKAUDIOFILE, in real time: notifications, a recording driven as
// the control drives it, and playback through the output buffer. All at 11025 Hz mono 8 bit.
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>

#include "TestAudio.h"
#include "modDXAPI.h"

using namespace lumo;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t kSecond = 11025;

uint8_t inputByte(uint64_t i) {
  return uint8_t(i * 37 + (i >> 8) + 1);
}

// The next notification, waiting on the engine's descriptor as the control's window does.
bool nextNotification(int32_t& id) {
  while (!engine().takeNotification(id)) {
    pollfd p{engine().notificationFd(), POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return false;
  }
  return true;
}

class DiskEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_STREQ(std::getenv("SDL_AUDIODRIVER"), "disk");
    // SDL reads the two names when it opens a device.
    setenv("SDL_DISKAUDIOFILEIN", (dir / "in.raw").c_str(), 1);
    setenv("SDL_DISKAUDIOFILE", (dir / "out.raw").c_str(), 1);
    std::string in(4 * kSecond, '\0');
    for (size_t i = 0; i < in.size(); ++i) in[i] = char(inputByte(i));
    testaudio::spit(dir / "in.raw", in);
    for (const auto& d : enumerateDrivers()) (d.Type == sdtcInput ? mic : speaker) = d;
  }
  void TearDown() override {
    e.closeCapture();
    e.closePlayback();
  }
  void startCapture() {
    ASSERT_TRUE(e.openCapture(1, "1M08", mic)) << e.LastErrorMessage;
    e.setupCaptureNotifications();
  }
  DXEngine& e = engine();
  testaudio::TempDir dir;
  DriverEntry mic, speaker;
};

}  // namespace

TEST_F(DiskEngine, CaptureNotificationsArriveInOffsetOrder) {
  startCapture();
  e.captureBuffer->start(true);
  // Entry 66 (a quarter, 2756) sits between entries 16 (2608) and 17 (2771); entry 0 is the wrap.
  std::vector<int32_t> expected, got;
  for (int i = 1; i <= 68; ++i) {
    expected.push_back(e.CaptureNotifyTable[i % 66].event);
    if (i == 16) expected.push_back(e.CaptureNotifyTable[66].event);
  }
  int32_t id;
  while (got.size() < expected.size() && nextNotification(id)) got.push_back(id);
  EXPECT_EQ(got, expected);
}

TEST_F(DiskEngine, RecordingHoldsExactlyWhatWasCaptured) {
  startCapture();
  const auto path = dir / "take.wav";
  int32_t number;
  std::string message;
  ASSERT_TRUE(e.recordFile.create(path, e.captureFormat, &number, &message)) << message;
  e.SavedByteCount = 0;
  e.saveStep("1M08", false, true);
  e.captureBuffer->start(true);
  // About two and a half seconds: two wraps, then half of the third pass.
  const auto& t = e.CaptureNotifyTable;
  int wraps = 0;
  int32_t id = 0;
  while (!(wraps == 2 && id == t[33].event) && nextNotification(id)) {
    if (id == t[66].event || id == t[0].event) e.saveStep("1M08", id == t[0].event, false);
    wraps += id == t[0].event;
  }
  e.captureBuffer->stop();
  ASSERT_TRUE(e.recordFile.finalise());

  const std::string file = testaudio::slurp(path);
  ASSERT_GE(file.size(), 44 + 2 * kSecond + kSecond / 4);
  const uint32_t data = uint32_t(file.size() - 44);
  EXPECT_EQ(e.SavedByteCount, data);
  for (uint32_t i = 0; i < data; ++i)
    ASSERT_EQ(uint8_t(file[44 + i]), inputByte(i)) << "byte " << i;
  EXPECT_EQ(std::stoul(testaudio::soxi(path, "s")), data);
}

TEST_F(DiskEngine, PlaybackWritesTheFilesAudioToTheDevice) {
  Bytes audio(kSecond * 3 / 2);  // odd bytes only: never the silence 0x80
  for (size_t i = 0; i < audio.size(); ++i) audio[i] = uint8_t(i * 11 + 1) | 1;
  const auto path = dir / "play.wav";
  RecordFile f;
  int32_t n;
  std::string m;
  ASSERT_TRUE(f.create(path, formatOfCode("1M08"), &n, &m) && f.append(audio) && f.finalise());

  ASSERT_TRUE(e.openPlayback(path, speaker)) << e.LastErrorMessage;
  e.setupPlaybackNotifications();
  int32_t remaining, decrement;
  e.rewind(remaining, decrement);
  // As the control starts: a buffer of silence, refilled half by half from the first
  // notification on (the 10 % mark refills the second half, the 50 % mark the first).
  OutputBuffer& out = *e.outputBuffer;
  const Bytes silence(2 * e.half, 0x80);
  out.write(0, 2 * e.half, silence.data());
  out.setCurrentPosition(0);
  out.play(true);
  const auto& t = e.PlaybackNotifyTable;
  int refillsAfterEnd = 0;
  int32_t id;
  while (refillsAfterEnd < 2 && nextNotification(id)) {
    if (id != t[4].event && id != t[0].event) continue;
    refillsAfterEnd += e.fileAtEnd();
    e.readFile(e.workArray.data(), e.half);
    out.write(id == t[4].event ? 0 : e.half, e.half, e.workArray.data());
  }
  e.closePlayback();  // the device's file is complete once the device is closed

  const std::string played = testaudio::slurp(dir / "out.raw");
  const auto first = std::find_if(played.begin(), played.end(), [](char b) { return b != '\x80'; });
  ASSERT_GE(played.end() - first, std::ptrdiff_t(audio.size()));
  EXPECT_TRUE(std::equal(audio.begin(), audio.end(), first,
                         [](uint8_t a, char b) { return a == uint8_t(b); }));
}
