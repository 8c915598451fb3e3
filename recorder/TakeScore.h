// The score of a take over a MIDI song: the take's file read (any channels, mixed to mono),
// its pitch tracked every 10 ms and scored against the song's melody as it was played.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Score.h"

namespace recorder {

// A take of any format libsndfile reads, its channels mixed to one, at its own rate.
struct MonoTake {
  int rate = 0;
  std::vector<float> samples;
};
// nullopt, with the reason in *why, when the file cannot be read.
std::optional<MonoTake> readMonoTake(const std::string& path, std::string* why = nullptr);

// nullopt, with the reason in *why, when the song has no melody to score against or the take
// cannot be read. The take's first frame is the song's first heard frame.
std::optional<singing::TakeScore> scoreTakeFile(std::span<const uint8_t> song,
                                                const std::string& takePath,
                                                const singing::SongMoves& moves = {},
                                                std::string* why = nullptr);

}  // namespace recorder
