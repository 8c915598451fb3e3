// The live pitch worker: blocks fed as the take's writer feeds them come back as estimates on
// the capture's 10 ms grid, at the pitch sung.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

#include "LivePitch.h"
#include "MicFeed.h"
#include "SoundServer.h"
#include "TestAudio.h"
#include "WavePlayer.h"

namespace {

struct FeedCase {
  int rate;
  int channels;
  double hz;
};

class LivePitchFeed : public ::testing::TestWithParam<FeedCase> {};

// Half a second of a steady tone fed in uneven blocks: every estimate is centred on the 10 ms
// grid of the frames fed, in order, and past the first 50 ms within 10 cents of the tone.
TEST_P(LivePitchFeed, EstimatesFollowTheFramesFed) {
  const auto [rate, channels, hz] = GetParam();
  recorder::LivePitch live(rate);
  const size_t frames = size_t(rate / 2);
  std::vector<int16_t> x(frames * size_t(channels));
  for (size_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      x[i * size_t(channels) + size_t(c)] =
          int16_t(12000 * std::sin(2 * std::numbers::pi * hz * double(i) / rate));
  for (size_t at = 0, step = 37; at < frames; at += step, step = step * 7 % 1500 + 1)
    live.feed(&x[at * size_t(channels)], std::min(step, frames - at), channels);

  // Every complete 10 ms step of the half second is analysed; the worker is waited for by the
  // count of estimates, never by a delay.
  const size_t expected = size_t(50 - 1);
  std::vector<singing::PitchPoint> got;
  singing::PitchPoint block[16];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (got.size() < expected && std::chrono::steady_clock::now() < deadline) {
    const size_t n = live.read(block);
    got.insert(got.end(), block, block + n);
    if (n == 0) std::this_thread::yield();
  }
  ASSERT_GE(got.size(), expected);
  for (size_t k = 0; k < got.size(); ++k) {
    EXPECT_EQ(got[k].sample, std::llround(double(k) * rate / 100)) << k;
    if (got[k].sample < rate / 20) continue;
    ASSERT_GT(got[k].hz, 0) << k;
    EXPECT_NEAR(1200 * std::log2(got[k].hz / hz), 0, 10) << k;
  }
  EXPECT_EQ(live.droppedFrames(), 0);
}

INSTANTIATE_TEST_SUITE_P(Feeds, LivePitchFeed,
                         ::testing::Values(FeedCase{44100, 1, 220}, FeedCase{48000, 2, 440},
                                           FeedCase{22050, 1, 330}),
                         [](const auto& info) {
                           return std::to_string(info.param.rate) + "Hz" +
                                  std::to_string(info.param.channels) + "ch";
                         });

// A take recorded through the sound server's virtual microphone, a 440 Hz voice on it, feeds
// the worker: estimates arrive while it records, on the take's own 10 ms grid, at the voice's
// pitch. The take is stopped once forty voiced estimates came (or after ten seconds).
TEST(LivePitchTake, TakeFeedsTheWorkerWhileItRecords) {
  REQUIRE_SOUND_SERVER();
  testaudio::run(
      "pactl set-sink-volume mic_feed 100%; pactl set-source-volume @DEFAULT_SOURCE@ 100%");
  testaudio::TempDir dir;
  constexpr int kRate = 22050;
  recorder::LivePitch live(kRate);
  auto& hooks = recorder::wavePlayerHooks();
  const recorder::WavePlayerHooks saved = hooks;
  hooks = {};
  hooks.takeFile = (dir / "take.wav").string();
  hooks.livePitch = &live;
  std::vector<singing::PitchPoint> got;
  size_t voiced = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  hooks.doEvents = [&] {
    singing::PitchPoint block[16];
    for (size_t n; (n = live.read(block)) > 0;)
      for (size_t i = 0; i < n; ++i) {
        got.push_back(block[i]);
        if (std::fabs(1200 * std::log2(std::max(block[i].hz, 1.0f) / 440.0)) < 10) ++voiced;
      }
    if (voiced >= 40 || std::chrono::steady_clock::now() > deadline) recorder::stopRequested = true;
    std::this_thread::yield();
  };
  {
    testaudio::MicFeed voice(440, 0.4f);
    recorder::WavePlayer wp;
    wp.setChannels(1);
    wp.setSamplerate(kRate);
    wp.setBitsPerSample(16);
    recorder::stopRequested = false;
    wp.Record();
    wp.StopRecording();
  }
  hooks = saved;
  EXPECT_GE(voiced, 40u);
  for (size_t k = 0; k < got.size(); ++k)
    ASSERT_EQ(got[k].sample, std::llround(double(k) * kRate / 100)) << k;
}

}  // namespace
