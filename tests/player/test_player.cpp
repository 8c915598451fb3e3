// The player's procedures on the render-on-demand device: the vocal remover's frame rule and
// switches, the effect records that reach the engine (read back through its getters), the
// balance, and the song's two streams.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <tuple>
#include <vector>

#include "AudioPlayer.h"
#include "ControlPanel.h"
#include "ModuleWriter.h"
#include "TestAudio.h"
#include "bass.h"
#include "modDSPtest.h"

using player::Ctl;
using testaudio::Audio;

namespace {

struct Message {
  int style;
  std::string title;
  std::string text;
};

class RecordingMessages final : public player::MessageSink {
 public:
  int show(int style, const std::string& title, const std::string& text) override {
    shown.push_back({style, title, text});
    return 1;
  }
  std::vector<Message> shown;
};

// The float rule on whole songs: Player.NeutralRemoverLeavesHalfTheSideSignal.
TEST(Remover, EmptyBlockAndSixteenBitBlocks) {
  BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
  float untouched = 0.75f;
  VocalRemoverProc(1, 0, &untouched, 0, nullptr);
  EXPECT_EQ(untouched, 0.75f);

  std::array<int16_t, 8> s16 = {1000, 1000, 16000, -16000, 0, 32767, -32768, 32767};
  player::removeCentre(s16.data(), 4);
  EXPECT_EQ(s16, (std::array<int16_t, 8>{0, 0, -16000, -16000, 16384, 16384, 32767, 32767}));
}

class Player : public ::testing::Test {
 protected:
  void SetUp() override {
    BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
    ASSERT_TRUE(BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr));
    panel.setPlayer(&p);
  }
  void TearDown() override { BASS_Free(); }

  std::string writeSong(const Audio& a, const std::string& name = "song.wav") {
    testaudio::writeWav(dir / name, a, testaudio::Format::F32);
    return (dir / name).string();
  }
  std::string stereoSong(int64_t frames = 44100) {
    return writeSong(testaudio::makeAudio(44100, 2, frames, [](int64_t f, int c) {
      return testaudio::sine(c ? 660 : 440, 0.3, f, 44100) + testaudio::sine(220, 0.3, f, 44100);
    }));
  }
  static Audio mix(int64_t frames) {
    Audio a{44100, 2, std::vector<float>(size_t(frames * 2))};
    BASS_MixGetData(a.samples.data(), DWORD(frames * 8));
    return a;
  }
  FxCompressor compr() {
    FxCompressor r{};
    EXPECT_TRUE(BASS_FX_DSP_GetParameters(p.mainStream, kFxCompressor, &r));
    return r;
  }
  FxChannelGain boost() {
    FxChannelGain r{-1, -1};
    EXPECT_TRUE(BASS_FX_DSP_GetParameters(p.boostStream, kFxChannelGain, &r));
    return r;
  }
  EqBand band(HSTREAM stream, int index) {
    EqBand r{};
    r.band = index;
    EXPECT_TRUE(BASS_FX_DSP_GetParameters(stream, kFxPeakingEq, &r)) << "band " << index;
    return r;
  }
  bool attached(HSTREAM stream, int type) {
    std::array<unsigned char, 64> record{};
    return BASS_FX_DSP_GetParameters(stream, type, record.data());
  }
  void switchRemover(bool on) { panel.click(Ctl::Chkrem, on); }

  testaudio::TempDir dir;
  player::ControlPanel panel;
  RecordingMessages messages;
  player::AudioPlayer p{panel, messages};
};

// A song plays with the bass boost attached at the slider's level; the remover switched on
// sets its effects, switched off it restores the sliders and detaches them again.
TEST_F(Player, PlayAttachesBassBoostRemoverOnSetsItsEffectsAndOffRestoresTheSliders) {
  ASSERT_TRUE(p.playSong(stereoSong()));
  EXPECT_EQ(BASS_ChannelIsActive(p.mainStream), BASS_ACTIVE_PLAYING);
  EXPECT_FALSE(panel.enabled(Ctl::Slider3));
  EXPECT_EQ(boost().left, 0.0f);  // "BassBooster" at 10: the second stream is silent
  EXPECT_FALSE(attached(p.mainStream, kFxCompressor));

  switchRemover(true);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_NE(p.removerDsp, 0u);
  EXPECT_EQ(std::tuple(panel.value(Ctl::vcompr), panel.value(Ctl::Slider3)), std::tuple(8, 8));
  EXPECT_TRUE(panel.enabled(Ctl::Slider3));
  const FxCompressor c = compr();
  EXPECT_EQ(std::tie(c.threshold, c.gain, c.release), std::tuple(10.0f, 2.0f, 1000.0f));
  EXPECT_FLOAT_EQ(boost().left, 0.2f);
  EXPECT_FLOAT_EQ(boost().right, 0.2f);
  const std::array<float, 8> mainGains = {10, 6, 6, 0, 0, 0, 0, 7};
  const std::array<float, 8> peakGains = {10, 10, 1, -9, -9, -9, -9, -9};
  for (int b = 0; b < 8; ++b) {
    const EqBand m = band(p.mainStream, b), s = band(p.boostStream, b);
    EXPECT_EQ(std::tie(m.center, m.gain, m.bandwidth, m.q, m.sampleRate),
              std::tuple(player::kMainBands[size_t(b)], mainGains[size_t(b)], 2.5f, 0.0f, 44100u));
    EXPECT_EQ(std::tie(s.center, s.gain),
              std::tuple(player::kPeakingBands[size_t(b)], peakGains[size_t(b)]));
  }

  switchRemover(false);
  EXPECT_EQ(
      std::tuple(panel.value(Ctl::Chkrem), panel.value(Ctl::vcompr), panel.value(Ctl::Slider3)),
      std::tuple(0, 10, 10));
  EXPECT_FALSE(panel.enabled(Ctl::Slider3));
  EXPECT_EQ(boost().left, 0.0f);
  EXPECT_FALSE(attached(p.mainStream, kFxCompressor));
  EXPECT_FALSE(attached(p.mainStream, kFxPeakingEq));
  EXPECT_FALSE(attached(p.boostStream, kFxPeakingEq));
  EXPECT_TRUE(attached(p.boostStream, kFxChannelGain));
  EXPECT_FALSE(BASS_ChannelRemoveDSP(p.mainStream, p.removerDsp));  // already gone
}

