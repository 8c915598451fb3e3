// The engine through its library interface, on the render-on-demand device: streams,
// positions, the DSP chain's order, effects, resampling, slides, syncs and freeing.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <numbers>
#include <vector>

#include "Capture.h"
#include "Channel.h"
#include "MidiSong.h"
#include "ModuleWriter.h"
#include "PrefetchDecoder.h"
#include "SmfWriter.h"
#include "TestAudio.h"
#include "bass.h"

using testaudio::Audio;
using testaudio::TempDir;

namespace {

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
    ASSERT_TRUE(BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr));
  }
  void TearDown() override { BASS_Free(); }

  // Renders `frames` frames of the output mix.
  static Audio mix(int64_t frames) {
    Audio a{44100, 2, std::vector<float>(size_t(frames * 2))};
    EXPECT_EQ(BASS_MixGetData(a.samples.data(), DWORD(frames * 8)), DWORD(frames * 8));
    return a;
  }

  std::string song(const Audio& audio, const std::string& name = "song.wav",
                   testaudio::Format format = testaudio::Format::F32) {
    const auto path = dir / name;
    testaudio::writeWav(path, audio, format);
    return path.string();
  }

  TempDir dir;
};

Audio stereoNoise(int rate, int64_t frames) {
  uint32_t seed = 12345;
  return testaudio::makeAudio(rate, 2, frames, [&](int64_t, int) {
    seed = seed * 1664525u + 1013904223u;
    return float(int32_t(seed >> 8) - (1 << 23)) / float(1 << 25);  // about +-0.25
  });
}

// Two streams of one file started one after the other sound as one at twice the level: they
// start on the same frame and share what they decode. Paused while its twin plays on, a stream
// leaves the shared decoder and resumes where it was.
TEST_F(Engine, TwoStreamsOfOneFileStayInStepAndAPausedOneResumesWhereItStopped) {
  constexpr int64_t kTogether = 60000;
  const Audio in = stereoNoise(44100, 44100 * 4);
  const std::string path = song(in);
  const HSTREAM a = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_SAMPLE_FLOAT);
  const HSTREAM b = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_SAMPLE_FLOAT);
  ASSERT_NE(a, b);
  ASSERT_TRUE(BASS_StreamPlay(a, FALSE, 0));
  ASSERT_TRUE(BASS_StreamPlay(b, FALSE, 0));
  const Audio out = mix(kTogether);
  for (int64_t i = 0; i < kTogether * 2; ++i)
    ASSERT_EQ(out.samples[size_t(i)], 2 * in.samples[size_t(i)]) << "sample " << i;
  ASSERT_TRUE(BASS_ChannelPause(b));
  mix(44100 * 2);  // a plays on far past b's buffered frames
  BASS_ChannelStop(a);
  ASSERT_TRUE(BASS_ChannelResume(b));
  const Audio resumed = mix(1000);
  for (int64_t i = 0; i < 2000; ++i)
    ASSERT_EQ(resumed.samples[size_t(i)], in.samples[size_t(kTogether * 2 + i)]) << i;
}

TEST_F(Engine, PositionsAndLengthsAreBytesOfTheStreamsFormat) {
  const Audio in = stereoNoise(22050, 22050);
  const std::string path = song(in);
  const HSTREAM f = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_SAMPLE_FLOAT);
  const HSTREAM s = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
  EXPECT_EQ(BASS_StreamGetLength(f), QWORD(22050) * 8);
  EXPECT_EQ(BASS_StreamGetLength(s), QWORD(22050) * 4);
  EXPECT_FLOAT_EQ(BASS_ChannelBytes2Seconds(f, BASS_StreamGetLength(f)), 1.0f);
  EXPECT_FLOAT_EQ(BASS_ChannelBytes2Seconds(s, 22050 * 2), 0.5f);
  EXPECT_EQ(BASS_ChannelSeconds2Bytes(f, 0.5), QWORD(11025) * 8);
  BASS_StreamFree(s);
  BASS_StreamPlay(f, FALSE, 0);
  mix(44100 / 2);
  // Half a second of output is a quarter second of the 22050 Hz stream, less the resampler's
  // few frames of delay.
  EXPECT_NEAR(BASS_ChannelBytes2Seconds(f, BASS_ChannelGetPosition(f)), 0.5, 0.01);
}

