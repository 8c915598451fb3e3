// Decoders of song files: each turns one file into interleaved float frames at the file's own
// rate and channel count. They run on the engine's feeder thread (or the caller's thread for
// decoding channels and the offline renderer), never on the mixing thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace audiolib {

class Decoder {
 public:
  virtual ~Decoder() = default;

  virtual int sampleRate() const = 0;
  virtual int channels() const = 0;
  // Exact length in frames (after the encoder's delay and padding are taken off), -1 unknown.
  virtual int64_t lengthFrames() const = 0;
  // One of BASS_CTYPE_*.
  virtual uint32_t channelType() const = 0;
  // Decodes up to `frames` frames into `out`; returns the frames written, 0 at the end,
  // -1 on a read error.
  virtual int64_t read(float* out, int64_t frames) = 0;
  // Moves to `frame` (0 <= frame <= length); the next read starts there. False on failure.
  virtual bool seek(int64_t frame) = 0;
};

// Opens `path` as a stream: WAV and the other PCM formats libsndfile reads, then MP3 through
// libmpg123. Returns nullptr and sets *error (a BASS_ERROR_* code) when the file cannot be
// opened or is neither.
std::unique_ptr<Decoder> openStreamDecoder(const std::string& path, int* error);

// Opens `path` as a module through libopenmpt, rendered at `sampleRate`. `loop` repeats the
// song for ever; `ramp` keeps libopenmpt's volume ramping (off otherwise).
std::unique_ptr<Decoder> openModuleDecoder(const std::string& path, int sampleRate, bool loop,
                                           bool ramp, int* error);

}  // namespace audiolib
