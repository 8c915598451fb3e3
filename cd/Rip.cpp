#include "Rip.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "WavHeader.h"
#include "bass.h"

namespace cd {

namespace {

using Clock = std::chrono::steady_clock;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// The clean-up both rippers share (step 12): unlock the door, free the stream if it is still
// there. The lock is the window's courtesy to the user; an image has none and says so.
class RipSession {
 public:
  RipSession(uint32_t drive, int track) : drive_(drive) {
    BASS_CD_Door(drive, BASS_CD_DOOR_LOCK);
    stream = BASS_CD_StreamCreate(drive, DWORD(track), BASS_STREAM_DECODE | BASS_STREAM_AUTOFREE);
    streamError = stream ? BASS_OK : BASS_ErrorGetCode();
    if (stream) length = BASS_StreamGetLength(stream);
  }
  ~RipSession() {
    BASS_CD_Door(drive_, BASS_CD_DOOR_UNLOCK);
    if (stream) {
      BASS_ChannelStop(stream);
      BASS_StreamFree(stream);  // fails harmlessly when the end freed it
    }
  }
  HSTREAM stream = 0;
  int streamError = BASS_OK;
  QWORD length = 0;

  // Reads the next block; 0 at the stream's end (or a read error: see complete()).
  DWORD next(std::vector<uint8_t>& buffer) {
    if (!stream || BASS_ChannelIsActive(stream) == BASS_ACTIVE_STOPPED) return 0;
    const DWORD got = BASS_ChannelGetData(stream, buffer.data(), DWORD(buffer.size()));
    if (got == DWORD(-1)) return 0;
    const QWORD pos = BASS_ChannelGetPosition(stream);
    if (pos != QWORD(-1)) position = pos;
    return got;
  }
  // The stream gave the whole track: a read error ends a decoding stream early.
  bool complete() const { return position >= length; }
  int percent() const { return length ? int(position * 100 / length) : 100; }
  QWORD position = 0;

