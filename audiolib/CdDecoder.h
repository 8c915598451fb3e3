// One audio track of a disc or an image, read through libcdio-paranoia as 44.1 kHz stereo
// frames. Each decoder opens the drive on its own, so reading never shares a libcdio handle
// with the window's drive calls. Runs on the engine's feeder thread, on a prefetch thread or
// on the caller's thread of a decoding stream, never on the mixing thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "Decoder.h"

typedef struct _CdIo CdIo_t;
#include "bass.h"

namespace audiolib {

constexpr int kCdFramesPerSector = 588;  // 2352 bytes of 16-bit stereo

// Where a read error goes: the stream's handle is known only once the engine has the
// channel, and a read ahead may fail before that, so an early error waits for it.
class CdErrorReport {
 public:
  explicit CdErrorReport(DWORD track) : track_(track) {}
  void setHandle(DWORD handle);
  void raise();

 private:
  std::mutex mutex_;
  DWORD handle_ = 0;
  DWORD track_;
  bool pending_ = false;
  bool raised_ = false;
};

struct CdTrackSource {
  std::string path;  // device or image file
  bool image = false;
  int cdioTrack = 1;        // libcdio's track number
  int32_t firstSector = 0;  // LSN
  int32_t sectors = 0;
};

class CdDecoder final : public Decoder {
 public:
  // Null with *error set (BASS_ERROR_NOCD, BASS_ERROR_CDREAD, BASS_ERROR_MEM).
  static std::unique_ptr<CdDecoder> open(const CdTrackSource& track,
                                         std::shared_ptr<CdErrorReport> report, int* error);
  ~CdDecoder() override;

  int sampleRate() const override { return 44100; }
  int channels() const override { return 2; }
  int64_t lengthFrames() const override { return int64_t(track_.sectors) * kCdFramesPerSector; }
  uint32_t channelType() const override { return BASS_CTYPE_STREAM_CD; }
  int64_t read(float* out, int64_t frames) override;
  bool seek(int64_t frame) override;

 private:
  struct Handles;
  CdDecoder(const CdTrackSource& track, std::shared_ptr<CdErrorReport> report);
  bool readSector();

  CdTrackSource track_;
  std::shared_ptr<CdErrorReport> report_;
  std::unique_ptr<Handles> h_;
  int32_t nextSector_ = 0;  // sectors read from the track's start
  int16_t sector_[kCdFramesPerSector * 2];
  int sectorUsed_ = kCdFramesPerSector;  // frames of sector_ already handed out
  bool failed_ = false;
};

// Opens a drive (by device path) or an image (.cue, .toc, .nrg by its extension) in libcdio.
CdIo_t* openCdio(const std::string& path, bool image);
// Before the first libcdio call: its messages never end the process.
void routeCdioLog();

// Runs the BASS_SYNC_CD_ERROR syncs of `handle` on the notifier thread (never under the
// engine's lock of the thread that found the error).
void postCdError(DWORD handle, DWORD track);

}  // namespace audiolib
