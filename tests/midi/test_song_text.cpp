// Song texts in either encoding: each text read as UTF-8 when its bytes are well-formed UTF-8
// with a character beyond ASCII, else as Windows-1252; and the lyric lines of karaoke files
// written both ways, built here as a notation program and an old karaoke editor write them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Lyrics.h"
#include "SmfWriter.h"
#include "SongScanner.h"
#include "SongText.h"

using testmidi::Bytes;
using testmidi::TrackWriter;

namespace {

struct TextCase {
  std::string name;
  friend void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }
  std::string bytes;  // as the file holds them
  bool utf8;          // taken as UTF-8
  std::string shown;  // the UTF-8 text shown
};

std::vector<TextCase> textCases() {
  return {
      {"Empty", "", false, ""},
      {"Ascii", "dos meus", false, "dos meus"},
      {"Utf8TwoBytes", "\xC3\xB3 p\xC3\xA9", true, "ó pé"},
      {"Utf8ThreeBytes", "\xE2\x82\xAC 5", true, "€ 5"},
      {"Utf8FourBytes", "\xF0\x9F\x8E\xA4!", true, "🎤!"},
      {"Utf8HighestCodePoint", "\xF4\x8F\xBF\xBF", true, "\xF4\x8F\xBF\xBF"},
      {"Cp1252LetterAtTheEnd", "perch\xE9", false, "perché"},
      {"Cp1252LetterBeforeAPlainOne", "\xE9t\xE9", false, "été"},
      {"Cp1252LeadAndContinuationByChance", "\xC3\xA9\xE9", false, "Ã©é"},
      {"StrayContinuation", "\xA9 2024", false, "© 2024"},
      {"OverlongTwoBytes", "\xC0\xAF", false, "À¯"},
      {"OverlongThreeBytes", "\xE0\x80\xAF", false, "à€¯"},
      {"Surrogate", "\xED\xA0\x80", false, "í\xC2\xA0€"},
      {"BeyondU10FFFF", "\xF4\x90\x80\x80", false, "ô\xC2\x90€€"},
      {"TruncatedAtTheEnd", "5 \xE2\x82", false, "5 â‚"},
      {"TruncatedBeforeAPlainByte", "\xE2\x82x", false, "â‚x"},
      {"Cp1252QuotesAndEuro", "\x93ok\x94 \x80", false, "“ok” €"},
      {"Cp1252Undefined", "\x81\x8D\x8F\x90\x9D", false,
       "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
  };
}

class SongTextRule : public ::testing::TestWithParam<TextCase> {};

TEST_P(SongTextRule, ReadAsUtf8OnlyWhenWellFormedAndBeyondAscii) {
  const TextCase& c = GetParam();
  const auto bytes = std::span(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
  EXPECT_EQ(midi::isMultiByteUtf8(bytes), c.utf8);
  EXPECT_EQ(midi::songTextToUtf8(bytes), c.shown);
}

INSTANTIATE_TEST_SUITE_P(Texts, SongTextRule, ::testing::ValuesIn(textCases()),
                         [](const auto& info) { return info.param.name; });

// ---- karaoke files ------------------------------------------------------------------------

struct KaraokeCase {
  std::string name;
  friend void PrintTo(const KaraokeCase& c, std::ostream* os) { *os << c.name; }
  Bytes song;
};

// "Ó pé dos meus cabezales" over two lines, with the encoding's bytes for ó and é.
std::vector<std::string> syllables(const std::string& oAcute, const std::string& eAcute) {
  return {"\\" + oAcute + " ", "p" + eAcute + " ", "dos ", "meus", "/ca", "be", "za", "les"};
}

std::vector<KaraokeCase> karaokeCases() {
  const auto utf8 = syllables("\xC3\xB3", "\xC3\xA9");
  const auto cp1252 = syllables("\xF3", "\xE9");
  TrackWriter notes;
  notes.tempo(0, 500000).program(0, 0, 0);
  for (int i = 0; i < 8; ++i) notes.noteOn(i ? 240 : 0, 0, 60 + i, 90).noteOn(240, 0, 60 + i, 0);
  notes.end();
  // A Soft Karaoke file: the words track named "Words", its header lines and syllables as
  // text events, the title in the encoding of the words.
  auto softKaraoke = [&](const std::vector<std::string>& words, const std::string& title) {
    TrackWriter w;
    w.text(0, 3, "Words").text(0, 1, "@KMIDI KARAOKE FILE").text(0, 1, "@T" + title);
    for (const std::string& s : words) w.text(120, 1, s);
    return testmidi::buildSmf(1, 480, {notes.bytes(), w.end().bytes()});
  };
  // A notation program's export: the syllables as lyric events on the melody's track, whose
  // name holds a letter beyond ASCII too.
  TrackWriter melody;
  melody.text(0, 3, "Voz (cant\xC3\xA1rea)").program(0, 1, 52);
  for (const std::string& s : utf8) melody.text(120, 5, s).noteOn(0, 1, 64, 90);
  const Bytes notation = testmidi::buildSmf(1, 480, {notes.bytes(), melody.end().bytes()});
  return {{"SoftKaraokeUtf8", softKaraoke(utf8, "Cabezales \xE2\x80\x94 Galicia")},
          {"SoftKaraokeWindows1252", softKaraoke(cp1252, "Cabezales \x97 Galicia")},
          {"NotationLyricEventsUtf8", notation}};
}

class KaraokeWords : public ::testing::TestWithParam<KaraokeCase> {};

TEST_P(KaraokeWords, LinesComeOutAsWritten) {
  const Bytes& song = GetParam().song;
  const auto table = midi::songLyrics(song, midi::scanSong(song, std::nullopt).lyricSource);
  EXPECT_EQ(table.lyricLines, (std::vector<std::string>{"", "ó pé dos meus", "cabezales"}));
  // Columns count characters: "dos" starts after "ó pé ", five of them in seven bytes.
  const auto syllable = [&](const std::string& text) {
    const auto it = std::find_if(table.lyricEvents.begin(), table.lyricEvents.end(),
                                 [&](const midi::LyricEvent& e) { return e.text == text; });
    midi::LyricEvent none;
    none.textLength = -1;
    return it == table.lyricEvents.end() ? none : *it;
  };
  EXPECT_EQ(syllable("dos ").column, 5);
  EXPECT_EQ(syllable("pé ").textLength, 3);
}

INSTANTIATE_TEST_SUITE_P(Files, KaraokeWords, ::testing::ValuesIn(karaokeCases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
