// The instrument preload song: a fixed 411-byte Standard MIDI File of 128 program changes on
// channel 1, so that loading it makes the synthesizer download every General MIDI instrument
// before the song starts. The player loads it from memory; no file is written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace midi {

constexpr size_t kPreloadFileSize = 411;

// The file's bytes. Its track chunk declares 384 bytes, which ends after the last program
// change; the delta and end-of-track event that follow lie outside the chunk as declared.
const std::array<uint8_t, kPreloadFileSize>& preloadFileBytes();

}  // namespace midi
