#include "TakeScore.h"

#include <sndfile.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "Lyrics.h"
#include "Melody.h"
#include "PitchTracker.h"

namespace recorder {

std::optional<MonoTake> readMonoTake(const std::string& path, std::string* why) {
  SF_INFO info{};
  std::unique_ptr<SNDFILE, decltype(&sf_close)> file(sf_open(path.c_str(), SFM_READ, &info),
                                                     &sf_close);
  if (!file || info.channels <= 0 || info.samplerate <= 0) {
    if (why) *why = "cannot read the take " + path + ": " + sf_strerror(file.get());
    return std::nullopt;
  }
  MonoTake take{info.samplerate, {}};
  take.samples.reserve(size_t(std::max<sf_count_t>(info.frames, 0)));
  std::vector<float> block(size_t(4096) * size_t(info.channels));
  for (sf_count_t n; (n = sf_readf_float(file.get(), block.data(), 4096)) > 0;)
    for (sf_count_t f = 0; f < n; ++f) {
      float sum = 0;
      for (int c = 0; c < info.channels; ++c) sum += block[size_t(f * info.channels + c)];
      take.samples.push_back(sum / float(info.channels));
    }
  return take;
}

std::optional<singing::TakeScore> scoreTakeFile(std::span<const uint8_t> song,
                                                const std::string& takePath,
                                                const singing::SongMoves& moves, std::string* why) {
  std::string noMelody;
  const auto melody = singing::songMelody(song, &noMelody);
  if (!melody) {
    if (why) *why = "no melody: " + noMelody;
    return std::nullopt;
  }
  const auto take = readMonoTake(takePath, why);
  if (!take) return std::nullopt;
  const auto lyrics = midi::songLyrics(song, midi::findLyricSource(song));
  const auto pitch = singing::trackPitch(take->samples, take->rate);
  return singing::scoreTake(*melody, lyrics, pitch, take->rate, moves);
}

}  // namespace recorder