TEST_F(Engine, SetPositionPlaysFromThere) {
  const Audio in = stereoNoise(44100, 30000);
  const HSTREAM h = BASS_StreamCreateFile(FALSE, song(in).c_str(), 0, 0, BASS_SAMPLE_FLOAT);
  ASSERT_TRUE(BASS_ChannelSetPosition(h, 12345 * 8));
  EXPECT_EQ(BASS_ChannelGetPosition(h), QWORD(12345) * 8);
  BASS_StreamPlay(h, FALSE, 0);
  const Audio out = mix(100);
  for (int i = 0; i < 200; ++i)
    ASSERT_EQ(out.samples[size_t(i)], in.samples[size_t(12345 * 2 + i)]);
  EXPECT_EQ(BASS_ChannelGetPosition(h), QWORD(12445) * 8);
  EXPECT_FALSE(BASS_ChannelSetPosition(h, 30001 * 8));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_POSITION);
}

std::atomic<int> gSyncs{0};
std::atomic<intptr_t> gSyncUser{0};
void onSync(HSYNC, DWORD, DWORD, void* user) {
  gSyncs++;
  gSyncUser = reinterpret_cast<intptr_t>(user);
}

// At its end a stream signals once with its user value; only the auto-free one loses its handle.
TEST_F(Engine, StreamEndSignalsOnceAndFreesOnlyTheAutoFreeHandle) {
  const Audio in = stereoNoise(44100, 3000);
  const std::string path = song(in);
  const HSTREAM freed = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_SAMPLE_FLOAT);
  const HSTREAM kept = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_SAMPLE_FLOAT);
  gSyncs = 0;
  ASSERT_TRUE(BASS_ChannelSetSync(kept, BASS_SYNC_END | BASS_SYNC_ONETIME, 0, &onSync,
                                  reinterpret_cast<void*>(intptr_t(3))));
  EXPECT_EQ(BASS_ChannelSetSync(kept, 77, 0, &onSync, nullptr), 0u);
  BASS_StreamPlay(freed, FALSE, BASS_STREAM_AUTOFREE);
  BASS_StreamPlay(kept, FALSE, 0);
  mix(1000);
  EXPECT_EQ(gSyncs.load(), 0);
  EXPECT_EQ(BASS_ChannelIsActive(freed), BASS_ACTIVE_PLAYING);
  const Audio out = mix(3096);
  EXPECT_EQ(out.samples[2 * 2000], 0.0f);  // silence after the end
  EXPECT_EQ(gSyncs.load(), 1);
  EXPECT_EQ(gSyncUser.load(), 3);
  EXPECT_EQ(BASS_ChannelIsActive(freed), BASS_ACTIVE_STOPPED);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  EXPECT_FALSE(BASS_StreamFree(freed));
  EXPECT_EQ(BASS_ChannelIsActive(kept), BASS_ACTIVE_STOPPED);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
  EXPECT_EQ(BASS_ChannelGetPosition(kept), QWORD(3000) * 8);
  EXPECT_TRUE(BASS_StreamFree(kept));
}

// Each callback notes its mark; the chain runs higher priorities first and equal ones in the
// order they were attached, effects among them: an effect of priority 1 runs before a callback
// of priority 0, which sees its output.
std::vector<int>* gOrder = nullptr;
void mark(HDSP, DWORD, void*, DWORD, void* user) {
  if (gOrder && gOrder->size() < 64) gOrder->push_back(int(reinterpret_cast<intptr_t>(user)));
}
float gFirstSample = 0;
void peek(HDSP, DWORD, void* buffer, DWORD, void*) {
  gFirstSample = *static_cast<float*>(buffer);
}