 private:
  uint32_t drive_;
};

bool keepGoing(const RipCallbacks& cb, const RipSession& s) {
  if (cb.progress) cb.progress(s.percent());
  return !(cb.pumpEvents && cb.pumpEvents());
}

double since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

RipResult failure(std::string message, RipResult::Box box, int code, std::string title) {
  RipResult r;
  r.status = RipResult::Failed;
  r.message = std::move(message);
  r.box = box;
  r.errorCode = code;
  r.title = std::move(title);
  return r;
}

RipResult errorCodeBox(const std::string& text, int code) {
  return failure(errorCodeText(text, code), RipResult::Critical, code, "Error");
}

RipResult routineError(const std::string& routine, int number, const std::string& description) {
  return failure(routineErrorText(kModule, routine, number, description), RipResult::RoutineError,
                 number, "ORIVEL");
}

std::string readErrorText(QWORD position) {
  return "The disc could not be read at " + std::to_string(long(position / 176400 / 60)) + ":" +
         (position / 176400 % 60 < 10 ? "0" : "") + std::to_string(long(position / 176400 % 60)) +
         ".";
}

}  // namespace

std::string errorCodeText(const std::string& text, int code) {
  if (code == -1) return text;
  return text + "\n\nError Code : " + std::to_string(code);
}

std::string routineErrorText(const std::string& module, const std::string& routine, int number,
                             const std::string& description) {
  return "Error in routine : " + routine + "in module : " + module + "\nError #" +
         std::to_string(number) + "\n" + description;
}

std::string bitrateLine(uint32_t bitsPerSecond) {
  const std::string digits = std::to_string(bitsPerSecond / 1000);
  std::string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped + " Kbps";
}

std::string secondsText(double seconds) {
  const long tenths = std::lround(std::max(0.0, seconds) * 10);
  const long whole = tenths / 10;
  return (whole ? std::to_string(whole) : std::string()) + "." + std::to_string(tenths % 10);
}

std::string RPP(const std::string& folder) {
  return !folder.empty() && folder.back() == '/' ? folder : folder + "/";
}

std::string trackWavPath(const std::string& folder) {
  return RPP(folder) + "TRACK" + ".WAV";
}

std::string trackWmaPath(const std::string& folder, int track) {
  return RPP(folder) + "TRACK" + std::to_string(track + 1) + ".WMA";
}

std::string handOverCaption(int track) {
  return "    From CdAudio TRACK" + std::to_string(track + 1);
}

std::array<uint8_t, 44> makeWavHeader(int channels, uint32_t rate, int bits, uint32_t dataBytes) {
  return audiolib::wavHeader(channels, rate, bits, dataBytes);
}

EncoderRates loadWmaEncoderRates() {
  EncoderRates r;
  const DWORD* rates = BASS_WMA_EncodeGetRates(44100, 0);
  if (!rates) {
    r.error = errorCodeText(kNoCodec, BASS_ErrorGetCode());
    return r;
  }
  for (; *rates; ++rates) {
    r.rates.push_back(*rates);
    r.lines.push_back(bitrateLine(*rates));
  }
  return r;
}

RipResult extractAudioTrack(uint32_t drive, int track, const std::string& path,
                            const RipCallbacks& callbacks) {
  static const char* const kRoutine = "ExtractAudioTrack";
  const auto start = Clock::now();
  RipSession s(drive, track);
  if (!s.stream) return failure(kStreamError, RipResult::Plain, s.streamError, "ORIVEL");

  BASS_CHANNELINFO info{};
  DWORD rate = 0;
  BASS_ChannelGetInfo(s.stream, &info);
  BASS_ChannelGetAttributes(s.stream, &rate, nullptr, nullptr);
  const int bits = (info.flags & 1) ? 8 : 16;
  const int channels = int(std::min<DWORD>(info.chans, 2));

  // The rip is written beside the file it replaces and renamed over it once whole: a rip that
  // fails or is cancelled leaves the older file as it was.
  const std::string part = path + ".part";
  File f(std::fopen(part.c_str(), "wbe"));
  if (!f) return routineError(kRoutine, errno, path + ": " + std::strerror(errno));
  const auto header = makeWavHeader(channels, rate, bits, 0);
  // The header's zero sizes are patched at the end. Written in its three pieces.
  bool ok = std::fwrite(header.data(), 1, 12, f.get()) == 12 &&
            std::fwrite(header.data() + 12, 1, 24, f.get()) == 24 &&
            std::fwrite(header.data() + 36, 1, 8, f.get()) == 8;
  std::vector<uint8_t> buffer(kTransferBytes);
  bool cancelled = false;
  while (ok) {
    const DWORD got = s.next(buffer);
    if (got == 0) break;
    ok = std::fwrite(buffer.data(), 1, got, f.get()) == got;
    if (ok && !keepGoing(callbacks, s)) {
      cancelled = true;
      break;
    }
  }
  // Each failure below skips the steps after it, so errno still tells the first one.
  int writeErrno = ok ? 0 : errno;
  const uint32_t data = uint32_t(s.position);
  uint8_t size[4];
  put32(size, data + 36);
  ok = ok && std::fseek(f.get(), 4, SEEK_SET) == 0 && std::fwrite(size, 1, 4, f.get()) == 4;
  put32(size, data);
  ok = ok && std::fseek(f.get(), 40, SEEK_SET) == 0 && std::fwrite(size, 1, 4, f.get()) == 4;
  if (!ok && !writeErrno) writeErrno = errno;
  // Closing writes what was buffered: the disk may refuse it there.
  if (std::fclose(f.release()) != 0 && ok) {
    ok = false;
    writeErrno = errno;
  }
  const bool whole = ok && !cancelled && s.complete();
  if (whole && std::rename(part.c_str(), path.c_str()) != 0) {
    const int err = errno;
    std::remove(part.c_str());
    return routineError(kRoutine, err, path + ": " + std::strerror(err));
  }
  if (!whole) std::remove(part.c_str());

  if (cancelled) {
    RipResult r;
    r.status = RipResult::Cancelled;
    return r;
  }
  if (!ok) return routineError(kRoutine, writeErrno, path + ": " + std::strerror(writeErrno));
  if (!s.complete()) return routineError(kRoutine, BASS_ERROR_CDREAD, readErrorText(s.position));
  RipResult r;
  r.status = RipResult::Done;
  r.message = kWavDone;
  r.title = "ORIVEL";
  r.path = path;
  r.dataBytes = data;
  r.seconds = since(start);
  return r;
}

RipResult extractAudioTrackToWma(uint32_t drive, int track, uint32_t bitrate,
                                 const std::string& path, bool writeTags,
                                 const std::array<std::string, 8>& tags,
                                 const RipCallbacks& callbacks) {
  const auto start = Clock::now();
  RipSession s(drive, track);
  if (!s.stream) return errorCodeBox(kStreamError, s.streamError);
  const HWMENCODE encoder =
      BASS_WMA_EncodeOpenFile(44100, BASS_WMA_ENCODE_TAGS, bitrate, path.c_str());
  if (!encoder) return errorCodeBox(kOpenOutputError, BASS_ErrorGetCode());
  if (writeTags)
    for (size_t i = 0; i < tags.size(); ++i)
      if (!tags[i].empty())
        BASS_WMA_EncodeSetTag(encoder, kWmaTagNames[i].c_str(), tags[i].c_str());
  BASS_WMA_EncodeSetTag(encoder, "", "");

  std::vector<uint8_t> buffer(kTransferBytes);
  int writeError = BASS_OK;
  bool cancelled = false;
  for (;;) {
    const DWORD got = s.next(buffer);
    if (got == 0) break;
    if (!BASS_WMA_EncodeWrite(encoder, buffer.data(), got)) {
      writeError = BASS_ErrorGetCode();
      break;
    }
    if (!keepGoing(callbacks, s)) {
      cancelled = true;
      break;
    }
  }
  BASS_WMA_EncodeClose(encoder);
  // Closing writes the file's end and its tags: a failure there is a failed write too.
  if (writeError == BASS_OK && BASS_ErrorGetCode() != BASS_OK) writeError = BASS_ErrorGetCode();
  if (cancelled) {
    std::remove(path.c_str());
    RipResult r;
    r.status = RipResult::Cancelled;
    return r;
  }
  if (writeError != BASS_OK) {
    RipResult r = errorCodeBox(kEncodeError, writeError);
    r.path = path;  // the file is kept
    return r;
  }
  if (!s.complete())
    return routineError("ExtractAudioTrackToWMA", BASS_ERROR_CDREAD, readErrorText(s.position));
  RipResult r;
  r.status = RipResult::Done;
  r.seconds = since(start);
  r.message = "WMA File Encoded. Encoding took " + secondsText(r.seconds) + " seconds.";
  r.title = "WMA Encoding";
  r.path = path;
  r.dataBytes = s.position;
  return r;
}

}  // namespace cd