// The compressor switched on by its own box goes with the remover's reset; unchecked while
// the remover is on, it goes until the remover is switched on again.
TEST_F(Player, ComprBoxAndRemoverShareTheCompressor) {
  ASSERT_TRUE(p.playSong(stereoSong()));
  panel.click(Ctl::Chkcmp, true);
  ASSERT_TRUE(attached(p.mainStream, kFxCompressor));
  p.default_();
  EXPECT_FALSE(attached(p.mainStream, kFxCompressor));
  EXPECT_EQ(panel.value(Ctl::Chkcmp), 1);  // the box keeps its state
  switchRemover(true);
  panel.click(Ctl::Chkcmp, false);
  EXPECT_FALSE(attached(p.mainStream, kFxCompressor));
  switchRemover(true);
  EXPECT_TRUE(attached(p.mainStream, kFxCompressor));
}

TEST_F(Player, MonoSongIsRefusedWhateverTheClick) {
  ASSERT_TRUE(p.playSong(writeSong(testaudio::makeAudio(
      44100, 1, 44100, [](int64_t f, int) { return testaudio::sine(440, 0.5, f, 44100); }))));
  for (bool on : {true, false, true}) {
    messages.shown.clear();
    switchRemover(on);
    ASSERT_EQ(messages.shown.size(), 1u);
    const Message& m = messages.shown[0];
    EXPECT_EQ(std::tie(m.style, m.title, m.text), std::tuple(16, "OrivelRemover", "Only Stereo "));
    EXPECT_EQ(panel.value(Ctl::Chkrem), on ? 1 : 0);
    EXPECT_FALSE(attached(p.mainStream, kFxCompressor));
    EXPECT_EQ(panel.value(Ctl::vcompr), 10);
  }
}

// Without a song the remover moves the sliders only and the peaking equaliser attaches nothing;
// both take effect with the next song, the equaliser at the position moved meanwhile.
TEST_F(Player, BoxesWithoutASongTakeEffectWithTheNext) {
  switchRemover(true);
  panel.click(Ctl::chkEqualizer, true);
  panel.setValue(Ctl::Veq1, 5, 0);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(std::tuple(panel.value(Ctl::vcompr), panel.value(Ctl::Slider3)), std::tuple(8, 8));
  EXPECT_EQ(p.removerDsp, 0u);
  ASSERT_TRUE(p.playSong(stereoSong()));
  EXPECT_NE(p.removerDsp, 0u);
  EXPECT_TRUE(attached(p.mainStream, kFxCompressor));
  panel.click(Ctl::chkEqualizer, true);
  EXPECT_EQ(band(p.boostStream, 0).gain, 5.0f);
}

// Each slider position sets its record: the band gains (from a position moved away first,
// so that the move itself sets it), the bass path's level and the compressor's gain.
TEST_F(Player, SliderPositionsSetTheBandGainsAndTheBassPathLevel) {
  ASSERT_TRUE(p.playSong(stereoSong()));
  switchRemover(true);
  for (const auto& [position, gain] : {std::pair{10, 0.0f}, {0, 10.0f}, {19, -9.0f}}) {
    panel.setValue(Ctl::vseq, position == 10 ? 11 : 10, 3);
    panel.setValue(Ctl::vseq, position, 3);
    const EqBand b = band(p.mainStream, 3);
    EXPECT_EQ(b.gain, gain) << position;
    EXPECT_EQ(b.center, 1500.0f);
    panel.setValue(Ctl::Veq1, position, 2);
    EXPECT_EQ(band(p.boostStream, 2).gain, gain) << position;
  }
  for (const auto& [position, level] : {std::pair{0, 1.0f}, {10, 0.0f}, {8, 0.2f}}) {
    panel.setValue(Ctl::Slider3, position);
    EXPECT_FLOAT_EQ(boost().left, level) << position;
    EXPECT_FLOAT_EQ(boost().right, level) << position;
    panel.setValue(Ctl::vcompr, position);
    EXPECT_EQ(compr().gain, float(10 - position)) << position;
  }
}

