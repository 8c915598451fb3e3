// The General MIDI instrument names of the channel mixer and its 16-entry channel table.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace midi {

constexpr int kProgramCount = 128;
// The name after the last program, shown for the drum channel.
constexpr int kPercussion = 128;

// The 128 General MIDI Level 1 program names in program order, as the instrument list shows them.
const std::array<std::string_view, kProgramCount>& programNames();

// 0..127 → the program's name, 128 → "Percussion", anything else → "".
std::string GetPatch(int n);

// The instrument tool tip for a program: its name (0..127), "Percussion" (128), or nothing for
// other values, where the tool tip keeps what it had.
std::optional<std::string> descrizionestrumenti(int numstr);

// One mixer strip's memory of its MIDI channel.
struct ChannelState {
  bool instrumentChanged = false;  // the user picked an instrument since the song was read
  bool volumeChanged = false;      // the user moved the volume or the mute since then
  int16_t program = 0;             // General MIDI program 0..127
  int16_t inUse = -1;              // -1 = unused, else the MIDI channel number 1..16
  int16_t volume = 0;              // controller-7 value; 100 when the file gives none
  int16_t pan = 64;                // controller-10 value (kept, not used further)
  int16_t state = 0;               // 2 once the strip was enabled from the file
};

constexpr int kChannelCount = 16;
using ChannelTable = std::array<ChannelState, kChannelCount>;  // index 0..15 = MIDI channels 1..16

// The channel half of the reset before a song is read: every channel unused, program 0,
// volume 0, pan 64, nothing changed.
void resetChannelTable(ChannelTable& table);

}  // namespace midi
