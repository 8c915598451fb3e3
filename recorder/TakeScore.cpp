#include "TakeScore.h"

#include <sndfile.h>

#include <memory>
#include <vector>

#include "Lyrics.h"
#include "Melody.h"
#include "PitchTracker.h"

namespace recorder {

std::optional<singing::TakeScore> scoreTakeFile(std::span<const uint8_t> song,
                                                const std::string& takePath,
                                                const singing::SongMoves& moves, std::string* why) {
  auto fail = [why](const std::string& text) {
    if (why) *why = text;
    return std::optional<singing::TakeScore>();
  };
  std::string noMelody;
  const auto melody = singing::songMelody(song, &noMelody);
  if (!melody) return fail("no melody: " + noMelody);
  SF_INFO info{};
  std::unique_ptr<SNDFILE, decltype(&sf_close)> file(sf_open(takePath.c_str(), SFM_READ, &info),
                                                     &sf_close);
  if (!file || info.channels <= 0 || info.samplerate <= 0)
    return fail("cannot read the take " + takePath);
  std::vector<float> mono;
  mono.reserve(size_t(std::max<sf_count_t>(info.frames, 0)));
  std::vector<float> block(size_t(4096) * size_t(info.channels));
  for (sf_count_t n; (n = sf_readf_float(file.get(), block.data(), 4096)) > 0;)
    for (sf_count_t f = 0; f < n; ++f) {
      float sum = 0;
      for (int c = 0; c < info.channels; ++c) sum += block[size_t(f * info.channels + c)];
      mono.push_back(sum / float(info.channels));
    }
  const auto lyrics = midi::songLyrics(song, midi::findLyricSource(song));
  const auto pitch = singing::trackPitch(mono, info.samplerate);
  return singing::scoreTake(*melody, lyrics, pitch, info.samplerate, moves);
}

}  // namespace recorder
