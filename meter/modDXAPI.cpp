// The engine routines of the control: quality codes and formats, opening capture and playback,
// the notification tables, the save step and the playback file. The devices themselves are in
// SoundBuffers.cpp.
#include "modDXAPI.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace lumo {
namespace {

constexpr uint32_t kAllFormats = 0xFFF;
constexpr int kCaptureEntries = 67;
constexpr int kPlaybackEntries = 10;
// A failure that has no system error number (what SDL reports, a format the device layer can't
// take) is shown with this number and the reason as its description.
constexpr int kNoErrorNumber = -1;

// The largest format a playback file may claim: eight channels of 16 bits at 192 kHz, a
// one-second buffer of 3 MB. The buffer size and its halves come from the header, so a header
// that claims nothing, or claims gigabytes, or contradicts itself is refused before anything is
// sized from it.
bool playableFormat(const WaveFormat& f) {
  if (f.channels < 1 || f.channels > 8) return false;
  if (f.bitsPerSample != 8 && f.bitsPerSample != 16) return false;
  if (f.samplesPerSec < 1000 || f.samplesPerSec > 192000) return false;
  if (f.blockAlign != f.channels * f.bitsPerSample / 8) return false;
  return f.avgBytesPerSec == f.samplesPerSec * f.blockAlign;
}

std::string describe(int number, const std::string& text) {
  return "(" + std::to_string(number) + ") " + text;
}

int32_t clampToInt32(int64_t v) {
  return int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                     std::numeric_limits<int32_t>::max()));
}

}  // namespace

// ---- quality codes ---------------------------------------------------------------------------

const std::vector<std::string>& QualityCodes() {
  static const std::vector<std::string> codes = [] {
    std::vector<std::string> c(2048);
    const char* names[12] = {"1M08", "1S08", "1M16", "1S16", "2M08", "2S08",
                             "2M16", "2S16", "4M08", "4S08", "4M16", "4S16"};
    for (int bit = 0; bit < 12; ++bit) c[(1u << bit) - 1] = names[bit];
    return c;
  }();
  return codes;
}

WaveFormat formatOfCode(const std::string& code) {
  if (code.size() != 4) return {};
  WaveFormat f;
  switch (code[0]) {
    case '1':
      f.samplesPerSec = 11025;
      break;
    case '2':
      f.samplesPerSec = 22050;
      break;
    case '4':
      f.samplesPerSec = 44100;
      break;
    default:
      return {};
  }
  if (code[1] == 'M')
    f.channels = 1;
  else if (code[1] == 'S')
    f.channels = 2;
  else
    return {};
  const std::string bits = code.substr(2);
  if (bits == "08")
    f.bitsPerSample = 8;
  else if (bits == "16")
    f.bitsPerSample = 16;
  else
    return {};
  f.formatTag = 1;
  f.blockAlign = uint16_t(f.bitsPerSample * f.channels / 8);
  f.avgBytesPerSec = f.samplesPerSec * f.blockAlign;
  return f;
}

std::string codeOfFormat(const WaveFormat& format) {
  char bits[8];
  std::snprintf(bits, sizeof bits, "%02u", unsigned(format.bitsPerSample));
  return std::to_string(format.samplesPerSec).substr(0, 1) + (format.channels == 1 ? "M" : "S") +
         bits;
}

uint32_t supportedFormats(const DriverEntry&) {
  // SDL converts between the device's own format and the one asked for.
  uint32_t mask = kAllFormats;
  if (const char* narrow = std::getenv("LUMO_FORMAT_MASK"); narrow && *narrow) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(narrow, &end, 16);
    if (end && *end == '\0') mask &= uint32_t(v);
  }
  return mask;
}

// ---- the engine ------------------------------------------------------------------------------

struct DXEngine::Notifier {
  int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  ~Notifier() {
    if (fd >= 0) ::close(fd);
  }
  void clear() const {
    uint64_t count;
    if (fd >= 0) (void)!::read(fd, &count, sizeof count);
  }
};

DXEngine::DXEngine() : notifier_(std::make_unique<Notifier>()) {}

DXEngine::~DXEngine() {
  // The device threads end before the buffers they write into go.
  captureBuffer.reset();
  outputBuffer.reset();
}

DXEngine& engine() {
  thread_local DXEngine e;
  return e;
}

