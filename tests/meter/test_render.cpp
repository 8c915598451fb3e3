// The meter's arithmetic on bytes built in code: levels from a known RMS, channels kept
// apart whatever byte a stretch starts on, the six-step LED history, and the trace bands.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "modRender.h"

namespace {

// Frames of `code` whose meter value (−128 … 127, the high byte of 16-bit samples) is
// fn(frame, channel).
std::vector<uint8_t> frames(const std::string& code, int count,
                            const std::function<int(int, int)>& fn) {
  const auto layout = lumo::layoutOfCode(code);
  std::vector<uint8_t> bytes;
  for (int f = 0; f < count; ++f)
    for (int c = 0; c < layout.channels; ++c) {
      const int v = fn(f, c);
      if (layout.bits == 8) {
        bytes.push_back(uint8_t(128 - v));
      } else {
        bytes.push_back(0);
        bytes.push_back(uint8_t(int8_t(v)));
      }
    }
  return bytes;
}

int expectedLevel(double rms, int leds, float calibration) {
  return int(std::nearbyint(rms / 128 * leds * calibration));
}

// A square wave of ±64 on the left and ±32 on the right has those RMS values, in every code.
TEST(Meter, LevelsFollowTheRmsOfEachChannel) {
  for (const std::string code : {"1M08", "2S08", "4M16", "4S16"}) {
    const auto bytes = frames(code, 3000, [](int f, int c) { return (f % 2 ? -64 : 64) >> c; });
    const auto levels = lumo::vuLevels(bytes, code, 0, int32_t(bytes.size()) - 1, 12, 32, 1.5f);
    ASSERT_TRUE(levels) << code;
    EXPECT_EQ(levels->left, expectedLevel(64, 32, 1.5f)) << code;
    const bool mono = code[1] == 'M';
    EXPECT_EQ(levels->right, expectedLevel(mono ? 64 : 32, 32, 1.5f)) << code;
  }
}

// Whatever byte the stretch starts on, and when it runs past the array's end, a tone on the
// left lights the left row only.
TEST(Meter, LeftOnlyToneLightsTheLeftRowOnly) {
  const std::pair<std::string, int32_t> stretches[] = {// a code, a byte inside a frame
                                                       {"4S16", 2},
                                                       {"4S16", 2671 + 2},
                                                       {"1S08", 1},
                                                       {"1S08", 163 + 2}};
  for (const auto& [code, from] : stretches) {
    const auto bytes =
        frames(code, 2000, [](int f, int c) { return c ? 0 : (f % 2 ? -100 : 100); });
    for (int32_t step : {12, 36}) {
      const auto levels =
          lumo::vuLevels(bytes, code, from, int32_t(bytes.size()) + 50, step, 32, 1.0f);
      ASSERT_TRUE(levels);
      EXPECT_EQ(levels->left, expectedLevel(100, 32, 1.0f)) << code << " " << from << " " << step;
      EXPECT_EQ(levels->right, 0) << code << " " << from << " " << step;
    }
  }
}

TEST(Meter, NothingToMeter) {
  const auto bytes = frames("4S16", 100, [](int, int) { return 50; });
  EXPECT_FALSE(lumo::vuLevels(bytes, "4S24", 0, 399, 12, 32, 1.0f));
  EXPECT_FALSE(lumo::vuLevels(bytes, "4S16", 0, 399, 0, 32, 1.0f));
  const auto empty = lumo::vuLevels(bytes, "4S16", 300, 200, 12, 32, 1.0f);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->left, 0);
  EXPECT_EQ(empty->right, 0);
}

// The LEDs of a row as the runs leave them.
struct Row {
  std::vector<bool> lit;
  void apply(const lumo::LedRun& run) {
    for (int i = run.from; i <= run.to; ++i) {
      ASSERT_GE(i, 0);
      ASSERT_LT(i, int(lit.size()));
      lit[size_t(i)] = run.on;
    }
  }
  int count() const { return int(std::count(lit.begin(), lit.end(), true)); }
};

TEST(Meter, ShownLevelIsTheMeanOfSixAndStaysInsideTheRow) {
  lumo::LevelHistory history;
  Row left{std::vector<bool>(10)}, right{std::vector<bool>(10)};
  const auto feed = [&](int l, int r, int times) {
    for (int i = 0; i < times; ++i) {
      const auto u = lumo::ShowLevels(history, l, r, 10);
      left.apply(u.left);
      right.apply(u.right);
    }
  };
  feed(1, 1, 1);
  EXPECT_EQ(history.previousLeft, 0);  // round(1 / 6)
  feed(30, 3, 6);                      // far above the row on the left
  EXPECT_EQ(left.count(), 10);
  EXPECT_EQ(right.count(), 3);  // a steady level 3 lights LEDs 0 … 2
  feed(0, 0, 6);
  EXPECT_EQ(left.count(), 0);
  EXPECT_EQ(right.count(), 0);
}

TEST(Meter, StereoTraceKeepsEachChannelInItsBand) {
  const auto bytes = frames("4S08", 1000, [](int, int c) { return c ? 0 : 64; });
  const auto trace = lumo::oscTrace(bytes, "4S08", 0, 960, 12, 1.0f, 320, 200);
  ASSERT_TRUE(trace);
  ASSERT_EQ(trace->left.size(), 81);
  EXPECT_EQ(trace->left.first(), QPoint(0, 50));
  EXPECT_EQ(trace->left.last(), QPoint(320, 50 + 25));  // 64 / 256 of the 100-pixel band
  EXPECT_EQ(trace->right.first(), QPoint(0, 150));
  for (const QPoint& p : trace->right) EXPECT_EQ(p.y(), 150);
  const auto mono = lumo::oscTrace(bytes, "4M08", 0, 960, 12, 1.0f, 320, 200);
  ASSERT_TRUE(mono);
  EXPECT_EQ(mono->left.first(), QPoint(0, 100));
  EXPECT_TRUE(mono->right.isEmpty());
}

}  // namespace
