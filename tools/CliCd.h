// `orivelR-cli cd drives | tracks DRIVE | rip DRIVE TRACK OUT.wav|OUT.wma [--bitrate B]
// [--tag NAME=VALUE]...`: the CD window's drive list, track list and rippers without the
// window, with the rip's progress on stderr.
#pragma once

#include <string>
#include <vector>

namespace cli {

extern const char* const kCdUsage;

// `args` follow "cd". 0 on success; 1 for a wrong argument list; 2 when the drive has no
// disc or the track list can't be read; 3 when the rip failed (the window's message goes to
// stderr); 130 when interrupted (no output file is left).
int cdCommand(const std::vector<std::string>& args);

}  // namespace cli
