// Decoders of song files: each turns one file into interleaved float frames at the file's own
// rate and channel count. They run on the engine's feeder thread (or the caller's thread for
// decoding channels and the offline renderer), never on the mixing thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace audiolib {

// What the engine opens at all. A file past these is refused before anything is sized by it,
// so a header that lies cannot make the engine allocate or loop in proportion to the lie.
// Rates: the lowest real recordings are 8 kHz telephone speech and old game sounds at 4 to
// 6 kHz, the highest hi-res masters 352.8 and 384 kHz; 1 kHz leaves a margin below, and below
// it every buffer sized in seconds of input would grow with the output rate's ratio to it.
constexpr int kMinFileRate = 1000;
constexpr int kMaxFileRate = 384000;
// Up to 7.1; the mixer's per-stream channel limit.
constexpr int kMaxFileChannels = 8;
// A day: longer than any DJ set or concert recording, and it keeps frame counts, byte
// positions (frames x channels x 4) and their products with rates far inside 64 bits.
constexpr int64_t kMaxFileSeconds = 24 * 3600;
// Stream files are read as they play, so only their arithmetic needs a bound: 16 GiB holds a
// day of stereo 48 kHz 24-bit audio with room to spare (RIFF stops at 4 GiB; RF64 and W64 go
// beyond it).
constexpr uint64_t kMaxStreamFileBytes = uint64_t(16) << 30;
// Modules are read whole into memory (and libopenmpt keeps its own copy); the largest real
// ones, with many long samples, stay under a few tens of MiB.
constexpr uint64_t kMaxModuleFileBytes = uint64_t(128) << 20;

// BASS_OK when a decoder's format is one the engine takes: BASS_ERROR_FORMAT for a rate or
// channel count outside the limits, BASS_ERROR_FILEFORM for a length past a day (-1, unknown,
// passes).
int checkFileFormat(int64_t rate, int64_t channels, int64_t lengthFrames);

// What read() returns when a decoder that reads ahead on a thread of its own has nothing yet
// and its reader asked not to wait (the live feeder, which must not stall on a slow disc).
constexpr int64_t kDecoderNotReady = -2;

class Decoder {
 public:
  virtual ~Decoder() = default;

  virtual int sampleRate() const = 0;
  virtual int channels() const = 0;
  // Exact length in frames (after the encoder's delay and padding are taken off), -1 unknown.
  // May change once, from an estimate to the exact length, while a scan runs in the background;
  // it may be read on any thread.
  virtual int64_t lengthFrames() const = 0;
  // Waits until lengthFrames() is exact (for offline rendering, which has the time).
  virtual void waitForLength() {}
  // One of BASS_CTYPE_*.
  virtual uint32_t channelType() const = 0;
  // Decodes up to `frames` frames into `out`; returns the frames written, 0 at the end,
  // -1 on a read error.
  virtual int64_t read(float* out, int64_t frames) = 0;
  // Moves to `frame` (0 <= frame <= length); the next read starts there. False on failure.
  virtual bool seek(int64_t frame) = 0;
};

// True when `path` names a regular file, which opens and reads without blocking; otherwise
// false, with *why (when given) saying what it is instead: "no such file", "a named pipe", ...
// A pipe or a device would block its reader for ever.
bool checkRegularFile(const std::string& path, std::string* why = nullptr);

// Opens `path` as a stream: WAV and the other PCM formats libsndfile reads, then MP3 through
// libmpg123. Returns nullptr and sets *error (a BASS_ERROR_* code) when the file cannot be
// opened or is neither (BASS_ERROR_FILEOPEN, BASS_ERROR_FILEFORM), when it is larger than
// kMaxStreamFileBytes or longer than a day (BASS_ERROR_FILEFORM), or when its rate or channel
// count is past the limits above (BASS_ERROR_FORMAT).
std::unique_ptr<Decoder> openStreamDecoder(const std::string& path, int* error);

// Opens `path` as a module through libopenmpt, rendered at `sampleRate`. `loop` repeats the
// song for ever; `ramp` keeps libopenmpt's volume ramping (off otherwise). A file larger than
// kMaxModuleFileBytes, or a song longer than a day, is refused with BASS_ERROR_FILEFORM.
std::unique_ptr<Decoder> openModuleDecoder(const std::string& path, int sampleRate, bool loop,
                                           bool ramp, int* error);

}  // namespace audiolib
