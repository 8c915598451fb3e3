// orivelR-cli render with a song's key and tempo, its guide voice and one loudness for every
// song: pitch and length of what it writes measured on the file, the remover and the bass
// path shifted as one song, and the loudness of songs at different levels by ffmpeg.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <regex>

#include "SmfWriter.h"
#include "TestAudio.h"

using testaudio::Audio;
using testaudio::q;
using testaudio::TempDir;

namespace {

const std::string kCli = ORIVELR_CLI;
constexpr int kRate = 44100;

Audio render(const std::filesystem::path& song, const std::filesystem::path& out,
             const std::string& options) {
  EXPECT_EQ(testaudio::run(kCli + " render " + q(song) + " " + q(out) + " --format f32 " + options),
            0)
      << options;
  return testaudio::readAudio(out);
}

// A float stereo song at kRate whose sample of channel c at frame f is fn(f, c).
void writeSong(const std::filesystem::path& path, int64_t frames,
               const std::function<float(int64_t, int)>& fn) {
  testaudio::writeWav(path, testaudio::makeAudio(kRate, 2, frames, fn), testaudio::Format::F32);
}

float sine(double hz, double amplitude, int64_t f) {
  return testaudio::sine(hz, amplitude, f, kRate);
}

// The remover with every accompanying setting neutral, at the song's own level.
const std::string kRemover =
    " --loudness off --remover --vseq 10,10,10,10,10,10,10,10 --vcompr 10 --slider3 10";

// The frequency of a steady tone: rising zero crossings counted over the stretch, with the
// first and last placed between samples.
double toneHz(const Audio& a, int64_t from, int64_t count) {
  double first = -1, last = -1;
  int crossings = 0;
  for (int64_t f = from + 1; f < from + count; ++f) {
    const float x0 = a.at(f - 1, 0), x1 = a.at(f, 0);
    if (x0 < 0 && x1 >= 0) {
      const double at = double(f - 1) + double(-x0 / (x1 - x0));
      if (first < 0) first = at;
      last = at;
      ++crossings;
    }
  }
  return crossings > 1 ? (crossings - 1) * double(a.rate) / (last - first) : 0;
}

double cents(double hz, double reference) {
  return 1200 * std::log2(hz / reference);
}

struct KeyTempo {
  int key;
  int tempo;
};

class RenderKeyTempo : public testing::TestWithParam<KeyTempo> {};

// A tone comes out N semitones higher and the song lasts 100 / P of its length; with the
// remover on, a centred voice stays cancelled against a side tone; with the bass path at full
// level beside the remover-free song, the two streams shifted as one sum to twice the song
// (shifted apart they would comb).
TEST_P(RenderKeyTempo, PitchLengthRemoverAndBassPathFollowTheSong) {
  const auto [key, tempo] = GetParam();
  const std::string moves =
      " --loudness off --key " + std::to_string(key) + " --tempo " + std::to_string(tempo);
  const double shift = std::pow(2.0, key / 12.0);
  TempDir dir;
  const int64_t frames = 4 * kRate;
  writeSong(dir / "tone.wav", frames, [](int64_t f, int) { return sine(440, 0.3, f); });
  const Audio tone = render(dir / "tone.wav", dir / "tone-out.wav", moves);
  EXPECT_NEAR(double(tone.frames()), double(frames) * 100 / tempo, 4.0);
  const int64_t middle = tone.frames() / 4;
  EXPECT_NEAR(cents(toneHz(tone, middle, tone.frames() / 2), 440 * shift), 0.0, 5.0);

  // A centre voice at 440 Hz, a 1000 Hz tone on the left.
  writeSong(dir / "song.wav", frames,
            [](int64_t f, int c) { return sine(440, 0.2, f) + (c ? 0.0f : sine(1000, 0.2, f)); });
  const Audio removed = render(dir / "song.wav", dir / "removed.wav", kRemover + moves);
  const double side = testaudio::toneAmplitude(removed, 0, 1000 * shift, middle, kRate);
  const double centre = testaudio::toneAmplitude(removed, 0, 440 * shift, middle, kRate);
  EXPECT_NEAR(side, 0.1, 0.015);
  EXPECT_LT(20 * std::log10(centre / side), -30.0);

  const Audio single = render(dir / "song.wav", dir / "single.wav", moves);
  const Audio doubled = render(dir / "song.wav", dir / "doubled.wav", moves + " --slider3 0");
  for (const double hz : {440.0, 1000.0}) {
    const double one = testaudio::toneAmplitude(single, 0, hz * shift, middle, kRate);
    EXPECT_NEAR(testaudio::toneAmplitude(doubled, 0, hz * shift, middle, kRate) / one, 2.0, 0.04)
        << hz << " Hz";
  }
}

INSTANTIATE_TEST_SUITE_P(Moves, RenderKeyTempo,
                         testing::Values(KeyTempo{2, 100}, KeyTempo{-3, 100}, KeyTempo{0, 90},
                                         KeyTempo{2, 90}, KeyTempo{-6, 150}, KeyTempo{6, 50}),
                         [](const auto& info) {
                           return "Key" + std::string(info.param.key < 0 ? "Minus" : "") +
                                  std::to_string(std::abs(info.param.key)) + "Tempo" +
                                  std::to_string(info.param.tempo);
                         });

// The guide voice crossfades from what the remover leaves (0 %) to the song as it was (100 %).
// The remover's side signal carries a left-only part inverted, so half way it meets its own
// original half and the left tone dips to a quarter.
TEST(RenderVoice, GuideVoiceCrossfadesFromTheRemoverToTheSong) {
  TempDir dir;
  writeSong(dir / "song.wav", 2 * kRate,
            [](int64_t f, int c) { return sine(440, 0.4, f) + (c ? 0.0f : sine(1000, 0.2, f)); });
  for (const int voice : {0, 50, 100}) {
    const Audio a =
        render(dir / "song.wav", dir / "out.wav", kRemover + " --voice " + std::to_string(voice));
    const double v = voice / 100.0;
    for (int c = 0; c < 2; ++c) {
      EXPECT_NEAR(testaudio::toneAmplitude(a, c, 440, kRate / 2, kRate), 0.4 * v, 0.005) << voice;
      const double side = -0.1 * (1 - v) + (c ? 0.0 : 0.2 * v);
      EXPECT_NEAR(testaudio::toneAmplitude(a, c, 1000, kRate / 2, kRate), std::fabs(side), 0.005)
          << voice << " channel " << c;
    }
  }
}

// Centre extraction takes the centred voice and keeps the band in stereo: a part on one side
// stays there at its level, the bass below the low cut stays, and the file is aligned with the
// song (a click on the left at each second lands on its frame) and as long as it.
TEST(RenderCentre, CentreExtractionKeepsTheBandInStereoAndTheSongInPlace) {
  TempDir dir;
  const int64_t frames = 4 * kRate;
  writeSong(dir / "song.wav", frames, [](int64_t f, int c) {
    const float click = (c == 0 && f >= kRate && f % kRate < 8) ? 0.5f : 0.0f;
    return sine(440, 0.25, f) + sine(70, 0.2, f) + sine(c ? 1500 : 1000, 0.15, f) + click;
  });
  const Audio a =
      render(dir / "song.wav", dir / "centre.wav", kRemover + " --remover-method centre");
  ASSERT_EQ(a.frames(), frames);
  const int64_t from = kRate + kRate / 4, n = kRate / 2;
  // The change in dB of a part on channel c.
  const auto db = [&](int c, double hz, double was) {
    return 20 * std::log10(testaudio::toneAmplitude(a, c, hz, from, n) / was);
  };
  EXPECT_LT(std::max(db(0, 440, 0.25), db(1, 440, 0.25)), -40.0);
  EXPECT_NEAR(db(0, 1000, 0.15), 0.0, 1.0);
  EXPECT_NEAR(db(1, 1500, 0.15), 0.0, 1.0);
  EXPECT_LT(testaudio::toneAmplitude(a, 1, 1000, from, n), 0.01);  // the left part stays left
  EXPECT_NEAR(db(0, 70, 0.2), 0.0, 1.0);
  for (int64_t second = 1; second < 4; ++second) {
    int64_t onset = second * kRate - 100;
    while (onset < second * kRate + 100 && std::fabs(a.at(onset, 0)) < 0.45f) ++onset;
    EXPECT_NEAR(double(onset), double(second * kRate), 2.0) << "click " << second;
  }
  // The side signal is what it always was: the centre, bass included, gone and one signal.
  const Audio side = render(dir / "song.wav", dir / "side.wav", kRemover);
  EXPECT_LT(testaudio::toneAmplitude(side, 0, 70, from, n), 0.001);
  EXPECT_NEAR(testaudio::toneAmplitude(side, 1, 1000, from, n), 0.075, 0.003);
}

// The integrated loudness ffmpeg's ebur128 filter measures.
double lufs(const std::filesystem::path& file) {
  std::string out;
  testaudio::run("ffmpeg -nostats -hide_banner -i " + q(file) + " -af ebur128 -f null - 2>&1",
                 &out);
  std::smatch m;
  const std::string summary =
      out.substr(out.rfind("Summary:") == std::string::npos ? 0 : out.rfind("Summary:"));
  if (!std::regex_search(summary, m, std::regex(R"(I:\s+(-?[0-9.]+) LUFS)"))) return NAN;
  return std::stod(m[1]);
}

// A loud and a quiet audio song and a MIDI song come out at the same loudness, near the
// target, with the option on; with it off, each keeps its own.
TEST(RenderLoudness, SongsAtDifferentLevelsComeOutAtOneLoudness) {
  TempDir dir;
  uint32_t seed = 7;
  auto song = [&](double level) {
    return testaudio::makeAudio(kRate, 2, 10 * kRate, [&](int64_t f, int c) {
      seed = seed * 1664525u + 1013904223u;
      const float noise = float(int32_t(seed >> 8) - (1 << 23)) / float(1 << 23);
      return float(level) * (0.3f * noise + testaudio::sine(c ? 330 : 220, 0.5, f, kRate));
    });
  };
  testaudio::writeWav(dir / "loud.wav", song(0.95), testaudio::Format::F32);
  testaudio::writeWav(dir / "quiet.wav", song(0.03), testaudio::Format::F32);
  // Eight bars of chords on a piano and strings, loud.
  testmidi::TickTrack t;
  t.program(0, 0, 0).program(0, 1, 48);
  for (uint32_t bar = 0; bar < 16; ++bar)
    for (int n : {48, 55, 60, 64, 67}) t.note(bar * 480, 470, n < 60 ? 1 : 0, n, 120);
  testmidi::writeFile(dir / "song.mid", testmidi::buildSmf(0, 480, {t.bytes()}));

  std::vector<double> levels;
  for (const char* name : {"loud.wav", "quiet.wav", "song.mid"}) {
    const auto out = dir / (std::string(name) + ".out.wav");
    ASSERT_EQ(testaudio::run(kCli + " render " + q(dir / name) + " " + q(out)), 0) << name;
    levels.push_back(lufs(out));
    EXPECT_NEAR(levels.back(), -16.0, 1.0) << name;
  }
  const auto [low, high] = std::minmax_element(levels.begin(), levels.end());
  EXPECT_LT(*high - *low, 2.0);
  ASSERT_EQ(testaudio::run(kCli + " render " + q(dir / "quiet.wav") + " " + q(dir / "off.wav") +
                           " --loudness off"),
            0);
  EXPECT_NEAR(lufs(dir / "off.wav"), lufs(dir / "quiet.wav"), 0.5);
}

}  // namespace
