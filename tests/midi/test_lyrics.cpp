// The lyric table: lines, columns and texts by the table rules, Windows-1252 texts, timing by
// the tracks' real ticks and the tempo map against midicsv's times of the lyric events, the
// lyric-event fallback and the font fitting.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "Lyrics.h"
#include "SmfWriter.h"
#include "TestAudio.h"

using testmidi::Bytes;
using testmidi::TrackWriter;

namespace {

struct Row {
  std::string text;
  int line, column;
};

struct TableCase {
  std::string name;
  friend void PrintTo(const TableCase& c, std::ostream* os) { *os << c.name; }
  std::vector<std::string> texts;  // FF 01 events in order; the track ends with FF 2F
  std::vector<std::string> lines;
  std::vector<Row> rows;  // events 1.., the end of track's last
};

std::vector<TableCase> tableCases() {
  return {
      {"BreaksStartLines",
       {"\\Hel", "lo", "/world"},
       {"", "Hello", "world"},
       {{"Hel", 1, 0}, {"lo", 1, 3}, {"world", 2, 0}, {"", 2, 5}}},
      {"SlashAloneIsAnEmptyLine",
       {"Hi", " / ", "there"},
       {"Hi", "there"},
       {{"Hi", 0, 0}, {"", 1, 0}, {"there", 1, 0}, {"", 1, 5}}},
      {"AtLinesAreEmptyEvents",
       {"@KMIDI KARAOKE FILE", "@TTitle", "\\One", " two"},
       {"", "One two"},
       {{"", 0, 0}, {"", 0, 0}, {"One", 1, 0}, {" two", 1, 3}, {"", 1, 7}}},
      {"SpacesAfterTheMarkTrimmed",
       {"\\   Word", "s"},
       {"", "Words"},
       {{"Word", 1, 0}, {"s", 1, 4}, {"", 1, 5}}},
      {"SpaceBeforeSlashIsNoBreak",
       {"x", " /y"},
       {"x /y"},
       {{"x", 0, 0}, {" /y", 0, 1}, {"", 0, 4}}},
      {"Windows1252",
       {"perch\xE9", " \x80", "/\x93ok\x94"},
       {"perché €", "“ok”"},
       {{"perché", 0, 0}, {" €", 0, 6}, {"“ok”", 1, 0}, {"", 1, 4}}},
      // An FF byte inside a text starts one more candidate event there.
      {"FFByteInsideText",
       {"\xFF"
        "a",
        "b"},
       {"ÿab"},
       {{"ÿa", 0, 0}, {"", 0, 2}, {"b", 0, 2}, {"", 0, 3}}},
  };
}

class LyricTableRules : public ::testing::TestWithParam<TableCase> {};

TEST_P(LyricTableRules, LinesColumnsAndTexts) {
  TrackWriter t;
  for (const std::string& s : GetParam().texts) t.text(10, 1, s);
  const Bytes song = testmidi::buildSmf(0, 96, {t.end(10).bytes()});
  const auto table =
      midi::songLyrics(song, {midi::LyricSourceKind::TextTrack, 1, 22, song.size() - 22});
  EXPECT_EQ(table.lyricLines, GetParam().lines);
  ASSERT_EQ(table.lyricEvents.size(), GetParam().rows.size() + 1);
  for (size_t k = 0; k < GetParam().rows.size(); ++k) {
    const Row& want = GetParam().rows[k];
    const midi::LyricEvent& e = table.lyricEvents[k + 1];
    const auto chars = std::count_if(want.text.begin(), want.text.end(),
                                     [](char c) { return (c & 0xC0) != 0x80; });
    EXPECT_EQ(std::tie(e.text, e.line, e.column), std::tie(want.text, want.line, want.column))
        << k + 1;
    EXPECT_EQ(e.textLength, chars) << "characters, not bytes";
  }
}

INSTANTIATE_TEST_SUITE_P(Tables, LyricTableRules, ::testing::ValuesIn(tableCases()),
                         [](const auto& info) { return info.param.name; });

struct TimingCase {
  std::string name;
  friend void PrintTo(const TimingCase& c, std::ostream* os) { *os << c.name; }
  Bytes song;
  std::string csvType;  // the records that carry the syllables
};

std::vector<TimingCase> timingCases() {
  TrackWriter shared(true);  // lyrics between notes in running status: no FF after a lyric
  shared.tempo(0, 500000).text(0, 1, "@TSong").noteOn(0, 0, 60, 90);
  uint32_t d = 30;
  for (const char* s : {"\\Hel", "lo", "/wor", "ld", "a", "gain"}) {
    shared.noteOn(d, 0, 60, 0).text(0, 1, s).noteOn(d + 200, 0, 62, 90).noteOn(5, 0, 64, 90);
    d += 17;
  }
  shared.noteOn(300, 0, 62, 0).end(40);
  TrackWriter tempo, words, notes;
  tempo.tempo(0, 500000).tempo(700, 300000).tempo(900, 800000).tempo(1500, 450000).end();
  words.text(0, 3, "Words");
  for (int i = 0; i < 12; ++i) words.text(uint32_t(150 + 20 * i), 1, i % 4 ? "la" : "/la");
  words.end(100);
  notes.noteOn(0, 0, 60, 90).noteOn(3000, 0, 60, 0).end();
  TrackWriter modern;  // FF 01 only for header lines, the syllables as FF 05
  modern.tempo(0, 600000).text(0, 1, "@LENG").text(0, 1, "@TTitle").noteOn(0, 0, 60, 90);
  modern.text(96, 5, "\\Ciao ").noteOn(10, 0, 62, 90).text(86, 5, "be").text(48, 5, "lla");
  modern.tempo(10, 250000).text(300, 5, "/ciao").noteOn(20, 0, 60, 0).end(7);
  return {{"LyricsShareATrackWithNotes", testmidi::buildSmf(0, 96, {shared.bytes()}), "Text_t"},
          {"TempoChangesMidSong",
           testmidi::buildSmf(1, 192, {tempo.bytes(), words.bytes(), notes.bytes()}), "Text_t"},
          {"LyricEventsWhenNoTextEvents", testmidi::buildSmf(0, 120, {modern.bytes()}), "Lyric_t"}};
}

class LyricTiming : public ::testing::TestWithParam<TimingCase> {};

// Each syllable starts at midicsv's time of its event, in milliseconds summed over midicsv's
// tempo records, and the event before it (for the first, the empty element 0) waits for that
// moment.
TEST_P(LyricTiming, SyllablesStartAtTheirEventsTicks) {
  const TimingCase& c = GetParam();
  testaudio::TempDir dir;
  testmidi::writeFile(dir / "song.kar", c.song);
  const auto csv = testmidi::midicsv(dir / "song.kar");
  const double division = double(csv.at(0).number(2));
  std::vector<std::pair<uint64_t, double>> tempos;
  std::vector<std::pair<uint64_t, std::string>> syllables;
  for (const auto& r : csv) {
    if (r.type == "Tempo") tempos.emplace_back(r.time, double(r.number(0)));
    if (r.type == c.csvType && r.fields.at(0)[0] != '@')
      syllables.emplace_back(r.time, r.fields[0]);
  }
  std::stable_sort(tempos.begin(), tempos.end(),
                   [](auto& a, auto& b) { return a.first < b.first; });
  auto ms = [&](uint64_t tick) {
    double total = 0, micros = 500000;
    uint64_t from = 0;
    for (const auto& [at, m] : tempos) {
      if (at >= tick) break;
      total += double(at - from) * micros / 1000.0 / division;
      from = at;
      micros = m;
    }
    return total + double(tick - from) * micros / 1000.0 / division;
  };

  const auto table = midi::songLyrics(c.song, midi::scanSong(c.song, std::nullopt).lyricSource);
  size_t found = 0;
  for (size_t k = 1; k < table.lyricEvents.size(); ++k) {
    const midi::LyricEvent &e = table.lyricEvents[k], &before = table.lyricEvents[k - 1];
    EXPECT_NEAR(e.duration, e.time - before.time, 1e-6);
    EXPECT_GE(e.duration, 0);
    if (e.text.empty()) continue;
    ASSERT_LT(found, syllables.size());
    const auto& [tick, text] = syllables[found++];
    EXPECT_EQ(before.tick, tick) << text;
    EXPECT_NEAR(before.time, ms(tick), 1e-6) << text;
    EXPECT_NEAR(e.time - e.duration, ms(tick), 1e-6) << text;
  }
  EXPECT_EQ(found, syllables.size());
}

INSTANTIATE_TEST_SUITE_P(Songs, LyricTiming, ::testing::ValuesIn(timingCases()),
                         [](const auto& info) { return info.param.name; });

// Text events win over lyric events when they have text. Without a lyric track, a song's name
// or copyright is no lyric; lyric events and texts that break lines still are.
TEST(LyricTable, SourceOfTheLinesWhereThereIsNoLyricTrack) {
  using Lines = std::vector<std::string>;
  TrackWriter both, named, marked, lyricEvents;
  const std::pair<TrackWriter*, Lines> songs[] = {
      {&both.text(0, 1, "@T").text(0, 1, "\\one").text(10, 5, "uno"), {"", "one"}},
      {&named.text(0, 1, "My Song").text(0, 1, "(c) someone"), {""}},
      {&marked.text(0, 1, "My Song").text(10, 1, "/Hel").text(10, 1, "lo"), {"My Song", "Hello"}},
      {&lyricEvents.text(0, 3, "Piano").text(10, 5, "Hel").text(10, 5, "lo"), {"Hello"}}};
  for (const auto& [track, lines] : songs) {
    const Bytes song = testmidi::buildSmf(0, 96, {track->end().bytes()});
    const midi::LyricSource source = midi::findLyricSource(song);
    EXPECT_TRUE(track == &both || source.kind == midi::LyricSourceKind::WholeFile);
    EXPECT_EQ(midi::songLyrics(song, source).lyricLines, lines);
  }
}

// The last event waits for its own end: the delta after it, when the track goes on.
TEST(LyricTable, LastEventEndsAfterItsFollowingDelta) {
  TrackWriter t;
  const Bytes song = testmidi::buildSmf(
      0, 96, {t.noteOn(0, 0, 60, 90).text(48, 5, "fin").noteOn(72, 0, 60, 0).bytes()});
  const midi::LyricTable table = midi::songLyrics(song, midi::findLyricSource(song));
  ASSERT_EQ(table.lyricEvents.size(), 2u);
  EXPECT_EQ(table.lyricEvents[1].tick, 48u + 72u);
  EXPECT_DOUBLE_EQ(table.lyricEvents[1].time, 120 * 500.0 / 96);
  EXPECT_DOUBLE_EQ(table.lyricEvents[1].duration, 72 * 500.0 / 96);
}

// Files whose size once set the table's cost: one candidate event per FF byte made an 8 MB file
// cost 1.3 GB. The table stops at its limit, and a file past the readers' size limit is no
// song at all, for the scanner as for the table.
TEST(LyricTable, EventsAndFileSizeLimited) {
  // The file: a two-syllable song padded to a size with a byte; the table events expected, the
  // empty first one included; whether the file is too large.
  const std::tuple<const char*, size_t, uint8_t, size_t, bool> files[] = {
      {"8 MB of FF", 8 << 20, 0xFF, midi::kMaxLyricEvents + 1, false},
      {"at the size limit", midi::kMaxSongFileBytes, 0, 4, false},
      {"past the size limit", midi::kMaxSongFileBytes + 1, 0, 1, true}};
  for (const auto& [name, size, fill, events, tooLarge] : files) {
    TrackWriter t;
    Bytes song = testmidi::buildSmf(0, 96, {t.text(0, 5, "la").text(10, 5, "la").end().bytes()});
    song.resize(size, fill);
    const midi::SongScan scan = midi::scanSong(song, std::nullopt);
    EXPECT_EQ(scan.tooLarge, tooLarge) << name;
    const midi::LyricTable table = midi::songLyrics(song, scan.lyricSource);
    EXPECT_EQ(table.lyricEvents.size(), events) << name;
    EXPECT_EQ(table.lyricLines.size(), 1u) << name;
  }
}

// Width grows with the point size; "W" counts double so the widest line is not the longest.
int fakeWidth(const std::string& line, int pointSize) {
  return int(line.size() + std::count(line.begin(), line.end(), 'W')) * pointSize / 2;
}

class FontFitting : public ::testing::TestWithParam<std::pair<std::vector<std::string>, int>> {};

TEST_P(FontFitting, LargestSizeUnderTheLimitForTheWidestLine) {
  const auto& [lines, limit] = GetParam();
  std::vector<std::string> measured;
  const int size = midi::fitFontSize(lines, limit, [&](const std::string& l, int p) {
    measured.push_back(l);
    return fakeWidth(l, p);
  });
  std::string widest;
  for (const std::string& l : lines)
    if (fakeWidth(l, 36) > fakeWidth(widest, 36)) widest = l;
  ASSERT_TRUE(size >= 1 && size <= 36);
  EXPECT_TRUE(size == 1 || fakeWidth(widest, size) < limit - 10);
  EXPECT_TRUE(size == 36 || fakeWidth(widest, size + 1) >= limit - 10);
  for (size_t i = lines.size(); i < measured.size(); ++i) EXPECT_EQ(measured[i], widest);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FontFitting,
    ::testing::Values(std::pair{std::vector<std::string>{"", "short"}, 400},
                      std::pair{std::vector<std::string>{"", "a fairly long line", "tiny"}, 300},
                      std::pair{std::vector<std::string>{"iiiiiiiiii", "WWWWWWW"}, 120},
                      std::pair{std::vector<std::string>{"abcd", "WW"}, 60},   // a tie
                      std::pair{std::vector<std::string>{"abcdefghij"}, 190},  // 180 at 36: shrinks
                      std::pair{std::vector<std::string>{std::string(500, 'W')}, 5}));

}  // namespace