bool DXEngine::openCapture(int32_t Quality, const std::string& code, const DriverEntry& driver) {
  // Capture and playback run side by side: a playback under way keeps its output buffer
  // (releasing it would leave the control playing with no device to play or end on).
  if (!recordFile.isOpen()) outputBuffer.reset();
  captureBuffer.reset();  // a second StartVU opens the device afresh
  if ((uint32_t(Quality) & supportedFormats(driver)) == 0) {
    LastErrorMessage = "Error Initializing the Capture Device";
    LastErrorNumber = kErrCaptureFormat;
    return false;
  }
  auto fail = [this](int number, const std::string& text) {
    LastErrorMessage = "Error Initializing the Capture Device: " + describe(number, text);
    LastErrorNumber = kErrCaptureOpen;
    return false;
  };
  const WaveFormat format = formatOfCode(code);
  if (format.formatTag != 1) return fail(kNoErrorNumber, "no format has the code \"" + code + "\"");
  captureFormat = format;
  const uint32_t size = format.avgBytesPerSec;
  captureReadArray.assign(size + 1, 0);
  std::string why;
  captureBuffer = CaptureBuffer::create(driver, format, size, &why, notifier_->fd);
  if (!captureBuffer) return fail(kNoErrorNumber, why);
  return true;
}

void DXEngine::closeCapture() {
  if (captureBuffer) captureBuffer->stop();
  captureBuffer.reset();
}

bool DXEngine::openPlayback(const std::string& FileName, const DriverEntry& driver) {
  outputBuffer.reset();
  recordFile.close();  // a file an earlier playback left open
  auto fail = [this](int number, const std::string& text) {
    recordFile.close();
    LastErrorMessage = "Error Initializing the Playing Device: " + describe(number, text);
    LastErrorNumber = kErrPlaybackOpen;
    return false;
  };
  WaveFormat format;
  if (!recordFile.openForReading(FileName, &format)) {
    const int err = errno;
    return fail(err, std::strerror(err));
  }
  fileFormat = format;
  if (format.formatTag != 1 || !playableFormat(format)) {
    recordFile.close();
    LastErrorMessage = "Unsupported Format";
    LastErrorNumber = kErrUnsupportedFormat;
    return false;
  }
  // The refills write two halves; an odd byte rate (8-bit mono) would leave the buffer's last
  // byte unwritten and play it stale once a pass, so the buffer is the two halves alone (and
  // still whole frames).
  const uint32_t unit = format.blockAlign % 2 ? 2u * format.blockAlign : format.blockAlign;
  const uint32_t size = format.avgBytesPerSec - format.avgBytesPerSec % unit;
  half = size / 2;
  std::string why;
  outputBuffer = OutputBuffer::create(driver, format, size, &why, notifier_->fd);
  if (!outputBuffer) return fail(kNoErrorNumber, why);
  workArray.assign(half, 0);
  return true;
}

void DXEngine::closePlayback() {
  if (outputBuffer) outputBuffer->stop();
  outputBuffer.reset();
  recordFile.close();
}

void DXEngine::setupCaptureNotifications(int32_t Resolution) {
  if (!captureBuffer) return;
  const uint32_t size = captureBuffer->size();
  const uint32_t step = ((size / 66) / 4) * 4 - 1;
  CaptureNotifyTable.assign(kCaptureEntries, {});
  for (int i = 0; i < kCaptureEntries; ++i) {
    CaptureNotifyTable[i].event = nextEvent_++;
    if (i > 0 && i < 66) CaptureNotifyTable[i].offset = CaptureNotifyTable[i - 1].offset + step;
  }
  CaptureNotifyTable[66].offset = size / 4;
  computePeakStep(Resolution > 0 ? Resolution : peakResolution_, false);
  captureBuffer->setNotificationPositions(CaptureNotifyTable);
}

void DXEngine::setupPlaybackNotifications(int32_t Resolution) {
  if (!outputBuffer) return;
  PlaybackNotifyTable.assign(kPlaybackEntries, {});
  for (int i = 1; i <= kPlaybackEntries; ++i) {
    PlaybackNotifyTable[i - 1].event = nextEvent_++;
    PlaybackNotifyTable[i - 1].offset = uint32_t(std::nearbyint(2.0 * half * (i / 10.0)));
  }
  PlaybackNotifyTable[9].offset -= 1;  // the last byte of the buffer
  computePeakStep(Resolution > 0 ? Resolution : peakResolution_, true);
  outputBuffer->setNotificationPositions(PlaybackNotifyTable);
}

