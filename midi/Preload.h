// The instrument preload file: a fixed 411-byte Standard MIDI File of 128 program changes on
// channel 1, so that loading it makes the synthesizer download every General MIDI instrument
// before the song starts.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>

namespace midi {

constexpr const char* kPreloadFileName = "filetemp.tmp";
constexpr size_t kPreloadFileSize = 411;

// The file's bytes. Its track chunk declares 384 bytes, which ends after the last program
// change; the delta and end-of-track event that follow lie outside the chunk as declared.
const std::array<uint8_t, kPreloadFileSize>& preloadFileBytes();

// Writes the bytes to `path`, replacing what was there; false when the file cannot be written.
bool CreateFileTemp(const std::filesystem::path& path);

}  // namespace midi
