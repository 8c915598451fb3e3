// The singing room's pure logic: pitch of synthetic tones and noise, the melody of songs built
// in code, and the score rules at their edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "LiveSinging.h"
#include "Lyrics.h"
#include "Melody.h"
#include "PitchTracker.h"
#include "Score.h"
#include "SingingSongs.h"

namespace {

using singing::PitchMethod;
using singing::PitchPoint;

// Fundamental and three overtones (1, 1/2, 1/3, 1/4), peak about 0.5, like a held vowel.
std::vector<float> harmonicTone(double hz, int rate, double seconds) {
  std::vector<float> x(size_t(seconds * rate));
  for (size_t i = 0; i < x.size(); ++i) {
    double v = 0;
    for (int h = 1; h <= 4; ++h)
      v += std::sin(2 * std::numbers::pi * hz * h * double(i) / rate) / h;
    x[i] = float(0.24 * v);
  }
  return x;
}

double cents(double hz, double reference) {
  return 1200.0 * std::log2(hz / reference);
}

struct ToneCase {
  PitchMethod method;
  int rate;
  double hz;
  double cents = 10;  // aubio's YIN-FFT reads low tones some 11 cents sharp
};

class PitchOfTones : public ::testing::TestWithParam<ToneCase> {};

// Every step of a steady tone past the first 50 ms is voiced and within 10 cents for our own
// YIN, the tracker in use.
TEST_P(PitchOfTones, SteadyHarmonicToneWithinTenCents) {
  const auto [method, rate, hz, tolerance] = GetParam();
  const auto points = singing::trackPitch(harmonicTone(hz, rate, 0.6), rate, method);
  ASSERT_EQ(points.size(), size_t(std::ceil(0.6 * 100)));
  for (const PitchPoint& p : points) {
    if (p.sample < rate / 20 || p.sample > int64_t(0.55 * rate)) continue;
    ASSERT_GT(p.hz, 0) << "at sample " << p.sample;
    EXPECT_NEAR(cents(p.hz, hz), 0.0, tolerance) << "at sample " << p.sample << ": " << p.hz;
  }
}

std::vector<ToneCase> toneCases() {
  std::vector<ToneCase> cases;
  for (double hz : {65.5, 110.0, 146.8, 196.0, 261.6, 329.6, 440.0, 523.3, 659.3, 784.0, 987.8})
    for (int rate : {44100, 48000}) cases.push_back({PitchMethod::Yin, rate, hz});
  for (double hz : {110.0, 261.6, 440.0, 784.0})
    cases.push_back({PitchMethod::YinFft, 44100, hz, 15});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Singing, PitchOfTones, ::testing::ValuesIn(toneCases()),
                         [](const auto& info) {
                           return std::string(info.param.method == PitchMethod::Yin ? "Yin"
                                                                                    : "YinFft") +
                                  "_" + std::to_string(info.param.rate) + "_" +
                                  std::to_string(int(info.param.hz * 10));
                         });

// Noise has no pitch, nor has silence: at most a stray step in a hundred of noise.
TEST(PitchTracker, NoiseAndSilenceHaveNoPitch) {
  for (PitchMethod method : {PitchMethod::Yin, PitchMethod::YinFft}) {
    std::mt19937 random(7);
    std::normal_distribution<float> gauss(0.f, 0.2f);
    std::vector<float> noise(44100 * 2);
    for (float& s : noise) s = gauss(random);
    const auto points = singing::trackPitch(noise, 44100, method);
    const auto voiced =
        std::count_if(points.begin(), points.end(), [](const PitchPoint& p) { return p.hz > 0; });
    EXPECT_LE(voiced, 2) << "of " << points.size();
    const auto silent = singing::trackPitch(std::vector<float>(44100), 44100, method);
    EXPECT_TRUE(
        std::all_of(silent.begin(), silent.end(), [](const PitchPoint& p) { return p.hz == 0; }));
  }
}

// Pushed in blocks of any size, the stream gives the offline track's estimates on the 10 ms
// grid, each once its lookahead has arrived, and none is lost while the reader keeps up.
TEST(PitchTracker, StreamMatchesOfflineWhateverTheBlocks) {
  const int rate = 48000;
  std::vector<float> x = harmonicTone(220, rate, 0.5);
  const std::vector<float> rest = harmonicTone(330, rate, 0.5);
  x.insert(x.end(), rest.begin(), rest.end());
  const auto offline = singing::trackPitch(x, rate);

  singing::PitchTracker tracker(rate);
  std::vector<PitchPoint> streamed, out(8);
  std::mt19937 random(3);
  std::uniform_int_distribution<int> blockSize(1, 2000);
  size_t at = 0;
  while (at < x.size()) {
    const int n = int(std::min<size_t>(size_t(blockSize(random)), x.size() - at));
    tracker.push(x.data() + at, n);
    at += size_t(n);
    while (const size_t got = tracker.read(out)) {
      for (size_t i = 0; i < got; ++i) {
        EXPECT_LE(out[i].sample + tracker.lookahead(), int64_t(at));
        streamed.push_back(out[i]);
      }
    }
  }
  EXPECT_EQ(tracker.dropped(), 0u);
  ASSERT_GT(streamed.size(), 90u);
  for (size_t k = 0; k < streamed.size(); ++k) {
    EXPECT_EQ(streamed[k].sample, int64_t(k) * rate / 100);
    EXPECT_FLOAT_EQ(streamed[k].hz, offline[k].hz);
  }
}

using singingtest::WordsOn;

// The melody's notes are the tune's, at the tune's times in milliseconds (one tick is one ms).
void expectTune(const singing::Melody& m, const std::vector<singingtest::TuneNote>& tune) {
  ASSERT_EQ(m.notes.size(), tune.size());
  for (size_t i = 0; i < tune.size(); ++i) {
    EXPECT_NEAR(m.notes[i].startMs, tune[i].tick, 1e-6);
    EXPECT_NEAR(m.notes[i].endMs, tune[i].tick + tune[i].length, 1e-6);
    EXPECT_EQ(m.notes[i].key, tune[i].key);
  }
}

TEST(Melody, WordsTrackWithNotesIsTheMelody) {
  const auto m = singing::songMelody(singingtest::song(WordsOn::NoteTrack));
  ASSERT_TRUE(m);
  EXPECT_TRUE(m->wordsTrack);
  EXPECT_EQ(m->track, 2);
  expectTune(*m, singingtest::tune());
}

// The tune's own track wins over a bass on some syllables and drums on all of them.
TEST(Melody, WordsApartFindTheTrackThatFollowsThem) {
  const auto m = singing::songMelody(singingtest::song(WordsOn::OwnTrack));
  ASSERT_TRUE(m);
  EXPECT_FALSE(m->wordsTrack);
  EXPECT_EQ(m->track, 3);
  EXPECT_EQ(m->channel, 3);
  EXPECT_DOUBLE_EQ(m->syllableMatch, 1.0);
  expectTune(*m, singingtest::tune());
}

TEST(Melody, NoPartFollowingTheWordsIsNoMelody) {
  std::string why;
  EXPECT_FALSE(singing::songMelody(singingtest::song(WordsOn::OwnTrackNoTune), &why));
  EXPECT_NE(why.find("follow the words"), std::string::npos) << why;

  testmidi::TickTrack notes;
  notes.tempo(0, 500000).note(0, 480, 0, 60).note(480, 480, 0, 62);
  EXPECT_FALSE(singing::songMelody(testmidi::buildSmf(0, 480, {notes.bytes()}), &why));
  EXPECT_NE(why.find("no words"), std::string::npos) << why;
}

// A chord keeps its highest note; a note that starts while another sounds ends that one.
TEST(Melody, OverlapsBecomeOneNoteAtATime) {
  auto tune = singingtest::tune();
  tune.resize(4);
  testmidi::TickTrack words;
  words.event(0, {0xFF, 0x03, 0x05, 'W', 'o', 'r', 'd', 's'});
  for (const auto& n : tune) words.event(n.tick, {0xFF, 0x05, 0x02, 'l', 'a'});
  words.note(1000, 400, 0, 60).note(1000, 400, 0, 67).note(1000, 400, 0, 64);  // chord
  words.note(1500, 700, 0, 62).note(2000, 400, 0, 64);                         // legato
  words.note(2500, 400, 0, 65);
  words.note(2500, 400, 9, 80);  // drums never count
  const auto m = singing::songMelody(testmidi::buildSmf(
      1, singingtest::kDivision, {testmidi::TickTrack().tempo(0, 480000).bytes(), words.bytes()}));
  ASSERT_TRUE(m);
  expectTune(*m,
             {{1000, 400, 67, ""}, {1500, 500, 62, ""}, {2000, 400, 64, ""}, {2500, 400, 65, ""}});
}

// Credit by the distance from the note, octaves ignored: full to half a semitone, linear to
// none at one and a half.
TEST(Score, StepCreditAtItsEdges) {
  const double key = 57;  // A3, 220 Hz
  struct Case {
    double semitones;  // sung - note
    double credit;
  };
  for (const Case c : {Case{0, 1},
                       {0.5, 1},
                       {-0.5, 1},
                       {0.75, 0.75},
                       {1.0, 0.5},
                       {-1.0, 0.5},
                       {1.5, 0},
                       {-1.5, 0},
                       {3, 0},
                       {-12, 1},
                       {12.25, 1},
                       {-13, 0.5},
                       {6, 0}}) {
    const double hz = 220.0 * std::exp2(c.semitones / 12);
    EXPECT_NEAR(singing::stepCredit(hz, key), c.credit, 1e-9) << c.semitones << " semitones";
  }
  EXPECT_EQ(singing::stepCredit(0, key), 0);
  EXPECT_NEAR(singing::foldedError(220.0 * std::exp2(0.5), key), -6.0, 1e-9);  // +6 folds to -6
  EXPECT_NEAR(*singing::laneKey(110.0 * std::exp2(0.3 / 12), key), 57.3, 1e-9);
  EXPECT_NEAR(*singing::laneKey(880.0 * std::exp2(-1.0 / 12), key), 56.0, 1e-9);
  EXPECT_FALSE(singing::laneKey(0, key));
}

// Pitch points on the 10 ms grid of a take, singing `keyOf(ms)` (0 = silent) over `ms`.
std::vector<PitchPoint> sungPoints(int rate, double ms,
                                   const std::function<double(double)>& keyOf) {
  std::vector<PitchPoint> points;
  for (int k = 0; k * 10.0 < ms; ++k) {
    const double key = keyOf(k * 10.0);
    points.push_back({int64_t(k) * rate / 100, key > 0 ? float(singing::keyToHz(key)) : 0.f, 1});
  }
  return points;
}

// Each line scores the notes sung within its time; the total weighs every note step alike;
// with the song moved in key and tempo the melody moves with it. Sung live, each line's score
// comes once its last note is over, once, and the same as the file's.
TEST(Score, LinesAndTotalFollowTheMelodyAsPlayed) {
  const auto bytes = singingtest::song(WordsOn::NoteTrack);
  const auto melody = singing::songMelody(bytes);
  ASSERT_TRUE(melody);
  const auto lyrics = midi::songLyrics(bytes, midi::findLyricSource(bytes));
  for (const singing::SongMoves& moves : {singing::SongMoves{}, {3, 1.25, {}}, {-2, 0.8, {}}}) {
    const auto played = singing::moved(*melody, moves);
    // The first line sung right, the second a semitone sharp (half credit).
    auto keyOf = [&](double ms) {
      for (size_t i = 0; i < played.notes.size(); ++i)
        if (played.notes[i].startMs <= ms && ms < played.notes[i].endMs)
          return played.notes[i].key + (i < 8 ? 0.0 : 1.0);
      return 0.0;
    };
    const auto s =
        singing::scoreTake(*melody, lyrics, sungPoints(44100, 12000, keyOf), 44100, moves);
    ASSERT_EQ(s.lines.size(), 2u) << moves.transpose;
    EXPECT_EQ(s.lines[0].text, "lalalalalalalala");
    EXPECT_EQ(s.lines[0].score, 10000);
    EXPECT_EQ(s.lines[1].score, 5000) << moves.transpose;
    EXPECT_EQ(s.lines[0].steps, s.lines[1].steps);
    EXPECT_EQ(s.steps, s.lines[0].steps + s.lines[1].steps);
    EXPECT_NEAR(s.steps, 16 * 40 / moves.tempo, 16);
    EXPECT_EQ(s.total, 7500);
    const auto silent = singing::scoreTake(*melody, lyrics, {}, 44100, moves);
    EXPECT_EQ(silent.total, 0);

    singing::LiveSinging live(*melody, lyrics, moves, 44100);
    const auto points = sungPoints(44100, 12000, keyOf);
    std::vector<singing::LineScore> given;
    for (size_t at = 0; at < points.size(); at += 5) {
      live.add(std::span(points).subspan(at, std::min<size_t>(5, points.size() - at)));
      for (const auto& line : live.linesOver()) {
        // Given once the line's last note is over, within the chunk that passed it.
        const double lastEnd = played.notes[given.empty() ? 7 : 15].endMs;
        given.push_back(line);
        EXPECT_GE(live.heardMs(), lastEnd);
        EXPECT_LT(live.heardMs() - 50, lastEnd);
      }
    }
    ASSERT_EQ(given.size(), 2u);
    EXPECT_EQ(given[0].score, s.lines[0].score);
    EXPECT_EQ(given[1].score, s.lines[1].score);
    EXPECT_EQ(live.score().total, s.total);
    // The lane's points are in the song's own time.
    EXPECT_NEAR(live.sung().back().songMs, points.back().sample * 1000.0 / 44100 * moves.tempo,
                1e-6);
  }
}

// The key and the tempo moved while the take runs: song time maps to the take's time stretch by
// stretch, the notes after the move are heard higher and sooner, and a take that follows them
// scores in full, live (the move told mid-take) as from the file.
TEST(Score, MovesDuringTheTakeMoveTheRestOfTheMelody) {
  const singing::SongMoves moves{0, 1.0, {{5000, 2, 2.0}}};
  EXPECT_DOUBLE_EQ(moves.heardMs(4000), 4000);
  EXPECT_DOUBLE_EQ(moves.heardMs(7000), 6000);
  EXPECT_DOUBLE_EQ(moves.songMs(6000), 7000);
  EXPECT_EQ(moves.transposeAt(4999), 0);
  EXPECT_EQ(moves.transposeAt(5000), 2);

  const auto bytes = singingtest::song(WordsOn::NoteTrack);
  const auto melody = singing::songMelody(bytes);
  ASSERT_TRUE(melody);
  const auto lyrics = midi::songLyrics(bytes, midi::findLyricSource(bytes));
  const auto played = singing::moved(*melody, moves);
  // The tune's eleventh note, at 6 s of the song, is heard at 5.5 s, 200 ms long, a tone up.
  EXPECT_DOUBLE_EQ(played.notes[10].startMs, 5500);
  EXPECT_DOUBLE_EQ(played.notes[10].endMs, 5700);
  EXPECT_EQ(played.notes[10].key, melody->notes[10].key + 2);

  auto keyOf = [&](double ms) {
    for (const auto& n : played.notes)
      if (n.startMs <= ms && ms < n.endMs) return double(n.key);
    return 0.0;
  };
  const auto points = sungPoints(44100, 12000, keyOf);
  EXPECT_EQ(singing::scoreTake(*melody, lyrics, points, 44100, moves).total, 10000);
  EXPECT_LT(singing::scoreTake(*melody, lyrics, points, 44100, {}).total, 6000);

  singing::LiveSinging live(*melody, lyrics, {}, 44100);
  std::vector<singing::LineScore> given;
  for (size_t at = 0; at < points.size(); ++at) {
    if (at == 450) live.move(moves.changes[0]);  // told at 4.5 s, before the move is heard
    live.add(std::span(points).subspan(at, 1));
    for (const auto& line : live.linesOver()) given.push_back(line);
  }
  ASSERT_EQ(given.size(), 2u);
  EXPECT_EQ(given[0].score, 10000);
  EXPECT_EQ(given[1].score, 10000);
  EXPECT_NEAR(live.sung().back().songMs, moves.songMs(points.back().sample * 1000.0 / 44100), 1e-6);
}

}  // namespace
