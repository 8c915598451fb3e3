// The pure rules of the CD window: the CD-TEXT reader, the track lines, the texts of the
// message boxes and the WAV header.
#include <gtest/gtest.h>

#include <string>

#include "CdText.h"
#include "Rip.h"
#include "TrackList.h"

namespace {

using namespace std::string_literals;

struct TextCase {
  std::string block;
  std::vector<std::string> title, performer;
};

std::vector<std::string> lastOf100(const std::string& value) {
  std::vector<std::string> v(100);
  v[99] = value;
  return v;
}

class CdTextBlock : public testing::TestWithParam<TextCase> {};

TEST_P(CdTextBlock, FillsTheTablesByEntryNumber) {
  const auto& c = GetParam();
  const cd::CdTextTables t = cd::parseCdText(c.block.data(), c.block.size());
  EXPECT_EQ(t.title, c.title);
  EXPECT_EQ(t.performer, c.performer);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, CdTextBlock,
    testing::Values(TextCase{"TITLE0=Album\0PERFORMER0=Band\0TITLE1=One\0PERFORMER1=Singer\0\0"s,
                             {"Album", "One"},
                             {"Band", "Singer"}},
                    // The value is everything after the first "=", the entries come in any order.
                    TextCase{"TITLE2=a=b\0TITLE0=x\0\0"s, {"x", "", "a=b"}, {}},
                    // Other keys, strings without "=" or a number, numbers past a disc's 99 tracks.
                    TextCase{
                        "SONGWRITER1=s\0TITLE\0TITLEx=1\0TITLE=2\0TITLE100=3\0PERFORMER99=p\0\0"s,
                        {},
                        lastOf100("p")},
                    // Reading stops at the empty string, and at the block's end when it has none.
                    TextCase{"TITLE0=a\0\0TITLE1=b\0\0"s, {"a"}, {}},
                    TextCase{"TITLE0=abc"s, {"abc"}, {}}));

struct LineCase {
  int track;
  int64_t bytes;
  std::string line;
};

class TrackLine : public testing::TestWithParam<LineCase> {};

TEST_P(TrackLine, ShowsNumberNameAndTime) {
  EXPECT_EQ(cd::trackLine(GetParam().track, GetParam().bytes), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(Lengths, TrackLine,
                         testing::Values(LineCase{0, 176400LL * 205, "01\tTrack 1\t[03:25]"},
                                         LineCase{9, 176400LL * 59, "10\tTrack 10\t[00:59]"},
                                         LineCase{11, 176400LL * 3725, "12\tTrack 12\t[01:02:05]"},
                                         // Rounded to whole seconds: half a second up, less down.
                                         LineCase{0, 176400LL * 59 + 88200, "01\tTrack 1\t[01:00]"},
                                         LineCase{0, 176400LL * 59 + 88199,
                                                  "01\tTrack 1\t[00:59]"}));

TEST(CdWindowTexts, AreThoseOfTheBoxes) {
  EXPECT_EQ(cd::cdTextTrackLine(2, "Band", "Song", 176400LL * 61), "03\tBand / Song\t[01:01]");
  EXPECT_EQ(cd::errorCodeText("Unable to Create CD Stream!", 13),
            "Unable to Create CD Stream!\n\nError Code : 13");
  EXPECT_EQ(cd::errorCodeText("There was an error.", -1), "There was an error.");
  EXPECT_EQ(cd::routineErrorText("frmDemo", "ExtractAudioTrack", 34, "read"),
            "Error in routine : ExtractAudioTrackin module : frmDemo\nError #34\nread");
  EXPECT_EQ(cd::bitrateLine(128000), "128 Kbps");
  EXPECT_EQ(cd::bitrateLine(1411000), "1,411 Kbps");
  EXPECT_EQ(cd::secondsText(12.34), "12.3");
  EXPECT_EQ(cd::secondsText(0.44), ".4");
  EXPECT_EQ(cd::trackWmaPath("/w", 2), "/w/TRACK3.WMA");
  EXPECT_EQ(cd::trackWavPath("/w/"), "/w/TRACK.WAV");
  EXPECT_EQ(cd::handOverCaption(4), "    From CdAudio TRACK5");
}

}  // namespace