void DXEngine::releaseCaptureNotifications() {
  for (auto it = CaptureNotifyTable.rbegin(); it != CaptureNotifyTable.rend(); ++it) it->event = 0;
}

void DXEngine::releasePlaybackNotifications() {
  for (auto it = PlaybackNotifyTable.rbegin(); it != PlaybackNotifyTable.rend(); ++it)
    it->event = 0;
}

void DXEngine::computePeakStep(int32_t Resolution, std::optional<bool> useFileFormat) {
  if (useFileFormat) peakStepUsesFileFormat = *useFileFormat;
  peakResolution_ = Resolution;
  const int64_t bytes =
      peakStepUsesFileFormat ? fileFormat.avgBytesPerSec : captureFormat.avgBytesPerSec;
  if (bytes <= 0) return;
  const int64_t twelfth = bytes / 12;
  if (twelfth == 0) return;  // under 12 bytes a second: no stride to take
  int64_t step = (bytes / twelfth) * int64_t(Resolution);
  step -= ((step % 4) + 4) % 4;
  // A huge Resolution would overflow the stride: keep the largest multiple of 4 there is.
  PeakStep = int32_t(std::clamp<int64_t>(step, std::numeric_limits<int32_t>::min(),
                                         std::numeric_limits<int32_t>::max() - 3));
}

void DXEngine::saveStep(const std::string& code, bool atWrap, bool reset) {
  (void)code;
  if (reset) {
    ReadPosition = 0;
    return;
  }
  if (!captureBuffer || !recordFile.isOpen()) return;
  const uint32_t size = captureBuffer->size();
  if (captureReadArray.size() < size + 1) captureReadArray.assign(size + 1, 0);
  // Only the stretch that is appended is copied: it lies behind the device's cursor, away from
  // the bytes the device is filling.
  auto appendFrom = [&](uint32_t from, uint32_t count) {
    captureBuffer->read(from, count, captureReadArray.data() + from, false);
    // Only what the file kept counts as saved: a full disk stops the count where the file ends.
    size_t kept = 0;
    recordFile.append(std::span<const uint8_t>(captureReadArray.data() + from, count), &kept);
    SavedByteCount += double(kept);
  };
  if (atWrap) {
    if (ReadPosition > 0 && uint32_t(ReadPosition) < size)
      appendFrom(uint32_t(ReadPosition), size - uint32_t(ReadPosition));
    return;
  }
  int32_t capture = 0, read = 0;
  captureBuffer->getCurrentPosition(capture, read);
  // The read position is the end of the captured bytes: the byte at it is not captured yet, so
  // the first chunk ends just before it and the second chunk starts there.
  if (read <= 0 || uint32_t(read) > size) return;
  appendFrom(0, uint32_t(read));
  ReadPosition = read;
}

void DXEngine::rewind(int32_t& playRemaining, int32_t& playDecrement) {
  playRemaining = clampToInt32(int64_t(recordFile.length()) + 3 * int64_t(half));
  playDecrement = int32_t(std::lround(2.0 * half / 9.0));
  recordFile.seek(44);
}

void DXEngine::readFile(uint8_t* out, uint32_t count) {
  const size_t got = recordFile.read(out, count);
  std::memset(out + got, silenceByte(), count - got);
}

uint8_t DXEngine::silenceByte() const {
  return fileFormat.bitsPerSample == 8 ? 0x80 : 0;  // 8-bit samples are unsigned
}

bool DXEngine::fileAtEnd() const {
  return recordFile.atEnd();
}

int DXEngine::notificationFd() const {
  return notifier_->fd;
}

bool DXEngine::takeNotification(int32_t& eventid) {
  auto next = [&] {
    return (captureBuffer && captureBuffer->takeNotification(eventid)) ||
           (outputBuffer && outputBuffer->takeNotification(eventid));
  };
  if (next()) return true;
  // Cleared before the queues are looked at again, so that a notification queued meanwhile is
  // either taken now or wakes the descriptor once more.
  notifier_->clear();
  return next();
}

}  // namespace lumo
