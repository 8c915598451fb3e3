// `orivelR-cli encode IN.wav OUT.mp3 [--bitrate B] [--mono]`: the converter window's encoding
// without the window, with its progress on stderr.
#pragma once

namespace cli {

extern const char* const kEncodeUsage;

// argv[0] is the command name. 0 on success; 1 for a wrong argument list, 3 when the encoding
// failed (the reason goes to stderr), 130 when interrupted (no output file is left).
int encodeCommand(int argc, char** argv);

}  // namespace cli