TEST_F(Engine, ChainRunsByPriorityThenAttachOrderEffectsAmongTheCallbacks) {
  const Audio in = testaudio::makeAudio(44100, 2, 4096, [](int64_t, int) { return 0.5f; });
  const HSTREAM h = BASS_StreamCreateFile(FALSE, song(in).c_str(), 0, 0, BASS_SAMPLE_FLOAT);
  std::vector<int> order;
  order.reserve(64);
  const auto user = [](int v) { return reinterpret_cast<void*>(intptr_t(v)); };
  BASS_ChannelSetDSP(h, &mark, user(1), 0);
  BASS_ChannelSetDSP(h, &mark, user(2), 5);
  const HDSP gone = BASS_ChannelSetDSP(h, &mark, user(3), 0);
  BASS_ChannelSetDSP(h, &mark, user(4), -1);
  BASS_ChannelSetDSP(h, &mark, user(5), 5);
  BASS_ChannelSetDSP(h, &mark, user(6), 0);
  ASSERT_TRUE(BASS_ChannelRemoveDSP(h, gone));
  EXPECT_FALSE(BASS_ChannelRemoveDSP(h, gone));
  ASSERT_TRUE(BASS_FX_DSP_Set(h, kFxChannelGain, 1));
  const FxChannelGain half{0.5f, 0.5f};
  ASSERT_TRUE(BASS_FX_DSP_SetParameters(h, kFxChannelGain, &half));
  BASS_ChannelSetDSP(h, &peek, nullptr, 0);
  BASS_StreamPlay(h, FALSE, 0);
  gOrder = &order;
  const Audio out = mix(256);  // one chunk through the chain
  gOrder = nullptr;
  ASSERT_GE(order.size(), 5u);
  EXPECT_EQ(std::vector<int>(order.begin(), order.begin() + 5), (std::vector<int>{2, 5, 1, 6, 4}));
  EXPECT_EQ(gFirstSample, 0.25f);
  EXPECT_EQ(out.samples[0], 0.25f);

  // Detached, the effect is gone from the next block on; setting it again starts it anew.
  ASSERT_TRUE(BASS_FX_DSP_Remove(h, kFxChannelGain));
  EXPECT_FALSE(BASS_FX_DSP_SetParameters(h, kFxChannelGain, &half));
  EXPECT_EQ(BASS_FX_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
  EXPECT_EQ(mix(256).samples[0], 0.5f);
  EXPECT_FALSE(BASS_FX_DSP_Set(h, 99, 0));
  EXPECT_EQ(BASS_FX_ErrorGetCode(), BASS_ERROR_ILLTYPE);
}

class Resampling : public Engine, public ::testing::WithParamInterface<int> {};

TEST_P(Resampling, SongAtAnotherRateKeepsPitchLengthAndLevel) {
  const int rate = GetParam();
  const int64_t frames = rate * 2;  // two seconds
  const Audio in = testaudio::makeAudio(rate, 2, frames, [&](int64_t f, int c) {
    return testaudio::sine(c ? 1000 : 3000, 0.5, f, rate);
  });
  const HSTREAM h = BASS_StreamCreateFile(FALSE, song(in).c_str(), 0, 0, BASS_SAMPLE_FLOAT);
  ASSERT_NE(h, 0u);
  BASS_StreamPlay(h, FALSE, 0);
  Audio out = mix(44100 * 2 + 2048);
  EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
  // The song lasts two seconds at the device rate: the last frames of sound sit at 88200.
  int64_t last = 0;
  for (int64_t f = 0; f < out.frames(); ++f)
    if (std::fabs(out.at(f, 0)) > 0.01f) last = f;
  EXPECT_NEAR(double(last), 88200.0, 64.0);
  EXPECT_NEAR(testaudio::toneAmplitude(out, 0, 3000, 44100, 22050), 0.5, 0.01);
  EXPECT_NEAR(testaudio::toneAmplitude(out, 1, 1000, 44100, 22050), 0.5, 0.01);
  EXPECT_LT(testaudio::toneAmplitude(out, 0, 1000, 44100, 22050), 0.005);
}

INSTANTIATE_TEST_SUITE_P(Rates, Resampling, ::testing::Values(22050, 48000));

// Pan moves a stereo stream and volume scales it; a volume slide ramps to its end and signals
// that end once.
TEST_F(Engine, PanAndVolumeScaleTheStreamAndASlideRampsAndSignalsItsEndOnce) {
  const Audio in = testaudio::makeAudio(44100, 2, 44100, [](int64_t, int) { return 0.8f; });
  const HSTREAM h = BASS_StreamCreateFile(FALSE, song(in).c_str(), 0, 0, BASS_SAMPLE_FLOAT);
  ASSERT_TRUE(BASS_ChannelSetAttributes(h, -1, -1, -100));
  BASS_StreamPlay(h, FALSE, 0);
  Audio out = mix(100);
  EXPECT_EQ(out.at(50, 0), 0.8f);
  EXPECT_EQ(out.at(50, 1), 0.0f);
  ASSERT_TRUE(BASS_ChannelSetAttributes(h, -1, 50, 50));
  out = mix(100);
  EXPECT_FLOAT_EQ(out.at(50, 0), 0.2f);
  EXPECT_FLOAT_EQ(out.at(50, 1), 0.4f);
  EXPECT_FALSE(BASS_ChannelSetAttributes(h, -1, 101, 0));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);

  ASSERT_TRUE(BASS_ChannelSetAttributes(h, -1, 100, 0));
  gSyncs = 0;
  ASSERT_TRUE(BASS_ChannelSetSync(h, BASS_SYNC_SLIDE | BASS_SYNC_ONETIME, 0, &onSync,
                                  reinterpret_cast<void*>(intptr_t(7))));
  ASSERT_TRUE(BASS_ChannelSlideAttributes(h, -1, 0, -101, 100));  // 100 ms = 4410 frames
  EXPECT_EQ(BASS_ChannelIsSliding(h), 1u);
  out = mix(8820);
  EXPECT_NEAR(out.at(2205, 0), 0.4f, 0.001f);
  EXPECT_NEAR(out.at(4409, 1), 0.0f, 0.001f);
  EXPECT_EQ(out.at(6000, 0), 0.0f);
  EXPECT_EQ(BASS_ChannelIsSliding(h), 0u);
  EXPECT_EQ(gSyncs.load(), 1);
  EXPECT_EQ(gSyncUser.load(), 7);
  DWORD vol = 99;
  BASS_ChannelGetAttributes(h, nullptr, &vol, nullptr);
  EXPECT_EQ(vol, 0u);
  ASSERT_TRUE(BASS_ChannelSlideAttributes(h, -1, 100, -101, 10));
  mix(1000);
  EXPECT_EQ(gSyncs.load(), 1);  // the one-time sync is gone
}

