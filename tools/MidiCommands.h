// The song-file commands of orivelR-cli: `scan SONG` prints what the scanner reads from a MIDI
// or karaoke file, `lyrics SONG` prints its lyric table and lines.
#pragma once

#include <string>
#include <vector>

namespace cli {

// Arguments are those after the command name. 0 on success; 2 for a wrong argument list,
// 3 when the song cannot be read (the reason goes to stderr).
int runScan(const std::vector<std::string>& args);
int runLyrics(const std::vector<std::string>& args);

}  // namespace cli
