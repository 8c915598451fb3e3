#include "CliSinging.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>

#include "Melody.h"
#include "PitchTracker.h"
#include "Score.h"
#include "SongScanner.h"
#include "TakeScore.h"

namespace cli {

namespace {

std::optional<std::vector<uint8_t>> readBytes(const std::string& command, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "orivelR-cli " << command << ": cannot read " << path << "\n";
    return std::nullopt;
  }
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::optional<int> integer(const std::string& text) {
  try {
    size_t used = 0;
    const int v = std::stoi(text, &used);
    if (used == text.size()) return v;
  } catch (...) {
  }
  return std::nullopt;
}

}  // namespace

int pitchCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::cerr << kSingingUsage;
    return 1;
  }
  std::string why;
  const auto take = recorder::readMonoTake(args[0], &why);
  if (!take) {
    std::cerr << "orivelR-cli pitch: " << why << "\n";
    return 3;
  }
  for (const singing::PitchPoint& p : singing::trackPitch(take->samples, take->rate)) {
    char line[64];
    std::snprintf(line, sizeof line, "%lld\t%.2f\n",
                  static_cast<long long>(std::llround(double(p.sample) * 1000.0 / take->rate)),
                  double(p.hz));
    std::cout << line;
  }
  return 0;
}

int scoreCommand(const std::vector<std::string>& argsIn) {
  std::vector<std::string> files;
  singing::SongMoves moves;
  for (size_t i = 0; i < argsIn.size(); ++i) {
    const std::string& a = argsIn[i];
    if ((a == "--key" || a == "--tempo") && i + 1 < argsIn.size()) {
      const auto v = integer(argsIn[++i]);
      if (a == "--key" && v && *v >= -12 && *v <= 12) {
        moves.transpose = *v;
        continue;
      }
      if (a == "--tempo" && v && *v >= 50 && *v <= 150) {
        moves.tempo = *v / 100.0;
        continue;
      }
      std::cerr << "orivelR-cli score: " << a << " takes "
                << (a == "--key" ? "semitones from -12 to 12" : "a percentage from 50 to 150")
                << "\n";
      return 1;
    }
    if (a.starts_with("--")) {
      std::cerr << "orivelR-cli score: unknown option " << a << "\n" << kSingingUsage;
      return 1;
    }
    files.push_back(a);
  }
  if (files.size() != 2) {
    std::cerr << kSingingUsage;
    return 1;
  }
  const auto song = readBytes("score", files[0]);
  if (!song) return 3;
  std::string why;
  const auto melody = singing::songMelody(*song, &why);
  if (!melody) {
    std::cerr << "orivelR-cli: " << files[0] << " has no melody to score against (" << why << ")\n";
    return 2;
  }
  // Scored as the window scores a take from its file.
  const auto s = recorder::scoreTakeFile(*song, files[1], moves, &why);
  if (!s) {
    std::cerr << "orivelR-cli score: " << why << "\n";
    return 3;
  }
  for (const singing::LineScore& l : s->lines)
    std::cout << l.line << "\t" << (l.score ? std::to_string(*l.score) : "-") << "\t" << l.text
              << "\n";
  std::cout << "score " << s->total << "\n";
  return 0;
}

}  // namespace cli