TEST_F(Engine, ModuleLoadsLoopsAndFreesOnlyAsAModule) {
  testaudio::ModSong mod;
  mod.sample = testaudio::sineCycle(32, 100);
  mod.patterns = {{{0, 0, 428, 1, 0, 0}, {32, 1, 214, 1, 0, 0}}};
  mod.orders = {0};
  const auto path = dir / "song.mod";
  testaudio::writeModule(path, mod);
  EXPECT_EQ(BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_SAMPLE_FLOAT), 0u);
  const HMUSIC m = BASS_MusicLoad(FALSE, path.c_str(), 0, 0,
                                  BASS_SAMPLE_FLOAT | BASS_MUSIC_RAMP | BASS_SAMPLE_LOOP, 0);
  ASSERT_NE(m, 0u);
  const double seconds = BASS_ChannelBytes2Seconds(m, BASS_StreamGetLength(m));
  EXPECT_GT(seconds, 1.0);
  ASSERT_TRUE(BASS_StreamPlay(m, FALSE, 0));
  const Audio out = mix(int64_t(seconds * 44100) + 44100);
  EXPECT_GT(testaudio::rms(out, 0, out.frames() - 22050, 22050), 0.001);  // looped on
  EXPECT_EQ(BASS_ChannelIsActive(m), BASS_ACTIVE_PLAYING);
  EXPECT_FALSE(BASS_StreamFree(m));
  EXPECT_TRUE(BASS_MusicFree(m));
}

