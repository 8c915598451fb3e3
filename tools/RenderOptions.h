// The options of `orivelR-cli render`: the player's controls as a user would set them.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct RenderOptions {
  std::string song;
  std::string out;  // empty with --play
  bool remover = false;
  bool centreRemover = false;  // --remover-method centre
  std::optional<std::array<int, 8>> vseq;
  std::optional<std::array<int, 8>> veq1;
  std::optional<int> slider3;
  std::optional<int> vcompr;
  std::optional<int> balance;
  std::optional<int> chkcmp;
  std::optional<int> chklow;
  std::optional<int> chkequalizer;
  int key = 0;        // semitones, -6..6
  int tempo = 100;    // percent, 50..150
  int voice = 0;      // guide voice, percent
  bool loudness = true;  // "Same loudness for every song"
  std::optional<double> seconds;
  bool floatOutput = false;  // --format f32
  bool play = false;
};

// Parses the arguments after "render"; on failure returns nullopt with the reason in *error.
std::optional<RenderOptions> parseRenderOptions(const std::vector<std::string>& args,
                                                std::string* error);

extern const char* const kRenderUsage;

// A whole number from lo to hi, the whole of `s`; false otherwise.
bool parseInt(const std::string& s, int lo, int hi, int* out);
// A positive, finite number of seconds, the whole of `s`.
std::optional<double> parseSeconds(const std::string& s);

// True when `path` is a regular file; otherwise says on the error stream why `command` can't
// read it ("orivelR-cli render: cannot read p.wav: a named pipe, not a file"). Checked before
// a song or bank is opened: opening a pipe or a device would wait for ever.
bool readableFile(const std::string& command, const std::string& path);

}  // namespace cli
