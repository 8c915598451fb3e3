// The timed lyrics of LRC files and karaoke MIDI files, and the singer's screen presenters: the
// words and the pitch lane.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "KarLyrics.h"
#include "LrcParser.h"
#include "PitchLane.h"
#include "SingerPresenter.h"
#include "SmfWriter.h"
#include "TestAudio.h"

namespace {

using karaoke::TimedLyrics;

// "start-end:text" per syllable, "|" between syllables, "/" between lines.
std::string listing(const TimedLyrics& l) {
  std::string out;
  for (size_t i = 0; i < l.lines.size(); ++i) {
    if (i) out += "/";
    for (size_t k = 0; k < l.lines[i].syllables.size(); ++k) {
      const auto& s = l.lines[i].syllables[k];
      if (k) out += "|";
      out += std::to_string(std::llround(s.startMs)) + "-" + std::to_string(std::llround(s.endMs)) +
             ":" + s.text;
    }
  }
  return out;
}

TimedLyrics lrc(const std::string& text) {
  return karaoke::parseLrc(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

struct LrcCase {
  const char* name;
  std::string text;
  std::string expected;
  std::string title = "";
  std::string artist = "";
  friend void PrintTo(const LrcCase& c, std::ostream* os) { *os << c.name; }
};

class LrcForms : public ::testing::TestWithParam<LrcCase> {};

TEST_P(LrcForms, ParseToTimedSyllables) {
  const LrcCase& c = GetParam();
  const TimedLyrics l = lrc(c.text);
  EXPECT_EQ(listing(l), c.expected);
  EXPECT_EQ(l.title, c.title);
  EXPECT_EQ(l.artist, c.artist);
}

// A line lasts until the next one; the last one kLastLrcLineMs (5 s).
INSTANTIATE_TEST_SUITE_P(
    Lrc, LrcForms,
    ::testing::Values(
        LrcCase{"Hundredths", "[00:01.50]Hello\n[00:03.00]World\n",
                "1500-3000:Hello/3000-8000:World"},
        LrcCase{"WholeSecondsTenthsAndMilliseconds", "[00:01]A\n[00:02.250]B\n[01:03.5]C",
                "1000-2250:A/2250-63500:B/63500-68500:C"},
        LrcCase{"RepeatedChorusSorted", "[00:05.00][00:01.00]Chorus\n[00:03.00]Verse\n",
                "1000-3000:Chorus/3000-5000:Verse/5000-10000:Chorus"},
        LrcCase{"PositiveOffsetIsEarlier", "[offset:+500]\n[00:02.00]A\n[00:04.00]B",
                "1500-3500:A/3500-8500:B"},
        LrcCase{"NegativeOffsetIsLater", "[00:02.00]A\n[offset:-250]\n[00:04.00]B",
                "2250-4250:A/4250-9250:B"},
        LrcCase{"WordTimes",
                "[00:01.00]<00:01.00>Hel<00:01.50>lo <00:02.00>world<00:03.00>\n[00:04.00]Next",
                "1000-1500:Hel|1500-2000:lo |2000-3000:world/4000-9000:Next"},
        LrcCase{"WordTimesOfARepeatedLineMoveWithIt",
                "[00:10.00][00:20.00]<00:10.00>La <00:10.50>la",
                "10000-10500:La |10500-20000:la/20000-20500:La |20500-25000:la"},
        LrcCase{"WordsBeforeTheFirstWordTime", "[00:01.00]Oh <00:01.40>yes",
                "1000-1400:Oh |1400-6000:yes"},
        LrcCase{"EmptyTimedLineEndsTheOneBefore", "[00:01.00]A\n[00:02.00]\n[00:10.00]B",
                "1000-2000:A/10000-15000:B"},
        LrcCase{"BomCrlfAndTags",
                "\xEF\xBB\xBF[ti:The Song]\r\n[ar: Singer ]\r\n[al:Album]\r\n[by:x]\r\n"
                "[00:01.00]A\r\n",
                "1000-6000:A", "The Song", "Singer"},
        LrcCase{"Windows1252AndUtf8",
                "[ti:Caf\xE9]\n[00:01.00]D\xE9j\xE0\n[00:02.00]\xC3\xA9t\xC3\xA9",
                "1000-2000:D\xC3\xA9j\xC3\xA0/2000-7000:\xC3\xA9t\xC3\xA9", "Caf\xC3\xA9"},
        LrcCase{"JunkIgnored", "junk\n[xx:yy]no\n[00:01.00]A [b] c\n[00:02.00\nplain",
                "1000-6000:A [b] c"},
        LrcCase{"Empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LrcBeside, FoundWithNameAndExtensionInAnyCase) {
  testaudio::TempDir dir;
  const auto song = dir / "song.mp3";
  testmidi::writeFile(song, {1});
  EXPECT_FALSE(karaoke::findLrcFor(song));
  testmidi::writeFile(dir / "Song.Lrc", {1});
  EXPECT_EQ(karaoke::findLrcFor(song), dir / "Song.Lrc");
  testmidi::writeFile(dir / "song.lrc", {1});
  EXPECT_EQ(karaoke::findLrcFor(song), dir / "song.lrc");  // the exact name first
  testmidi::writeFile(dir / "other.lrc", {1});
  EXPECT_EQ(karaoke::findLrcFor(dir / "other.MP3"), dir / "other.lrc");
}

// 96 ticks a quarter at 120 bpm (500/96 ms a tick), 240 bpm from tick 192.
TEST(KarLyrics, LinesAndSyllablesInTheFilesOwnTempo) {
  testmidi::TrackWriter tempo, words;
  tempo.tempo(0, 500000).tempo(192, 250000).end();
  words.text(0, 3, "Words")
      .text(0, 1, "@KMIDI KARAOKE FILE")
      .text(0, 1, "@TMy Song")
      .text(0, 1, "@TThe Singer")
      .text(96, 1, "\\Hel")
      .text(96, 1, "lo ")
      .text(192, 1, "/world")
      .text(1536, 1, "/Bye")
      .end(96);
  const auto file = testmidi::buildSmf(1, 96, {tempo.bytes(), words.bytes()});
  const TimedLyrics l = karaoke::karLyrics(file);
  const double bye = 1000 + 1728 * 250.0 / 96;  // 5500
  EXPECT_EQ(listing(l), "500-1000:Hel|1000-1500:lo /1500-3000:world/" +
                            std::to_string(std::llround(bye)) + "-7000:Bye");
  EXPECT_EQ(l.title, "My Song");
  EXPECT_EQ(l.artist, "The Singer");
}

// Lines: "a b" 4.0-5.0 s, "c" 5.0-6.0 s, then a rest of 4 s, "d" 10-11 s; the song lasts 12 s.
struct PresentCase {
  double t;
  bool title;
  int current, next, countIn;
  std::vector<double> lit;
};

TEST(SingerPresenter, LinesCountInAndLitSyllables) {
  TimedLyrics l;
  l.title = "T";
  l.lines = {
      {{{4000, 4500, "a "}, {4500, 5000, "b"}}}, {{{5000, 6000, "c"}}}, {{{10000, 11000, "d"}}}};
  const std::vector<PresentCase> cases = {
      {0, true, -1, 0, 0, {}},          {1500, true, -1, 0, 3, {}},
      {3500, true, -1, 0, 1, {}},       {4250, false, 0, 1, 0, {0.5, 0}},
      {4900, false, 0, 1, 0, {1, 0.8}},  // no rest before "c": no count-in
      {5500, false, 1, 2, 0, {0.5}},    {6500, false, 2, -1, 0, {0}},
      {8000, false, 2, -1, 2, {0}},     {10500, false, 2, -1, 0, {0.5}},
      {11500, false, 2, -1, 0, {1}},
  };
  for (const PresentCase& c : cases) {
    SCOPED_TRACE(c.t);
    const karaoke::SingerFrame f = karaoke::presentAt(l, c.t, 12000);
    EXPECT_EQ(f.showTitle, c.title);
    EXPECT_EQ(f.title, "T");
    EXPECT_EQ(f.currentLine, c.current);
    EXPECT_EQ(f.nextLine, c.next);
    EXPECT_EQ(f.countIn, c.countIn);
    ASSERT_EQ(f.lit.size(), c.lit.size());
    for (size_t k = 0; k < c.lit.size(); ++k) EXPECT_NEAR(f.lit[k], c.lit[k], 1e-9);
    EXPECT_DOUBLE_EQ(f.timeLeftMs, 12000 - c.t);
  }
  // The song's offset shows the words earlier; the time left stays the song's.
  l.offsetMs = 500;
  const karaoke::SingerFrame f = karaoke::presentAt(l, 3750, 12000);
  EXPECT_EQ(f.currentLine, 0);
  EXPECT_NEAR(f.lit.at(0), 0.5, 1e-9);
  EXPECT_DOUBLE_EQ(f.timeLeftMs, 8250);
  EXPECT_EQ(karaoke::presentAt(l, 13000, 12000).timeLeftMs, 0);
}

// The lane moves its bars past the now line, keeps one key range for the whole song (moved
// with the key), and puts a voice an octave down, or between two notes, on the note's row.
TEST(PitchLane, BarsMoveAndTheVoiceFoldsOntoTheNote) {
  singing::Melody m;
  m.notes = {{1000, 1400, 60}, {1500, 1900, 62}, {9000, 9400, 72}};
  const auto hz = [](double key) { return float(singing::keyToHz(key)); };
  const std::vector<singing::SungPoint> sung = {
      {1100, hz(48.2)},  // an octave down, a little sharp
      {1200, 0},         // no pitch: no dot
      {1450, hz(74)},    // between notes, nearer the next: on D's row
      {1950, hz(50)},    // just after D: on its row
      {6000, hz(66)},    // far from any note: folded into the lane's middle
  };
  const karaoke::LaneFrame f = karaoke::laneAt(m, 0, sung, 2000);
  EXPECT_DOUBLE_EQ(f.lowKey, 58);
  EXPECT_DOUBLE_EQ(f.highKey, 74);
  const double span = karaoke::kLaneBehindMs + karaoke::kLaneAheadMs;
  ASSERT_EQ(f.bars.size(), 2u) << "the note at 9 s is out of sight";
  EXPECT_DOUBLE_EQ(f.bars[0].x0, (1000 - 500) / span);
  EXPECT_DOUBLE_EQ(f.bars[1].x1, (1900 - 500) / span);
  EXPECT_FALSE(f.bars[1].now);
  ASSERT_EQ(f.sung.size(), 3u) << "the point at 6 s is still to come";
  EXPECT_NEAR(f.sung[0].key, 60.2, 1e-5);
  EXPECT_NEAR(f.sung[1].key, 62, 1e-5);
  EXPECT_NEAR(f.sung[2].key, 62, 1e-5);

  // Later: the first bars leave on the left, a bar sounding at the now line is lit; moved up
  // five semitones the range and the bars move with the key, the voice folds onto them.
  const karaoke::LaneFrame later = karaoke::laneAt(m, 5, sung, 9200);
  EXPECT_DOUBLE_EQ(later.lowKey, 63);
  EXPECT_DOUBLE_EQ(later.highKey, 79);
  ASSERT_EQ(later.bars.size(), 1u);
  EXPECT_EQ(later.bars[0].key, 77);
  EXPECT_TRUE(later.bars[0].now);
  EXPECT_DOUBLE_EQ(later.bars[0].x1, (9400 - 7700) / span);
  EXPECT_TRUE(later.sung.empty()) << "the points have left the lane";
  const karaoke::LaneFrame middle = karaoke::laneAt(m, 0, sung, 6500);
  ASSERT_EQ(middle.sung.size(), 1u);
  EXPECT_NEAR(middle.sung[0].key, 66, 1e-5);

  EXPECT_TRUE(karaoke::laneAt({}, 0, sung, 1000).bars.empty());
}

}  // namespace
