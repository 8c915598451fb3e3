// The song scanner against midicsv's parse of the same files where the byte rules agree with a
// parse, its own false hits where they do not, and damaged files (lyrics included).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <tuple>

#include "Lyrics.h"
#include "SmfWriter.h"
#include "SongScanner.h"
#include "TestAudio.h"

using testmidi::Bytes;
using testmidi::TrackWriter;

namespace {

struct Song {
  std::string name;
  friend void PrintTo(const Song& c, std::ostream* os) { *os << c.name; }
  Bytes bytes;
};

// No status-like byte outside real status positions, so a raw search finds what a parse finds.
std::vector<Song> cleanSongs() {
  TrackWriter k;
  k.text(0, 1, "@KMIDI KARAOKE FILE").tempo(0, 500000).program(0, 0, 0).program(0, 0, 5);
  k.controller(0, 0, 7, 127).controller(0, 0, 7, 90).controller(0, 0, 10, 40);
  k.noteOn(0, 0, 60, 100).noteOn(0, 9, 36, 100).text(10, 1, "\\Hel").tempo(0, 400000).end();
  TrackWriter tempo, words, band(true);  // the band in running status
  tempo.meta(0, 0x58, {4, 2, 24, 8}).tempo(0, 400000).end();
  words.text(0, 3, "Words").text(0, 1, "\\one").text(48, 1, "two").end(48);
  band.program(0, 1, 33).program(0, 2, 0).controller(0, 1, 7, 127).controller(0, 1, 7, 127);
  band.controller(0, 2, 7, 64).controller(0, 2, 10, 0).noteOn(0, 2, 50, 90);
  band.controller(0, 2, 10, 30).noteOn(0, 1, 40, 90).noteOn(24, 1, 43, 90).end();
  TrackWriter few, some, fifty;
  few.tempo(0, 461538).text(0, 1, "few").end();
  for (int i = 0; i < 49; ++i) some.text(1, 1, "ab");
  for (int i = 0; i < 50; ++i) fifty.text(1, 1, "cd");
  some.end();
  fifty.program(0, 4, 20).noteOn(0, 4, 70, 80).end();
  return {
      {"Format0Karaoke", testmidi::buildSmf(0, 96, {k.bytes()})},
      {"Format1Words", testmidi::buildSmf(1, 480, {tempo.bytes(), words.bytes(), band.bytes()})},
      {"Format1FiftyTexts",
       testmidi::buildSmf(1, 192, {few.bytes(), some.bytes(), fifty.bytes()})}};
}

class ScannerAgainstMidicsv : public ::testing::TestWithParam<Song> {};

TEST_P(ScannerAgainstMidicsv, FieldsMatchTheParse) {
  testaudio::TempDir dir;
  testmidi::writeFile(dir / "song.mid", GetParam().bytes);
  const auto csv = testmidi::midicsv(dir / "song.mid");
  ASSERT_FALSE(csv.empty());
  const midi::SongScan s = midi::scanSong(GetParam().bytes, std::nullopt);
  EXPECT_EQ(s.smfFormat, csv[0].number(0));
  EXPECT_EQ(s.trackCount, csv[0].number(1));
  const double division = double(csv[0].number(2));

  double tempo = 0;
  std::map<int, long> program, volume, texts, named;
  std::map<int, std::vector<long>> pans;
  std::map<int, bool> notes;
  for (const auto& r : csv) {
    if (r.type == "Tempo" && tempo == 0) tempo = double(r.number(0));
    if (r.type == "Note_on_c") notes[int(r.number(0))] = true;
    if (r.type == "Program_c" && r.number(1) > 0)
      program.try_emplace(int(r.number(0)), r.number(1));
    const bool cc = r.type == "Control_c";
    if (cc && r.number(1) == 7 && r.number(2) >= 1 && r.number(2) <= 126)
      volume.try_emplace(int(r.number(0)), r.number(2));
    if (cc && r.number(1) == 10) pans[int(r.number(0))].push_back(r.number(2));
    texts[r.track] += r.type == "Text_t";
    named[r.track] += r.type == "Title_t" && r.fields.at(0) == "Words";
  }
  EXPECT_DOUBLE_EQ(s.timing.tempoMicros, tempo);
  EXPECT_DOUBLE_EQ(s.timing.ticksPerSixteenth, division / 4);
  EXPECT_NEAR(s.timing.songBpm, 60000000.0 / tempo, 0.005);
  EXPECT_DOUBLE_EQ(s.timing.songBpm * 100, std::round(s.timing.songBpm * 100));
  EXPECT_NEAR(s.timing.msPerTick, tempo / 1000.0 / division, 1e-9);  // one tick at that tempo

  int track = 0;
  for (int t = 1; t <= s.trackCount && !track; ++t)
    if (named[t] || texts[t] >= 50) track = t;
  EXPECT_EQ(s.lyricSource.track, track);
  EXPECT_EQ(s.lyricSource.kind, !track         ? midi::LyricSourceKind::WholeFile
                                : named[track] ? midi::LyricSourceKind::WordsTrack
                                               : midi::LyricSourceKind::TextTrack);

  for (int c = 0; c < 16; ++c) {
    SCOPED_TRACE("channel index " + std::to_string(c));
    const midi::ChannelState& ch = s.channels[size_t(c)];
    const auto& p = pans[c];
    EXPECT_EQ(ch.inUse, notes[c] ? c + 1 : -1);
    EXPECT_EQ(ch.program, program.count(c) ? program[c] : 0);
    EXPECT_EQ(ch.volume, !notes[c] ? 0 : volume.count(c) ? volume[c] : 100);
    EXPECT_EQ(ch.pan, !notes[c] || p.empty() ? 64 : (p[0] == 0 && p.size() > 1) ? p[1] : p[0]);
  }
}

INSTANTIATE_TEST_SUITE_P(Songs, ScannerAgainstMidicsv, ::testing::ValuesIn(cleanSongs()),
                         [](const auto& info) { return info.param.name; });

// Where a raw byte search and a parse disagree, the byte rules hold.
struct FalseHit {
  std::string name;
  friend void PrintTo(const FalseHit& c, std::ostream* os) { *os << c.name; }
  Bytes track;  // channel index 1 plays a note after these bytes
  int channel, inUse, program, volume, pan;
};

Bytes events(const std::function<void(TrackWriter&)>& write) {
  TrackWriter t;
  write(t);
  return t.noteOn(0, 1, 60, 90).end().bytes();
}

std::vector<FalseHit> falseHits() {
  using T = TrackWriter;
  return {
      // A Windows-1252 opening quote is 0x93, a Note On status of channel index 3.
      {"QuoteInTextMarksChannelInUse", events([](T& t) { t.text(0, 5, "\x93la\x94"); }), 3, 4, 0,
       100, 64},
      // "À" is 0xC0: a program change of channel index 0 to "m" (109).
      {"AccentInTextIsAProgramChange",
       events([](T& t) { t.text(0, 5, "\xC0me").noteOn(0, 0, 1, 1); }), 0, 1, 'm', 100, 64},
      {"VolumesAll127Keep100",
       events([](T& t) { t.controller(0, 1, 7, 127).controller(0, 1, 7, 127); }), 1, 2, 0, 100, 64},
      {"Volume0And127Skipped", events([](T& t) {
         t.controller(0, 1, 7, 0).controller(0, 1, 7, 127).controller(0, 1, 7, 80);
       }),
       1, 2, 0, 80, 64},
      {"OnlyProgram0KeepsProgram0", events([](T& t) { t.program(0, 1, 0); }), 1, 2, 0, 100, 64},
      {"Program0SkippedForTheNext",
       events([](T& t) { t.program(0, 1, 0).program(0, 1, 12).program(0, 1, 30); }), 1, 2, 12, 100,
       64},
      {"Pan0TakesTheNext", events([](T& t) { t.controller(0, 1, 10, 0).controller(0, 1, 10, 40); }),
       1, 2, 0, 100, 40},
      {"Pan0AloneStays0", events([](T& t) { t.controller(0, 1, 10, 0); }), 1, 2, 0, 100, 0},
      {"SecondPanTakenUntested", events([](T& t) {
         t.controller(0, 1, 10, 0).controller(0, 1, 10, 0).controller(0, 1, 10, 50);
       }),
       1, 2, 0, 100, 0},
      {"FirstGoodPanWins",
       events([](T& t) { t.controller(0, 1, 10, 20).controller(0, 1, 10, 40); }), 1, 2, 0, 100, 20},
  };
}

class ScannerFalseHits : public ::testing::TestWithParam<FalseHit> {};

TEST_P(ScannerFalseHits, ByteRulesHold) {
  const FalseHit& c = GetParam();
  const Bytes song = testmidi::buildSmf(0, 96, {c.track});
  const midi::ChannelState ch = midi::scanSong(song, std::nullopt).channels[size_t(c.channel)];
  EXPECT_EQ(ch.inUse, c.inUse);
  EXPECT_EQ(ch.program, c.program);
  EXPECT_EQ(ch.volume, c.volume);
  EXPECT_EQ(ch.pan, c.pan);
}

INSTANTIATE_TEST_SUITE_P(Rules, ScannerFalseHits, ::testing::ValuesIn(falseHits()),
                         [](const auto& info) { return info.param.name; });

TEST(ScannerFalseHits, ProgramBytesOutsideTheSearchAreNotTaken) {
  // Division 0x00C3 puts a program-change byte of channel index 3 before the searches start;
  // one at the very end of the file has no program byte and reads 0.
  TrackWriter t;
  Bytes song = testmidi::buildSmf(0, 0xC3, {t.noteOn(0, 3, 60, 90).end().bytes()});
  song.push_back(0xC3);
  EXPECT_EQ(midi::scanSong(song, std::nullopt).channels[3].program, 0);
}

// Without a Set Tempo event the timing is the last song's; for the first song, 120 bpm.
TEST(ScannerTiming, NoTempoKeepsPreviousOrFallsBack) {
  TrackWriter t;
  const Bytes song = testmidi::buildSmf(0, 240, {t.noteOn(0, 0, 60, 90).end().bytes()});
  const midi::SongTiming previous{24, 600000, 100, 6.25};
  const midi::SongTiming kept = midi::scanSong(song, previous).timing;
  EXPECT_EQ(std::tie(kept.ticksPerSixteenth, kept.tempoMicros, kept.songBpm, kept.msPerTick),
            std::tie(previous.ticksPerSixteenth, previous.tempoMicros, previous.songBpm,
                     previous.msPerTick));
  const midi::SongTiming first = midi::scanSong(song, std::nullopt).timing;
  EXPECT_EQ(first.tempoMicros, 500000);
  EXPECT_EQ(first.songBpm, 120);
  EXPECT_DOUBLE_EQ(first.msPerTick, 500.0 / 240);
}

// Damaged files: no crash, no division by zero, the fallbacks where a value is needed, and a
// lyric table whose events point into its lines.
struct Damaged {
  std::string name;
  friend void PrintTo(const Damaged& c, std::ostream* os) { *os << c.name; }
  Bytes bytes;
  double ticksPerSixteenth;  // 0: only finite and positive
};

std::vector<Damaged> damaged() {
  TrackWriter t;
  t.tempo(0, 500000).text(0, 1, "\\la").noteOn(0, 0, 60, 90).text(10, 5, "/l\xE0").end();
  const Bytes good = testmidi::buildSmf(0, 96, {t.bytes()});
  auto patched = [&](std::initializer_list<std::pair<size_t, uint8_t>> bytes) {
    Bytes b = good;
    for (auto [at, v] : bytes) b[at] = v;
    return b;
  };
  std::vector<Damaged> cases = {
      {"ZeroDivision", patched({{12, 0}, {13, 0}}), 120},
      {"SmpteDivision", patched({{12, 0xE7}, {13, 0x28}}), 120},
      {"HugeTrackLength", patched({{18, 0xFF}, {19, 0xFF}, {20, 0xFF}, {21, 0xF0}}), 24},
      {"TrackCountPastTheData", patched({{10, 0xFF}, {11, 0xFF}}), 24},
      {"ZeroTempo", patched({{26, 0}, {27, 0}, {28, 0}}), 24},
      {"TempoValuePastTheEnd", patched({{24, 0x52}}), 24}};
  cases.back().bytes.insert(cases.back().bytes.end(), {0xFF, 0x51});
  for (size_t n = 0; n < good.size(); ++n)
    cases.push_back({"Truncated" + std::to_string(n), Bytes(good.begin(), good.begin() + n), 0});
  std::mt19937 rng(7);
  for (int i = 0; i < 8; ++i) {
    Bytes g(100 + 200 * size_t(i));
    for (auto& x : g) x = uint8_t(rng() % 4 == 0 ? 0xFF : rng());
    cases.push_back({"Garbage" + std::to_string(i), g, 0});
  }
  return cases;
}

class ScannerDamaged : public ::testing::TestWithParam<Damaged> {};

TEST_P(ScannerDamaged, FallsBackWithoutCrashing) {
  const Damaged& c = GetParam();
  const midi::SongScan s = midi::scanSong(c.bytes, std::nullopt);
  EXPECT_TRUE(std::isfinite(s.timing.msPerTick) && s.timing.msPerTick > 0);
  EXPECT_TRUE(std::isfinite(s.timing.songBpm) && s.timing.tempoMicros > 0);
  if (c.ticksPerSixteenth > 0) {
    EXPECT_EQ(s.timing.ticksPerSixteenth, c.ticksPerSixteenth);
  }
  const midi::LyricTable table = midi::songLyrics(c.bytes, s.lyricSource);
  for (size_t k = 1; k < table.lyricEvents.size(); ++k) {
    const midi::LyricEvent& e = table.lyricEvents[k];
    ASSERT_LT(size_t(e.line), table.lyricLines.size());
    const std::string& line = table.lyricLines[size_t(e.line)];
    const auto chars =
        std::count_if(line.begin(), line.end(), [](char ch) { return (ch & 0xC0) != 0x80; });
    ASSERT_LE(e.column + e.textLength, chars) << "event " << k;
    ASSERT_TRUE(std::isfinite(e.time));
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ScannerDamaged, ::testing::ValuesIn(damaged()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
