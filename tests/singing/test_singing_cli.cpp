// orivelR-cli's pitch and score commands, run as programs on takes built in code or by sox.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <sstream>

#include "PitchTracker.h"
#include "SingingSongs.h"
#include "SmfWriter.h"
#include "TestAudio.h"

namespace {

using testaudio::q;

const std::string kCli = ORIVELR_CLI;

// The last line's number of `score`'s output ("score N"), or -1.
int totalScore(const std::string& out) {
  const size_t at = out.rfind("score ");
  return at == std::string::npos ? -1 : std::stoi(out.substr(at + 6));
}

// A take of the tune: a sine at each note's pitch (key moved by `shift(i)` semitones for note
// i) over the note's time, a little noise under everything.
testaudio::Audio take(const std::function<double(size_t)>& shift, bool silent = false) {
  const int rate = 44100;
  const auto tune = singingtest::tune();
  std::mt19937 random(11);
  std::normal_distribution<float> noise(0.f, 0.005f);
  const int64_t frames = int64_t(rate) * 10;
  std::vector<double> hzAt(size_t(frames), 0.0);
  for (size_t i = 0; i < tune.size(); ++i) {
    const double hz = singing::keyToHz(tune[i].key + shift(i));
    for (int64_t f = int64_t(tune[i].tick) * rate / 1000;
         f < int64_t(tune[i].tick + tune[i].length) * rate / 1000; ++f)
      hzAt[size_t(f)] = hz;
  }
  double phase = 0;
  return testaudio::makeAudio(rate, 1, frames, [&](int64_t f, int) {
    phase += 2 * std::numbers::pi * hzAt[size_t(f)] / rate;
    return (silent || hzAt[size_t(f)] == 0 ? 0.f : float(0.3 * std::sin(phase))) + noise(random);
  });
}

// A take sung right scores high, an octave down about the same, a whole tone flat for half
// the song clearly less, silence next to nothing; each line is listed before the total.
TEST(SingingCli, ScoreFollowsHowTheTakeMatchesTheMelody) {
  testaudio::TempDir dir;
  testmidi::writeFile(dir / "song.kar", singingtest::song(singingtest::WordsOn::OwnTrack));
  auto score = [&](const testaudio::Audio& audio, std::string* out = nullptr) {
    testaudio::writeWav(dir / "take.wav", audio);
    std::string text;
    EXPECT_EQ(testaudio::run(q(kCli) + " score " + q(dir / "song.kar") + " " + q(dir / "take.wav"),
                             &text),
              0);
    if (out) *out = text;
    return totalScore(text);
  };
  std::string out;
  const int right = score(take([](size_t) { return 0.0; }), &out);
  EXPECT_GE(right, 8000) << out;
  EXPECT_NE(out.find("1\t"), std::string::npos) << out;
  EXPECT_NE(out.find("\tlalalalalalalala\n"), std::string::npos) << out;
  const int octave = score(take([](size_t) { return -12.0; }));
  EXPECT_NEAR(octave, right, right / 10);
  const int flatHalf = score(take([](size_t i) { return i < 8 ? 0.0 : -2.0; }));
  EXPECT_LT(flatHalf, right * 6 / 10);
  EXPECT_GT(flatHalf, right * 4 / 10);
  const int silence = score(take([](size_t) { return 0.0; }, true));
  EXPECT_LT(silence, 200);
  RecordProperty("scores", std::to_string(right) + " in tune, " + std::to_string(octave) +
                               " an octave down, " + std::to_string(flatHalf) +
                               " half flat, " + std::to_string(silence) + " silent");
}

// Sung over the song played three semitones up and at 125 %, the take scores as high with
// --key 3 --tempo 125, and poorly without them.
TEST(SingingCli, ScoreTakesTheSongsKeyAndTempo) {
  testaudio::TempDir dir;
  auto tune = singingtest::tune();  // the take's notes: at 125 %, three semitones up
  for (auto& n : tune) {
    n.tick = n.tick * 4 / 5;
    n.length = n.length * 4 / 5;
  }
  testmidi::writeFile(dir / "song.kar", singingtest::song(singingtest::WordsOn::NoteTrack));
  const int rate = 44100;
  double phase = 0;
  const auto audio = testaudio::makeAudio(rate, 1, rate * 8, [&](int64_t f, int) {
    for (const auto& n : tune)
      if (f >= int64_t(n.tick) * rate / 1000 && f < int64_t(n.tick + n.length) * rate / 1000) {
        phase += 2 * std::numbers::pi * singing::keyToHz(n.key + 3) / rate;
        return float(0.3 * std::sin(phase));
      }
    return 0.f;
  });
  testaudio::writeWav(dir / "take.wav", audio);
  const std::string base = q(kCli) + " score " + q(dir / "song.kar") + " " + q(dir / "take.wav");
  EXPECT_GE(totalScore(testaudio::output(base + " --key 3 --tempo 125")), 8000);
  EXPECT_LT(totalScore(testaudio::output(base)), 3000);
}

TEST(SingingCli, SongWithoutMelodyExitsWithStatusTwo) {
  testaudio::TempDir dir;
  testmidi::writeFile(dir / "song.mid", singingtest::song(singingtest::WordsOn::OwnTrackNoTune));
  testaudio::writeWav(dir / "take.wav",
                      testaudio::makeAudio(44100, 1, 4410, [](int64_t, int) { return 0.f; }));
  std::string err;
  const int status = testaudio::run(
      q(kCli) + " score " + q(dir / "song.mid") + " " + q(dir / "take.wav") + " 2>&1", &err);
  EXPECT_EQ(status, 2);
  EXPECT_NE(err.find("has no melody to score against"), std::string::npos) << err;
}

// A stereo tone made by sox: one line every 10 ms, the tone's frequency where it sounds.
TEST(SingingCli, PitchPrintsTheToneEveryTenMilliseconds) {
  testaudio::TempDir dir;
  ASSERT_EQ(testaudio::run("sox -n -r 48000 -c 2 " + q(dir / "tone.wav") +
                           " synth 0.5 sine 220 vol 0.5 pad 0.2 0"),
            0);
  std::istringstream lines(testaudio::output(q(kCli) + " pitch " + q(dir / "tone.wav")));
  int count = 0, voiced = 0;
  long ms;
  double hz;
  while (lines >> ms >> hz) {
    EXPECT_EQ(ms, count * 10);
    if (ms < 180) {
      EXPECT_EQ(hz, 0) << ms;
    }
    if (ms > 250 && ms < 650) {
      EXPECT_NEAR(hz, 220.0, 220.0 * 0.006) << ms;  // 10 cents
      ++voiced;
    }
    ++count;
  }
  EXPECT_EQ(count, 70);
  EXPECT_EQ(voiced, 39);
}

}  // namespace
