// The control's engine without a sound card: the record file's bytes, the header rules of
// playback, the quality codes, the notification tables and the save step on a buffer of known
// bytes. A playback file that passes its checks opens SDL's silent "dummy" device.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <set>

#include "TestAudio.h"
#include "modDXAPI.h"

using namespace lumo;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void spit(const std::filesystem::path& p, const Bytes& b) {
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
}

void put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// 44100 Hz stereo 16 bit (176400 = 0x2B110 bytes a second), followed by `audio`.
Bytes wav4S16(uint32_t riffSize, uint32_t dataSize, const Bytes& audio = {}) {
  const char h[] =
      "RIFF\0\0\0\0WAVEfmt "
      "\x10\0\0\0\x01\0\x02\0\x44\xAC\0\0\x10\xB1\x02\0\x04\0\x10\0data\0\0\0\0";
  Bytes b(44 + audio.size());
  std::copy(h, h + 44, b.begin());
  std::copy(audio.begin(), audio.end(), b.begin() + 44);
  put32(b, 4, riffSize);
  put32(b, 40, dataSize);
  return b;
}

// A capture buffer of plain memory whose cursor the test moves, as a device would.
struct MemoryCapture final : CaptureBuffer {
  explicit MemoryCapture(uint32_t size) : ring(size) {}
  uint32_t size() const override { return uint32_t(ring.size()); }
  void setNotificationPositions(const std::vector<NotifyEntry>&) override {}
  void start(bool) override {}
  void stop() override {}
  void getCurrentPosition(int32_t& capture, int32_t& read) const override {
    capture = read = int32_t(cursor);
  }
  void read(uint32_t start, uint32_t count, uint8_t* out, bool) const override {
    for (uint32_t i = 0; i < count; ++i) out[i] = ring[(start + i) % size()];
  }
  void feed(uint32_t n) {  // captures the next n bytes of the stream
    for (; n > 0; --n, cursor = (cursor + 1) % size()) ring[cursor] = streamByte(fed++);
  }
  static uint8_t streamByte(uint64_t i) { return uint8_t(i * 7 + (i >> 9)); }
  Bytes ring;
  uint32_t cursor = 0;
  uint64_t fed = 0;
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    e.closeCapture();
    e.closePlayback();
    e.captureFormat = e.fileFormat = {};
    e.PeakStep = e.ReadPosition = 0;
    e.SavedByteCount = 0;
  }
  void TearDown() override { SetUp(); }
  DXEngine& e = engine();
  testaudio::TempDir dir;
  int32_t number = 0;
  std::string message;
};

}  // namespace

TEST_F(EngineTest, RecordFileKeepsItsSizesCurrentAndEndsWithTheCanonicalHeader) {
  RecordFile file;
  ASSERT_TRUE(file.create(dir / "take.wav", formatOfCode("4S16"), &number, &message)) << message;
  EXPECT_EQ(slurp(dir / "take.wav"), wav4S16(0, 0));
  // After each chunk (odd lengths too) another reader already sees a complete file.
  Bytes audio;
  for (const size_t n : {1000u, 7u, 4093u}) {
    Bytes chunk(n);
    for (auto& b : chunk) b = uint8_t(audio.size() + (&b - chunk.data()) * 13);
    ASSERT_TRUE(file.append(chunk));
    audio.insert(audio.end(), chunk.begin(), chunk.end());
    const uint32_t d = uint32_t(audio.size());
    EXPECT_EQ(slurp(dir / "take.wav"), wav4S16(36 + d, d, audio)) << d;
  }
  ASSERT_TRUE(file.finalise());
  EXPECT_EQ(slurp(dir / "take.wav"), wav4S16(36 + 5100, 5100, audio));
  // A recording stopped before its first chunk.
  ASSERT_TRUE(file.create(dir / "empty.wav", formatOfCode("4S16"), &number, &message));
  ASSERT_TRUE(file.finalise());
  EXPECT_EQ(slurp(dir / "empty.wav"), wav4S16(36, 0));
}

