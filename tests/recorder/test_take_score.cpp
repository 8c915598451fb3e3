// A take's file scored over a MIDI song: the tune sung exactly earns the whole score, a take
// of silence none, a take sung a fifth off none; a song without words or an unreadable take
// give no score.
#include <gtest/gtest.h>

#include <cmath>

#include "PitchTracker.h"
#include "SingingSongs.h"
#include "TakeScore.h"
#include "TestAudio.h"

namespace {

// The tune sung as sines at each note's pitch moved by `semitones`, in a stereo take.
testaudio::Audio sungTake(double semitones, float amplitude) {
  const auto notes = singingtest::tune();
  const int rate = 22050;
  return testaudio::makeAudio(rate, 2, rate * 10, [&](int64_t f, int) {
    const double ms = double(f) * 1000 / rate;
    for (const auto& n : notes)
      if (ms >= n.tick && ms < n.tick + n.length)
        return testaudio::sine(singing::keyToHz(n.key + semitones), amplitude, f, rate);
    return 0.0f;
  });
}

struct TakeCase {
  double semitones;
  float amplitude;
  int minScore, maxScore;
};

class TakeFileScore : public ::testing::TestWithParam<TakeCase> {};

// Scores by the definition: every step within half a semitone earns full credit (an octave up
// too), a fifth away earns none, silence none.
TEST_P(TakeFileScore, ScoreFollowsThePitchSung) {
  const TakeCase c = GetParam();
  testaudio::TempDir dir;
  const auto take = dir / "take.wav";
  testaudio::writeWav(take, sungTake(c.semitones, c.amplitude));
  const auto song = singingtest::song(singingtest::WordsOn::NoteTrack);
  std::string why;
  const auto s = recorder::scoreTakeFile(song, take.string(), {}, &why);
  ASSERT_TRUE(s.has_value()) << why;
  EXPECT_GE(s->total, c.minScore);
  EXPECT_LE(s->total, c.maxScore);
}

INSTANTIATE_TEST_SUITE_P(Takes, TakeFileScore,
                         ::testing::Values(TakeCase{0, 0.4f, 9000, 10000},
                                           TakeCase{12, 0.4f, 9000, 10000},
                                           TakeCase{7, 0.4f, 0, 500}, TakeCase{0, 0.0f, 0, 0}));

TEST(TakeFileScore, NoScoreWithoutAMelodyOrATake) {
  testaudio::TempDir dir;
  std::string why;
  const auto song = singingtest::song(singingtest::WordsOn::NoteTrack);
  EXPECT_FALSE(recorder::scoreTakeFile(song, (dir / "missing.wav").string(), {}, &why));
  EXPECT_NE(why.find("cannot read the take"), std::string::npos) << why;
  const std::vector<uint8_t> notASong = {'M', 'T', 'h', 'd'};
  const auto take = dir / "take.wav";
  testaudio::writeWav(take, sungTake(0, 0.4f));
  EXPECT_FALSE(recorder::scoreTakeFile(notASong, take.string(), {}, &why));
  EXPECT_EQ(why.rfind("no melody", 0), 0u) << why;
}

}  // namespace
