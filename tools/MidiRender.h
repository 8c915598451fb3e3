// `orivelR-cli render` for MIDI and karaoke songs: the song through the engine's sequencer
// with the MIDI player's controls, written to a WAV file.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cli {

struct MidiRenderOptions {
  std::string song;
  std::string out;
  int tempo = 64;                            // the tempo slider, 0..127 (64 = the file's tempo)
  int transpose = 0;                         // semitones, -10..10 (never the drums)
  int level = 50;                            // the MIDI level slider, 0..100
  std::vector<int> mute;                     // channels 1..16
  std::vector<std::pair<int, int>> volume;   // channel 1..16, controller-7 value 0..127
  std::vector<std::pair<int, int>> program;  // channel 1..16, program 0..127
  std::string bank;                          // a DLS or SoundFont bank
  std::optional<double> seconds;
  bool floatOutput = false;
  bool loudness = true;  // "Same loudness for every song"
};

// True when `path` starts like a Standard MIDI File (or a RIFF-wrapped one).
bool isMidiFile(const std::string& path);
std::optional<MidiRenderOptions> parseMidiRenderOptions(const std::vector<std::string>& args,
                                                        std::string* error);
int renderMidi(const MidiRenderOptions& options);

extern const char* const kMidiRenderUsage;

}  // namespace cli