TEST_F(EngineTest, FilesAndDevicesThatCannotBeOpenedSayWhy) {
  RecordFile file;
  EXPECT_FALSE(file.create(dir / "no" / "such.wav", formatOfCode("1M08"), &number, &message));
  EXPECT_EQ(message, "Stream cannot be Created. Error (2) No such file or directory");
  spit(dir / "there.wav", {1, 2, 3});  // never overwritten
  EXPECT_FALSE(file.create(dir / "there.wav", formatOfCode("1M08"), &number, &message));
  EXPECT_EQ(number, EEXIST);
  EXPECT_EQ(slurp(dir / "there.wav"), (Bytes{1, 2, 3}));
  EXPECT_FALSE(e.openPlayback(dir / "none.wav", DriverEntry{}));
  EXPECT_EQ(e.LastErrorNumber, kErrPlaybackOpen);
  EXPECT_EQ(e.LastErrorMessage,
            "Error Initializing the Playing Device: (2) No such file or directory");
  setenv("LUMO_FORMAT_MASK", "7FF", 1);  // everything but 44100 Hz stereo 16 bit
  EXPECT_FALSE(e.openCapture(2048, "4S16", DriverEntry{}));
  unsetenv("LUMO_FORMAT_MASK");
  EXPECT_EQ(e.LastErrorNumber, kErrCaptureFormat);
  EXPECT_EQ(e.LastErrorMessage, "Error Initializing the Capture Device");
}

TEST_F(EngineTest, EighteenByteFmtChunkReadsItsFieldsAndPlaysItsExtraBytes) {
  // 11025 Hz mono 8 bit with a 2-byte extension: "data" at 38, its audio at 46.
  const char h[] =
      "RIFF\0\0\0\0WAVEfmt \x12\0\0\0\x01\0\x01\0\x11\x2B\0\0\x11\x2B\0\0\x01\0\x08\0"
      "\0\0data\x05\0\0\0\x0A\x14\x1E\x28\x32";
  spit(dir / "ext.wav", Bytes(h, h + 51));
  RecordFile file;
  WaveFormat format;
  ASSERT_TRUE(file.openForReading(dir / "ext.wav", &format));
  EXPECT_EQ(format, (WaveFormat{1, 1, 11025, 11025, 1, 8, 0}));
  Bytes audio(16);
  audio.resize(file.read(audio.data(), audio.size()));
  EXPECT_EQ(audio, (Bytes{0, 0, 10, 20, 30, 40, 50}));
}

// Headers that are no PCM, claim no sound or more than a one-second buffer should hold, or
// contradict themselves: refused before anything is sized from them, and the file closed.
TEST_F(EngineTest, PlaybackRefusesHeadersItCannotPlay) {
  const std::pair<const char*, std::function<void(Bytes&)>> spoilt[] = {
      {"float", [](Bytes& b) { b[20] = 3; }},
      {"not RIFF", [](Bytes& b) { b[0] = 'X'; }},
      {"fmt below 16", [](Bytes& b) { b[16] = 14; }},
      {"short", [](Bytes& b) { b.resize(40); }},
      {"no channels", [](Bytes& b) { b[22] = 0; }},
      {"no rate", [](Bytes& b) { put32(b, 24, 0); }},
      {"no byte rate", [](Bytes& b) { put32(b, 28, 0); }},
      {"huge rate", [](Bytes& b) { put32(b, 24, 0x7FFFFFFF), put32(b, 28, 0xFFFFFFFC); }},
      {"65535 channels", [](Bytes& b) { b[22] = b[23] = b[33] = 0xFF, b[32] = 0xFE; }},
      {"24 bit", [](Bytes& b) { b[34] = 24; }},
      {"byte rate disagrees", [](Bytes& b) { put32(b, 28, 1000); }}};
  for (const auto& [what, spoil] : spoilt) {
    Bytes b = wav4S16(436, 400, Bytes(400));
    spoil(b);
    spit(dir / "f.wav", b);
    EXPECT_FALSE(e.openPlayback(dir / "f.wav", DriverEntry{})) << what;
    EXPECT_EQ(e.LastErrorNumber, kErrUnsupportedFormat) << what;
    EXPECT_EQ(e.LastErrorMessage, "Unsupported Format") << what;
    EXPECT_FALSE(e.recordFile.isOpen() || e.outputBuffer) << what;
  }
}