// Headers claiming what no song has (each once measured to overflow the engine's buffer sizes,
// ask it for gigabytes or take seconds to open) reach the caller as the decoders' format code.
TEST_F(Engine, FailuresReturnZeroAndLeaveTheirCode) {
  EXPECT_EQ(BASS_StreamCreateFile(FALSE, (dir / "missing.wav").c_str(), 0, 0, 0), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
  EXPECT_EQ(BASS_StreamCreateFile(FALSE, nullptr, 0, 0, 0), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
  for (const auto& [rate, channels] : std::initializer_list<std::pair<uint32_t, uint16_t>>{
           {2000000000, 2}, {8, 1024}, {1, 1}, {44100, 9}}) {
    const auto bytes = testaudio::craftedWav(rate, channels, 4096);
    testaudio::spit(dir / "crafted.wav", {bytes.begin(), bytes.end()});
    for (const DWORD flags : {0u, DWORD(BASS_STREAM_DECODE)}) {
      EXPECT_EQ(BASS_StreamCreateFile(FALSE, (dir / "crafted.wav").c_str(), 0, 0, flags), 0u);
      EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FORMAT) << rate << " Hz, " << channels;
    }
  }
  EXPECT_FALSE(BASS_StreamPlay(0, FALSE, 0));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  EXPECT_EQ(BASS_ChannelGetLevel(12345), 0xFFFFFFFFu);
  EXPECT_EQ(BASS_ChannelSetDSP(0, &mark, nullptr, 0), 0u);
  EXPECT_FALSE(BASS_FX_DSP_Set(0, kFxPeakingEq, 0));
  EXPECT_EQ(BASS_FX_ErrorGetCode(), BASS_ERROR_HANDLE);
  EXPECT_FALSE(BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
  BASS_Free();
  EXPECT_EQ(BASS_StreamCreate(44100, 2, BASS_SAMPLE_FLOAT, nullptr, nullptr), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
  ASSERT_TRUE(BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr));
}

// The song length the loader checks, at the tick count the player itself reports: tempo
// changes of every track count, and a song must end within the limit.
struct SongLengthCase {
  const char* name;
  int format;
  std::vector<testmidi::Bytes> tracks;  // at 480 ticks per quarter
  double seconds;
};

class SongLength : public ::testing::TestWithParam<SongLengthCase> {};

TEST_P(SongLength, AtTheFilesOwnTempi) {
  const SongLengthCase& c = GetParam();
  const testmidi::Bytes file = testmidi::buildSmf(c.format, 480, c.tracks);
  const auto song = audiolib::MidiSong::prepare(file, 44100, 0, 1.0);
  ASSERT_NE(song, nullptr);
  EXPECT_NEAR(audiolib::songSeconds(file, song->totalTicks()), c.seconds, 1e-6 * c.seconds);
  EXPECT_EQ(audiolib::songLengthAcceptable(file, song->totalTicks()),
            c.seconds <= audiolib::kMaxSongSeconds);
}

const SongLengthCase kSongLengths[] = {
    // 44 bytes once measured to render for ever: one delta of 0x0FFFFFFF ticks, 77 hours.
    {"OneLongDelta",
     0,
     {testmidi::TrackWriter().noteOn(0, 0, 60, 90).end(0x0FFFFFFF).bytes()},
     0x0FFFFFFF / 960.0},
    {"ThreeMinutes", 0, {testmidi::TrackWriter().noteOn(0, 0, 60, 90).end(480 * 360).bytes()}, 180},
    // The slowest tempo a file can set, from quarter 100 of 1000, in a track of its own.
    {"SlowestTempoInAnotherTrack",
     1,
     {testmidi::TrackWriter().noteOn(0, 0, 60, 90).end(480 * 1000).bytes(),
      testmidi::TrackWriter().tempo(480 * 100, 0xFFFFFF).end().bytes()},
     50 + 900 * 16.777215},
    {"FastAfterASlowStart",
     0,
     {testmidi::TrackWriter().tempo(0, 0xFFFFFF).tempo(480 * 10, 100000).end(480 * 99990).bytes()},
     10 * 16.777215 + 99990 * 0.1},
};

INSTANTIATE_TEST_SUITE_P(Midi, SongLength, ::testing::ValuesIn(kSongLengths),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Engine, DecodingStreamReadsThroughItsChain) {
  const Audio in =
      testaudio::makeAudio(44100, 2, 5000, [](int64_t, int c) { return c ? 0.5f : 0.25f; });
  const HSTREAM h = BASS_StreamCreateFile(FALSE, song(in, "s.wav").c_str(), 0, 0,
                                          BASS_STREAM_DECODE | BASS_STREAM_AUTOFREE);
  ASSERT_NE(h, 0u);
  EXPECT_FALSE(BASS_StreamPlay(h, FALSE, 0));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DECODE);
  std::vector<int16_t> buf(20000);
  DWORD total = 0;
  while (BASS_ChannelIsActive(h)) {
    const DWORD n = BASS_ChannelGetData(h, buf.data(), 20000);
    if (n == 0xFFFFFFFFu) break;
    if (total == 0) {
      EXPECT_EQ(buf[0], 8192);
      EXPECT_EQ(buf[1], 16384);
    }
    total += n;
  }
  EXPECT_EQ(total, 5000u * 4);
}

// Renders frame f, channel c as fn(f, c) in stereo, and ends after `total` frames.
class Rendered final : public audiolib::ChannelRenderer {
 public:
  Rendered(int64_t total, std::function<float(int64_t, int)> fn) : total_(total), fn_(fn) {}
  int64_t render(float* frames, int64_t count) override {
    const int64_t n = std::min(count, total_ - made_);
    for (int64_t i = 0; i < 2 * n; ++i) frames[i] = fn_(made_ + i / 2, int(i % 2));
    made_ += n;
    return n;
  }

 private:
  int64_t total_, made_ = 0;
  std::function<float(int64_t, int)> fn_;
};

// A sine of 441 Hz at +18 dBFS for the first `loud` frames, at exactly full scale after them.
float overThenFullScale(int64_t f, int64_t loud) {
  return float((f < loud ? 8 : 1) * std::sin(2 * std::numbers::pi * double(f % 100) / 100));
}

// The limiter at the end of the mix: what goes over full scale comes out at the ceiling, at
// once, both channels by the same gain; the gain recovers over tens of milliseconds, and from
// then on a signal within full scale (its peaks at exactly 1.0) comes out as it went in.
TEST_F(Engine, OutputLimiterHoldsTheCeilingAndReleasesToUnity) {
  constexpr int64_t kLoud = 22050, kTail = 44100;
  constexpr float kCeiling = 0.98f;
  // The right channel at half the left's level.
  const HSTREAM h = BASS_StreamCreateRendered(
      std::make_unique<Rendered>(
          INT64_MAX,
          [](int64_t f, int c) { return overThenFullScale(f, kLoud) / (c ? 2.0f : 1.0f); }),
      0);
  ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
  const Audio out = mix(kLoud + kTail);
  float loudPeak = 0;
  for (int64_t f = 0; f < kLoud; ++f) {
    ASSERT_LE(std::fabs(out.at(f, 0)), kCeiling) << f;
    ASSERT_EQ(2 * out.at(f, 1), out.at(f, 0)) << f;
    if (f > kLoud / 2) loudPeak = std::max(loudPeak, std::fabs(out.at(f, 0)));
  }
  EXPECT_GT(loudPeak, 0.95f);
  // The gain at each full-scale peak of the tail (frames 25 and 75 of each period) rises
  // steadily, from under half for the first 10 ms.
  double last = 0;
  for (int64_t f = kLoud + 25; f < kLoud + kTail; f += 50) {
    const double gain = std::fabs(out.at(f, 0));
    ASSERT_GE(gain, last) << f - kLoud;
    if (f - kLoud < 441) {
      EXPECT_LT(gain, 0.5) << f - kLoud;
    }
    last = gain;
  }
  for (int64_t f = kLoud + kTail * 6 / 10; f < kLoud + kTail; ++f)
    ASSERT_EQ(out.at(f, 0), overThenFullScale(f, kLoud)) << f - kLoud;
}

TEST_F(Engine, RenderedStreamMixesThroughItsChainAndEnds) {
  const HSTREAM h = BASS_StreamCreateRendered(
      std::make_unique<Rendered>(5000, [](int64_t f, int) { return float(f) / 65536; }), 0);
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(BASS_FX_DSP_Set(h, kFxChannelGain, 0));
  const FxChannelGain half{0.5f, 0.25f};
  BASS_FX_DSP_SetParameters(h, kFxChannelGain, &half);
  ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
  const Audio out = mix(6000);
  EXPECT_EQ(out.at(4999, 0), 0.5f * 4999 / 65536);
  EXPECT_EQ(out.at(4999, 1), 0.25f * 4999 / 65536);
  EXPECT_EQ(out.at(5000, 0), 0.0f);
  EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
  EXPECT_EQ(BASS_ChannelGetPosition(h), QWORD(5000) * 8);
}

// Frames numbered in order: frame f holds f on every channel.
class Counting final : public audiolib::Decoder {
 public:
  explicit Counting(int64_t length) : length_(length) {}
  int sampleRate() const override { return 44100; }
  int channels() const override { return 2; }
  int64_t lengthFrames() const override { return length_; }
  uint32_t channelType() const override { return BASS_CTYPE_STREAM_MP3; }
  int64_t read(float* out, int64_t frames) override {
    const int64_t n = std::min(frames, length_ - at_);
    for (int64_t i = 0; i < n; ++i) out[2 * i] = out[2 * i + 1] = float(at_ + i);
    at_ += n;
    return n;
  }
  bool seek(int64_t frame) override {
    if (frame > length_) return false;
    at_ = frame;
    return true;
  }

 private:
  int64_t length_, at_ = 0;
};

TEST(Prefetch, ReadsWhatTheDecoderGivesInOrderAcrossSeeks) {
  audiolib::PrefetchDecoder d(std::make_unique<Counting>(300000));
  std::vector<float> buf(2 * 5000);
  int64_t expect = 0;
  for (int64_t want : {1, 7, 4096, 5000, 3, 4999}) {
    ASSERT_EQ(d.read(buf.data(), want), want);
    for (int64_t i = 0; i < want; ++i) ASSERT_EQ(buf[size_t(2 * i + 1)], float(expect + i));
    expect += want;
  }
  ASSERT_TRUE(d.seek(299000));
  int64_t total = 0, got;
  while ((got = d.read(buf.data(), 333)) > 0) {
    ASSERT_EQ(buf[0], float(299000 + total));
    total += got;
  }
  EXPECT_EQ(total, 1000);
  EXPECT_FALSE(d.seek(300001));
}

// A sound server that takes the connection and never answers: opening the capture device
// gives up with the reason instead of waiting for ever.
TEST(Capture, SilentServerFailsTheOpenWithAReason) {
  TempDir dir;
  const std::string socketPath = (dir / "native").string();
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.size(), sizeof addr.sun_path);
  std::strcpy(addr.sun_path, socketPath.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 4), 0);  // connections complete in the backlog; nothing is said
  const char* old = std::getenv("PULSE_SERVER");
  const std::string saved = old ? old : "";
  ::setenv("PULSE_SERVER", ("unix:" + socketPath).c_str(), 1);
  std::string why;
  auto capture = audiolib::CaptureDevice::open(audiolib::kDefaultSource, {}, &why);
  if (old)
    ::setenv("PULSE_SERVER", saved.c_str(), 1);
  else
    ::unsetenv("PULSE_SERVER");
  ::close(fd);
  EXPECT_EQ(capture, nullptr);
  EXPECT_EQ(why, "the sound server did not answer within 5 s");
}

}  // namespace
