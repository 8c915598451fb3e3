// The control's sound engine: the device list, a looping one-second capture buffer and a
// one-second output buffer on SDL2 devices with position notifications, the record file, and
// the save step that copies captured bytes into it. One engine per thread (the window thread),
// shared by every control of that thread; nothing here touches Qt.
//
// Threads: SDL calls the buffers' device callbacks on its own audio thread. A callback only
// copies bytes between the device and the buffer, moves an atomic cursor and, for every
// notification offset it crosses, pushes the offset's event handle into a lock-free queue and
// wakes `notificationFd()`; the window thread drains the queue with `takeNotification` and
// calls the control's DXCallback for each handle. No callback locks, allocates or logs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "WavFile.h"

namespace lumo {

constexpr int32_t sdtcOutput = 0;
constexpr int32_t sdtcInput = 1;

// One sound device. Guid is what SDL opens it by (its name; empty = the system's default).
struct DriverEntry {
  std::string Guid;
  std::string Name;
  std::string Description;
  int32_t Type = sdtcOutput;
};

struct NotifyEntry {
  uint32_t offset = 0;
  int32_t event = 0;  // event handle; 0 = none
};

// Error numbers of the engine (as 32-bit values: 0x80040001 reads as a negative int32).
constexpr int32_t kErrCaptureFormat =
    int32_t(0x8004000A);  // "Error Initializing the Capture Device"
constexpr int32_t kErrCaptureOpen = int32_t(0x8004000B);
constexpr int32_t kErrUnsupportedFormat = int32_t(0x8004000C);
constexpr int32_t kErrPlaybackOpen = int32_t(0x8004000D);
constexpr int32_t kErrPrecision = int32_t(0x8004000E);
constexpr int32_t kErrStream = int32_t(0x80040012);

// The twelve formats as their codes ("1M08" … "4S16") by Quality − 1; every other index is
// empty. Quality values are single bits 1 … 2048.
const std::vector<std::string>& QualityCodes();
// The capture format a code stands for (format tag 1); tag 0 when the code is not one.
WaveFormat formatOfCode(const std::string& code);
// The code of a file's format: first digit of the rate, "M" for one channel else "S", bits as
// two digits ("4S16"); the reverse of formatOfCode for the twelve formats.
std::string codeOfFormat(const WaveFormat& format);

// Capture devices (Type sdtcInput) in SDL's order, then output devices (sdtcOutput).
std::vector<DriverEntry> enumerateDrivers();
// The entry (1-based) of the system's default capture device, or 1 when SDL can't tell.
int defaultCaptureDriver(const std::vector<DriverEntry>& drivers);

class CaptureBuffer;
class OutputBuffer;

// The engine state of one thread.
struct DXEngine {
  DXEngine();
  ~DXEngine();

  std::unique_ptr<CaptureBuffer> captureBuffer;
  std::unique_ptr<OutputBuffer> outputBuffer;
  WaveFormat captureFormat;
  WaveFormat fileFormat;
  std::vector<NotifyEntry> CaptureNotifyTable;   // 67 entries once set up
  std::vector<NotifyEntry> PlaybackNotifyTable;  // 10 entries once set up
  std::vector<uint8_t> captureReadArray;         // the save step's copy of the buffer
  std::vector<uint8_t> workArray;                // Values of PeakValues
  std::vector<uint8_t> monitorArray;
  uint32_t half = 0;
  int32_t monitorBlock = 0;
  bool playLooped = false;
  RecordFile recordFile;  // the open record or playback file
  double SavedByteCount = 0;
  int32_t ReadPosition = 0;
  int32_t PeakStep = 0;
  bool peakStepUsesFileFormat = false;  // remembered for calls that omit the flag
  int32_t LastErrorNumber = 0;
  std::string LastErrorMessage;