TEST_F(EngineTest, PlaybackOfTheControlsOwnFileSetsUpItsBufferAndTable) {
  spit(dir / "f.wav", wav4S16(1036, 1000, Bytes(1000, 0x55)));
  ASSERT_TRUE(e.openPlayback(dir / "f.wav", DriverEntry{})) << e.LastErrorMessage;
  EXPECT_EQ(codeOfFormat(e.fileFormat), "4S16");
  EXPECT_EQ(e.half, 88200u);
  e.setupPlaybackNotifications(1);
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(e.PlaybackNotifyTable[i].offset, i == 9 ? 176399u : 17640u * (i + 1));
  EXPECT_EQ(e.PeakStep, 12);
}

TEST_F(EngineTest, QualityCodesFormatsAndStrides) {
  const char* codes[12] = {"1M08", "1S08", "1M16", "1S16", "2M08", "2S08",
                           "2M16", "2S16", "4M08", "4S08", "4M16", "4S16"};
  EXPECT_EQ(std::count(QualityCodes().begin(), QualityCodes().end(), ""), 2048 - 12);
  for (int bit = 0; bit < 12; ++bit) {
    const std::string code = QualityCodes()[(1 << bit) - 1];
    EXPECT_EQ(code, codes[bit]);
    const uint32_t rate = 11025u << (bit / 4);
    const uint16_t channels = 1 + bit % 2, bits = bit % 4 < 2 ? 8 : 16, block = channels * bits / 8;
    e.captureFormat = formatOfCode(code);
    EXPECT_EQ(e.captureFormat, (WaveFormat{1, channels, rate, rate * block, block, bits, 0}));
    EXPECT_EQ(codeOfFormat(e.captureFormat), code);
    for (const int resolution : {1, 3, 6, 10}) {
      e.computePeakStep(resolution, false);
      EXPECT_EQ(e.PeakStep, 12 * resolution) << code;
    }
  }
  for (const char* bad : {"", "3M08", "4X16", "4S24", "4S160"})
    EXPECT_EQ(formatOfCode(bad).formatTag, 0) << bad;
  // A huge Resolution can't overflow the stride; a missing format leaves it as it was.
  e.computePeakStep(0x7FFFFFFF, false);
  EXPECT_TRUE(e.PeakStep > 0 && e.PeakStep % 4 == 0);
  e.captureFormat = {};
  e.computePeakStep(1, false);
  EXPECT_GT(e.PeakStep, 12);
}

TEST_F(EngineTest, CaptureTableOf44100StereoSixteenBit) {
  e.captureBuffer = std::make_unique<MemoryCapture>(176400);
  e.captureFormat = formatOfCode("4S16");
  e.setupCaptureNotifications(3);
  ASSERT_EQ(e.CaptureNotifyTable.size(), 67u);
  for (uint32_t i = 0; i <= 65; ++i) EXPECT_EQ(e.CaptureNotifyTable[i].offset, 2671 * i);
  EXPECT_EQ(e.CaptureNotifyTable[66].offset, 44100u);
  std::set<int32_t> handles{0};
  for (const auto& entry : e.CaptureNotifyTable) handles.insert(entry.event);
  EXPECT_EQ(handles.size(), 68u);  // distinct, none 0
  EXPECT_EQ(e.PeakStep, 36);
}

