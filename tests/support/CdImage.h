// A two-track audio CD image (BIN/CUE with CD-TEXT) for the tests of the CD window: track 1 is
// six seconds of a 210.5 Hz sine (0.03 radians a frame), track 2 three seconds at twice that,
// both at 8000 of 32767 in both channels; disc "Band" / "Album", tracks "Ann" / "One" and
// "Bob" / "Two".
#pragma once

#include <filesystem>

namespace testaudio {

constexpr int kCdImageTrackSectors[2] = {75 * 6, 75 * 3};
constexpr double kCdImageTrack1Hz = 0.03 * 44100 / 6.283185307179586;

// Writes disc.bin and disc.cue into `dir`; returns the cue's path.
std::filesystem::path writeCdImage(const std::filesystem::path& dir);

}  // namespace testaudio
