// A take's file scored over a MIDI song gives no score, and says why, for a song without words
// or an unreadable take. (How the score follows the pitch sung is tested through the score
// command, which scores a take's file the same way.)
#include <gtest/gtest.h>

#include "SingingSongs.h"
#include "TakeScore.h"
#include "TestAudio.h"

namespace {

TEST(TakeFileScore, NoScoreWithoutAMelodyOrATake) {
  testaudio::TempDir dir;
  std::string why;
  const auto song = singingtest::song(singingtest::WordsOn::NoteTrack);
  EXPECT_FALSE(recorder::scoreTakeFile(song, (dir / "missing.wav").string(), {}, &why));
  EXPECT_NE(why.find("cannot read the take"), std::string::npos) << why;
  const std::vector<uint8_t> notASong = {'M', 'T', 'h', 'd'};
  const auto take = dir / "take.wav";
  testaudio::writeWav(take, testaudio::makeAudio(22050, 2, 22050, [](int64_t f, int) {
                        return testaudio::sine(440, 0.4f, f, 22050);
                      }));
  EXPECT_FALSE(recorder::scoreTakeFile(notASong, take.string(), {}, &why));
  EXPECT_EQ(why.rfind("no melody", 0), 0u) << why;
  EXPECT_TRUE(recorder::scoreTakeFile(song, take.string(), {}, &why)) << why;
}

}  // namespace