TEST_F(EngineTest, SaveStepWritesEachPassInTwoChunksAndLosesNoByte) {
  auto* memory = new MemoryCapture(11025);
  e.captureBuffer.reset(memory);
  ASSERT_TRUE(e.recordFile.create(dir / "take.wav", formatOfCode("1M08"), &number, &message));
  e.saveStep("1M08", false, true);
  e.saveStep("1M08", true, false);  // a wrap before the first quarter mark saves nothing
  // Two passes, each notification handled a little after the device reached its offset.
  for (const uint32_t late : {51u, 3u}) {
    memory->feed(2756 + late);
    e.saveStep("1M08", false, false);
    memory->feed(11025 - 2756 - late + 130);
    e.saveStep("1M08", true, false);
  }
  ASSERT_TRUE(e.recordFile.finalise());
  EXPECT_EQ(e.SavedByteCount, 2 * 11025);
  const Bytes file = slurp(dir / "take.wav");
  ASSERT_EQ(file.size(), 44 + 2 * 11025u);
  for (size_t i = 44; i < file.size(); ++i)
    ASSERT_EQ(file[i], MemoryCapture::streamByte(i - 44)) << "byte " << i - 44;
}

// A disk that refuses the take part-way (a file size limit, in a child process so that the limit
// binds nothing else): the saved count stops where the file ends, at a whole frame, and the
// header counts what the file holds.
TEST_F(EngineTest, SavedBytesCountOnlyWhatTheDiskKept) {
  const auto path = dir / "take.wav";
  constexpr rlim_t kLimit = 44 + 5001;  // the disk cuts a 16-bit frame in half
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kLimit, kLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
    auto* memory = new MemoryCapture(22050);
    e.captureBuffer.reset(memory);
    if (!e.recordFile.create(path, formatOfCode("1M16"), &number, &message)) _exit(2);
    e.saveStep("1M16", false, true);
    for (int pass = 0; pass < 2; ++pass) {
      memory->feed(5513);
      e.saveStep("1M16", false, false);
      memory->feed(22050 - 5513);
      e.saveStep("1M16", true, false);
    }
    e.recordFile.finalise();
    const double saved = e.SavedByteCount;
    _exit(write(fds[1], &saved, sizeof saved) == sizeof saved ? 0 : 3);
  }
  close(fds[1]);
  double saved = -1;
  ASSERT_EQ(read(fds[0], &saved, sizeof saved), ssize_t(sizeof saved));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(saved, 5000);
  EXPECT_EQ(std::filesystem::file_size(path), 44 + 5000u);
  EXPECT_EQ(testaudio::soxi(path, "s"), "2500");
  const Bytes file = slurp(path);
  for (size_t i = 44; i < file.size(); ++i)
    ASSERT_EQ(file[i], MemoryCapture::streamByte(i - 44)) << "byte " << i - 44;
}

TEST_F(EngineTest, HeaderReaderAndPlaybackTakeAnyBytes) {
  std::mt19937 rng(20261207);
  for (int round = 0; round < 3000; ++round) {
    Bytes b = wav4S16(36, 0);
    for (int k = 0; k < (round % 3 ? 1 + round % 4 : 44); ++k) b[rng() % 44] = uint8_t(rng());
    b.resize(rng() % 60);
    const WaveFormat f = readWaveFormat(b);
    uint32_t fmtSize = 0;
    if (b.size() >= 20) std::memcpy(&fmtSize, &b[16], 4);
    if (b.size() < 44 || std::memcmp(&b[0], "RIFF", 4) || std::memcmp(&b[8], "WAVE", 4) ||
        fmtSize < 16) {
      ASSERT_EQ(f, WaveFormat{}) << round;
    }
    if (round % 30) continue;
    // Opened within bounds, or refused with the file closed.
    spit(dir / "fuzz.wav", b);
    if (e.openPlayback(dir / "fuzz.wav", DriverEntry{})) {
      ASSERT_LE(e.half, 8u * 192000);
      e.closePlayback();
    } else {
      ASSERT_FALSE(e.recordFile.isOpen());
    }
  }
}
