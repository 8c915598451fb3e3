#include "MidiCommands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>

#include "Lyrics.h"
#include "RenderOptions.h"
#include "SongScanner.h"

namespace cli {

namespace {

std::optional<std::vector<uint8_t>> readSong(const std::string& command,
                                             const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::cerr << "usage: orivelR-cli " << command << " SONG\n";
    return std::nullopt;
  }
  if (!readableFile(command, args[0])) return std::nullopt;
  std::ifstream in(args[0], std::ios::binary);
  std::vector<uint8_t> bytes;
  char buf[65536];
  while (in && in.read(buf, sizeof buf).gcount() > 0)
    bytes.insert(bytes.end(), buf, buf + in.gcount());
  if (!in.eof()) {
    std::cerr << "orivelR-cli " << command << ": cannot read " << args[0] << ": "
              << std::strerror(errno) << "\n";
    return std::nullopt;
  }
  return bytes;
}

int failure(const std::vector<std::string>& args) {
  return args.size() != 1 ? 2 : 3;
}

std::string number(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

}  // namespace

int runScan(const std::vector<std::string>& args) {
  const auto song = readSong("scan", args);
  if (!song) return failure(args);
  const midi::SongScan s = midi::scanSong(*song, std::nullopt);
  std::cout << "format: " << s.smfFormat << "\n"
            << "tracks: " << s.trackCount << "\n"
            << "ticksPerSixteenth: " << number("%g", s.timing.ticksPerSixteenth) << "\n"
            << "tempoMicros: " << number("%.0f", s.timing.tempoMicros) << "\n"
            << "songBpm: " << number("%.2f", s.timing.songBpm) << "\n"
            << "msPerTick: " << number("%.6f", s.timing.msPerTick) << "\n"
            << "lyricSource: " << midi::describe(s.lyricSource) << "\n";
  for (int c = 0; c < midi::kChannelCount; ++c) {
    const midi::ChannelState& ch = s.channels[size_t(c)];
    std::cout << "channel " << c + 1 << ": inUse " << ch.inUse << ", program " << ch.program
              << ", volume " << ch.volume << ", pan " << ch.pan << "\n";
  }
  return 0;
}

int runLyrics(const std::vector<std::string>& args) {
  const auto song = readSong("lyrics", args);
  if (!song) return failure(args);
  const midi::SongScan s = midi::scanSong(*song, std::nullopt);
  const midi::LyricTable table = midi::songLyrics(*song, s.lyricSource);
  for (size_t k = 1; k < table.lyricEvents.size(); ++k) {
    const midi::LyricEvent& e = table.lyricEvents[k];
    std::cout << k << "\t" << number("%.3f", e.time) << "\t" << number("%.3f", e.duration) << "\t"
              << e.line << "\t" << e.column << "\t" << e.text << "\n";
  }
  for (size_t l = 0; l < table.lyricLines.size(); ++l)
    std::cout << "line " << l << ": " << table.lyricLines[l] << "\n";
  return 0;
}

}  // namespace cli
