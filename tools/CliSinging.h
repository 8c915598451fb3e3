// The singing commands of orivelR-cli: `pitch TAKE.wav` prints the sung pitch every 10 ms,
// `score SONG TAKE.wav` scores a take against the song's melody, line by line.
#pragma once

#include <string>
#include <vector>

namespace cli {

inline constexpr const char* kSingingUsage =
    "usage: orivelR-cli pitch TAKE.wav     the sung pitch every 10 ms (TIME_MS<TAB>HZ)\n"
    "       orivelR-cli score SONG.kar TAKE.wav [--key N] [--tempo P]\n"
    "                                      each line's score and the song's, out of 10000\n";

// Arguments are those after the command name. 0 on success; 1 for a wrong argument list,
// 2 for a song without a melody, 3 when a file cannot be read (the reason goes to stderr).
int pitchCommand(const std::vector<std::string>& args);
int scoreCommand(const std::vector<std::string>& args);

}  // namespace cli
