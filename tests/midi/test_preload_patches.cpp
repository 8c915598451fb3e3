// The instrument preload file against its byte table and midicsv's reading of it, and the
// instrument names of the channel mixer.
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "Patches.h"
#include "Preload.h"
#include "SmfWriter.h"
#include "TestAudio.h"

using namespace std::string_literals;

namespace {

TEST(PreloadFile, TheTablesBytesReadAs128ProgramChanges) {
  const auto& b = midi::preloadFileBytes();
  const std::string head = "MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\1\x80\0"s;
  EXPECT_EQ(std::string(b.begin(), b.begin() + 23), head);
  for (int i = 0; i < 128; ++i)
    EXPECT_EQ(std::tie(b[23 + 3 * i], b[24 + 3 * i], b[25 + 3 * i]), std::tuple(0xC0, i, 1)) << i;
  EXPECT_EQ(std::string(b.begin() + 407, b.end()), "\0\xFF\x2F\0"s);

  testaudio::TempDir dir;
  const auto path = dir / "preload.mid";
  testmidi::writeFile(path, std::vector<uint8_t>(b.begin(), b.end()));
  // midicsv reads the 128 changes, one per tick, before it runs past the declared chunk.
  const auto csv = testmidi::midicsv(path);
  ASSERT_GE(csv.size(), 130u);
  EXPECT_EQ(std::tuple(csv[0].number(0), csv[0].number(1), csv[0].number(2)), std::tuple(0, 1, 96));
  for (int i = 0; i < 128; ++i) {
    const auto& r = csv[size_t(i) + 2];
    EXPECT_EQ(std::tuple(r.type, r.time, r.number(0), r.number(1)),
              std::tuple("Program_c", i, 0, i));
  }
}

TEST(PatchNames, GetPatchAndTheToolTip) {
  const std::pair<int, std::string> names[] = {
      {0, "Acoustic Grand"},   {1, "Bright Acoustic"},        {3, "Honky-Tonk"}, {21, "Accordeon"},
      {23, "Tango accordeon"}, {33, "Electric Bass(finger)"}, {40, "Violin"},    {77, "Skakuhachi"},
      {127, "Gunshot"},        {128, "Percussion"},           {129, ""},         {-1, ""}};
  for (const auto& [n, name] : names) {
    EXPECT_EQ(midi::GetPatch(n), name) << n;
    EXPECT_EQ(midi::descrizionestrumenti(n), name.empty() ? std::nullopt : std::optional(name))
        << n;
  }
}

// The instrument list selects by text, so each name must stand for one program.
TEST(ProgramNames, AllDistinct) {
  const auto& names = midi::programNames();
  EXPECT_EQ(std::set(names.begin(), names.end()).size(), 128u);
}

}  // namespace