  // ---- engine routines; false on failure with LastErrorNumber/LastErrorMessage set
  bool openCapture(int32_t Quality, const std::string& code, const DriverEntry& driver);
  // Stops capture and releases the capture buffer and device.
  void closeCapture();
  bool openPlayback(const std::string& FileName, const DriverEntry& driver);
  // Stops playback, closes the file and releases the output buffer and device.
  void closePlayback();
  // Resolution 0: the one computePeakStep was last given (3 until then).
  void setupCaptureNotifications(int32_t Resolution = 0);
  void setupPlaybackNotifications(int32_t Resolution = 0);
  void releaseCaptureNotifications();
  void releasePlaybackNotifications();
  void saveStep(const std::string& code, bool atWrap, bool reset);
  void computePeakStep(int32_t Resolution, std::optional<bool> useFileFormat = std::nullopt);
  // playRemaining := file length + 3 × half, playDecrement := round(2 × half / 9), read
  // position just behind the header. The two counters belong to the control.
  void rewind(int32_t& playRemaining, int32_t& playDecrement);
  // Reads up to `count` bytes of the playback file into `out` (zeros past its end).
  void readFile(uint8_t* out, uint32_t count);
  bool fileAtEnd() const;
  // The byte of silence in the playback file's format.
  uint8_t silenceByte() const;

  // ---- notifications for the window thread
  int notificationFd() const;  // readable while notifications are waiting
  bool takeNotification(int32_t& eventid);

 private:
  struct Notifier;
  std::unique_ptr<Notifier> notifier_;
  int32_t nextEvent_ = 1;
  int32_t peakResolution_ = 3;
};

// The engine of the calling thread.
DXEngine& engine();

// The set of formats (QualityConstants bits) a device takes; SDL converts, so usually all
// twelve. The environment variable LUMO_FORMAT_MASK (hexadecimal) narrows it, so that a
// device that takes fewer can be tried.
uint32_t supportedFormats(const DriverEntry& driver);

// A looping capture buffer of `size` bytes on an SDL capture device.
class CaptureBuffer {
 public:
  // Null and *error set when the device can't be opened in `format`. The device thread writes
  // to `wakeFd` (an eventfd) after queueing notifications.
  static std::unique_ptr<CaptureBuffer> create(const DriverEntry& driver, const WaveFormat& format,
                                               uint32_t size, std::string* error, int wakeFd = -1);
  virtual ~CaptureBuffer() = default;
  virtual uint32_t size() const = 0;
  // Entries' offsets are byte positions; crossing one signals its event.
  virtual void setNotificationPositions(const std::vector<NotifyEntry>& table) = 0;
  // Starts capturing at position 0, over and over when `looping`.
  virtual void start(bool looping) = 0;
  virtual void stop() = 0;
  // capture: where the device writes next; read: the end of what is safe to read.
  virtual void getCurrentPosition(int32_t& capture, int32_t& read) const = 0;
  // Copies `count` bytes from `start` (wrapping at the end); wholeBuffer copies everything.
  virtual void read(uint32_t start, uint32_t count, uint8_t* out, bool wholeBuffer) const = 0;
  // The next event handle whose offset the device has reached (window thread only).
  virtual bool takeNotification(int32_t& eventid) { return (void)eventid, false; }
};

// A looping output buffer of `size` bytes on an SDL output device.
class OutputBuffer {
 public:
  static std::unique_ptr<OutputBuffer> create(const DriverEntry& driver, const WaveFormat& format,
                                              uint32_t size, std::string* error, int wakeFd = -1);
  virtual ~OutputBuffer() = default;
  virtual uint32_t size() const = 0;
  virtual void setNotificationPositions(const std::vector<NotifyEntry>& table) = 0;
  virtual void write(uint32_t start, uint32_t count, const uint8_t* bytes) = 0;
  virtual void read(uint32_t start, uint32_t count, uint8_t* out) const = 0;
  virtual void setCurrentPosition(uint32_t position) = 0;
  virtual void play(bool looping) = 0;
  virtual void stop() = 0;
  // play: the byte the device plays next; write: where it is safe to write from.
  virtual void getCurrentPosition(int32_t& play, int32_t& write) const = 0;
  virtual bool takeNotification(int32_t& eventid) { return (void)eventid, false; }
};

}  // namespace lumo