TEST_F(Player, BassBoostBoxReattachesAndDetaches) {
  ASSERT_TRUE(p.playSong(stereoSong()));
  panel.setValue(Ctl::Slider3, 5);
  panel.click(Ctl::Chklow, true);
  EXPECT_FLOAT_EQ(boost().left, 0.5f);
  panel.click(Ctl::Chklow, false);
  EXPECT_FALSE(attached(p.boostStream, kFxChannelGain));
  panel.click(Ctl::chkEqualizer, true);
  EXPECT_EQ(band(p.boostStream, 7).center, 8000.0f);
  panel.click(Ctl::chkEqualizer, false);
  EXPECT_FALSE(attached(p.boostStream, kFxPeakingEq));
}

TEST_F(Player, FileThatIsNeitherStreamNorModuleShowsTheLoadError) {
  const auto garbage = dir / "noise.wav";
  testaudio::run("head -c 5000 /dev/urandom > '" + garbage.string() + "'");
  EXPECT_FALSE(p.playSong(garbage.string()));
  ASSERT_EQ(messages.shown.size(), 1u);
  const Message& m = messages.shown[0];
  EXPECT_EQ(std::tie(m.style, m.title), std::tuple(48, "Error"));
  EXPECT_EQ(m.text.rfind("Selected file couldn't be loaded!\n\nBASS Error Code: ", 0), 0u);
  EXPECT_NE(m.text.find("\nBASS_FX Error Code: "), std::string::npos);
  EXPECT_EQ(p.mainStream, 0u);
}

TEST_F(Player, ModuleSongPlaysAsTheMainStreamAlone) {
  testaudio::ModSong mod;
  mod.sample = testaudio::sineCycle(32, 100);
  mod.patterns = {{{0, 0, 428, 1, 0, 0}}};
  mod.orders = {0};
  testaudio::writeModule(dir / "tune.mod", mod);
  ASSERT_TRUE(p.playSong((dir / "tune.mod").string()));
  EXPECT_EQ(p.boostStream, 0u);
  BASS_CHANNELINFO info{};
  ASSERT_TRUE(BASS_ChannelGetInfo(p.mainStream, &info));
  EXPECT_EQ(info.ctype, BASS_CTYPE_MUSIC);
  p.freeStreams();
  EXPECT_EQ(BASS_ChannelIsActive(p.mainStream), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

// With the bass path's effect detached the second stream plays at full level: the mix is
// exactly twice the song, so the two streams are in step to the frame.
TEST_F(Player, SecondStreamAddsTheSongInStep) {
  const Audio in = testaudio::makeAudio(44100, 2, 30000, [](int64_t f, int c) {
    return testaudio::sine(c ? 300 : 5000, 0.2, f, 44100);
  });
  ASSERT_TRUE(p.playSong(writeSong(in)));
  BASS_FX_DSP_Remove(p.boostStream, kFxChannelGain);
  const Audio out = mix(30000);
  for (int64_t i = 0; i < 60000; ++i) ASSERT_EQ(out.samples[size_t(i)], 2 * in.samples[size_t(i)]);
}

// The remover with every accompanying setting neutral leaves exactly the side signal.
TEST_F(Player, NeutralRemoverLeavesHalfTheSideSignal) {
  const Audio in = testaudio::makeAudio(44100, 2, 30000, [](int64_t f, int c) {
    return testaudio::sine(440, 0.4, f, 44100) + (c ? testaudio::sine(3000, 0.3, f, 44100) : 0);
  });
  panel.setValue(Ctl::Chkrem, 1);
  ASSERT_TRUE(p.playSong(writeSong(in)));
  for (int b = 0; b < 8; ++b) panel.setValue(Ctl::vseq, 10, b);
  panel.setValue(Ctl::Slider3, 10);
  panel.setValue(Ctl::vcompr, 10);
  const Audio out = mix(30000);
  for (int64_t f = 0; f < 30000; ++f) {
    const float side = float((double(in.at(f, 1)) - in.at(f, 0)) / 2);
    ASSERT_EQ(out.at(f, 0), side) << f;
    ASSERT_EQ(out.at(f, 1), side) << f;
  }
}

TEST(ErrorBox, TextCarriesBothCodes) {
  BASS_StreamCreate(44100, 2, 0, nullptr, nullptr);  // before init: code 8
  const std::string fx = std::to_string(BASS_FX_ErrorGetCode());
  EXPECT_EQ(player::errorText("Couldn't Initialize Digital Output"),
            "Couldn't Initialize Digital Output\n\nBASS Error Code: 8\nBASS_FX Error Code: " + fx);
}

}  // namespace
