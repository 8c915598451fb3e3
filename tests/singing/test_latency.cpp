// Finding a train of clicks in a captured signal: the delay where it is, nothing where the
// speakers were not heard.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "Latency.h"

namespace {

using singing::ClickTrain;

struct Capture {
  int rate = 48000;
  double delayMs = 0;
  float gain = 0.2f;       // what is left of the clicks after the speakers and the air
  float noise = 0.01f;     // the room's noise, Gaussian
  float hum = 0.0f;        // a 150 Hz tone under everything (a voice, a fan)
  std::vector<int> heard;  // the clicks that reach the microphone; empty: all
};

// The capture of `train` played with the clicks at their nominal place plus `delayMs`, each
// click smoothed by a one-pole low-pass (a small speaker) and buried in noise.
std::vector<float> captureOf(const ClickTrain& train, const Capture& c) {
  std::vector<float> x(
      size_t((train.firstMs + train.count * train.spacingMs + 600) * c.rate / 1000));
  std::mt19937 gen(7);
  std::normal_distribution<float> noise(0.0f, c.noise);
  for (size_t i = 0; i < x.size(); ++i)
    x[i] = noise(gen) + c.hum * float(std::sin(2 * std::numbers::pi * 150 * double(i) / c.rate));
  const std::vector<float> click = singing::clickSound(c.rate);
  for (int k = 0; k < train.count; ++k) {
    if (!c.heard.empty() && std::find(c.heard.begin(), c.heard.end(), k) == c.heard.end()) continue;
    const size_t at =
        size_t(std::lround((train.firstMs + k * train.spacingMs + c.delayMs) * c.rate / 1000.0));
    float y = 0;
    for (size_t i = 0; i < click.size() && at + i < x.size(); ++i) {
      y += 0.7f * (click[i] - y);
      x[at + i] += c.gain * y;
    }
  }
  return x;
}

Capture cap(int rate, double delayMs, float gain = 0.2f, float noise = 0.01f, float hum = 0.0f,
            std::vector<int> heard = {}) {
  return Capture{rate, delayMs, gain, noise, hum, std::move(heard)};
}

ClickTrain train() {
  ClickTrain t;
  t.count = 5;
  t.spacingMs = 700;
  t.firstMs = 300;
  return t;
}

class ClickDelay : public ::testing::TestWithParam<Capture> {};

// The delay is found within half a millisecond (the click's smoothed onset) wherever it lies in
// the searched range, at either rate, quiet or loud, with a steady tone under it, and with one
// click of five lost.
TEST_P(ClickDelay, FoundWithinHalfAMillisecond) {
  const Capture c = GetParam();
  const auto delay = singing::findClickDelayMs(captureOf(train(), c), c.rate, train());
  ASSERT_TRUE(delay.has_value());
  EXPECT_NEAR(*delay, c.delayMs, 0.5);
}

INSTANTIATE_TEST_SUITE_P(
    Captures, ClickDelay,
    ::testing::Values(cap(48000, 0.0), cap(48000, 37.3), cap(44100, 250.0), cap(44100, -20.0),
                      cap(48000, 480.0),
                      cap(48000, 120.0, 0.03f, 0.002f),  // faint clicks, a quiet room
                      cap(44100, 90.0, 0.2f, 0.01f, 0.3f),
                      cap(48000, 60.0, 0.2f, 0.01f, 0.0f, std::vector<int>{0, 1, 3, 4})));

// No delay when the speakers were not heard: only the room, only a tone, digital silence, or
// just two clicks of five (a door, not the train).
TEST(ClickDelay, NothingWhenTheClicksAreNotHeard) {
  const std::vector<Capture> unheard = {cap(48000, 0, 0.0f), cap(48000, 0, 0.0f, 0.0f, 0.4f),
                                        cap(48000, 0, 0.0f, 0.0f),
                                        Capture{48000, 100, 0.2f, 0.01f, 0.0f, {1, 3}}};
  for (const Capture& c : unheard)
    EXPECT_FALSE(singing::findClickDelayMs(captureOf(train(), c), c.rate, train()).has_value())
        << "gain " << c.gain << ", noise " << c.noise << ", hum " << c.hum;
}

// A train spaced closer than the searched range could match itself one click over: refused.
TEST(ClickDelay, SpacingInsideTheRangeIsRefused) {
  ClickTrain t = train();
  t.spacingMs = 400;
  EXPECT_FALSE(singing::findClickDelayMs(captureOf(t, cap(48000, 0)), 48000, t).has_value());
}

}  // namespace
