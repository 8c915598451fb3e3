// orivelR-cli render of MIDI songs, run as a program: tempo, key, mute and level measured in
// what it writes, and the lyric table's times against the notes heard.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "SmfWriter.h"
#include "TestAudio.h"

using testaudio::Audio;

namespace {

const std::string kCli = ORIVELR_CLI;
using testaudio::q;

// Four short notes of A4 a quarter apart at 120 bpm (480 ticks a quarter), each with its
// lyric syllable, the lyrics sharing the notes' track.
std::filesystem::path karaokeSong(const testaudio::TempDir& dir) {
  testmidi::TrackWriter conductor;
  conductor.tempo(0, 500000).end();
  testmidi::TrackWriter t;
  t.program(0, 0, 80);  // a square lead: sharp onsets
  const char* words[] = {"\\Can", "ta", "re ", "/oh"};
  for (int i = 0; i < 4; ++i) {
    t.text(i == 0 ? 480 : 0, 0x01, words[i]);
    t.noteOn(0, 0, 69, 110);
    t.channel(120, 0x80, {69, 0});
    if (i < 3) t.channel(360, 0x80, {69, 0});  // rests to the next quarter
  }
  t.end(480);
  const auto path = dir / "song.kar";
  testmidi::writeFile(path, testmidi::buildSmf(1, 480, {conductor.bytes(), t.bytes()}));
  return path;
}

// Frames where the sound starts after a silence of at least 40 ms.
std::vector<int64_t> onsets(const Audio& a) {
  std::vector<int64_t> found;
  int64_t quiet = 1 << 20;
  for (int64_t f = 0; f < a.frames(); ++f) {
    if (std::fabs(a.at(f, 0)) > 0.01f) {
      if (quiet > a.rate / 25) found.push_back(f);
      quiet = 0;
    } else {
      ++quiet;
    }
  }
  return found;
}

Audio render(const testaudio::TempDir& dir, const std::filesystem::path& song,
             const std::string& options) {
  const auto out = dir / "out.wav";
  EXPECT_EQ(testaudio::run(kCli + " render " + q(song) + " " + q(out) + " " + options), 0);
  return testaudio::readAudio(out);
}

// The lyric table's times, from the lyrics command.
std::vector<double> lyricTimes(const std::filesystem::path& song) {
  std::string out;
  EXPECT_EQ(testaudio::run(kCli + " lyrics " + q(song), &out), 0);
  std::vector<double> times;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    int index;
    double time;
    if (std::sscanf(line.c_str(), "%d\t%lf", &index, &time) == 2) times.push_back(time);
  }
  return times;
}

class MidiTempo : public ::testing::TestWithParam<std::pair<int, double>> {};

// The slider's factor, CInt(v * 30 / 127) * 2 / 30, stretches the song; the syllables are
// lit where their notes are heard.
TEST_P(MidiTempo, NotesFollowTheTempoAndTheLyricsFollowTheNotes) {
  testaudio::TempDir dir;
  const auto song = karaokeSong(dir);
  const auto [slider, factor] = GetParam();
  const Audio out = render(dir, song, "--tempo " + std::to_string(slider));
  const auto found = onsets(out);
  ASSERT_EQ(found.size(), 4u);
  const double quarter = 0.5 / factor * 44100;
  for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(double(found[i]), (i + 1) * quarter, 0.01 * 44100);
  // The table gives, at each event, when the syllable after it starts (at the file's tempo);
  // the window lights it when the song's position reaches that tick, so at any tempo it is
  // heard with its note.
  const auto times = lyricTimes(song);
  std::vector<double> syllableStarts;  // of the four text events, in ms at the file's tempo
  for (size_t i = 0; i + 1 < times.size(); ++i)
    if (times[i] > 0 && (syllableStarts.empty() || times[i] > syllableStarts.back()))
      syllableStarts.push_back(times[i]);
  ASSERT_GE(syllableStarts.size(), 4u);
  for (size_t i = 0; i < 4; ++i)
    EXPECT_NEAR(syllableStarts[i] / factor, found[i] * 1000.0 / 44100, 30.0) << "syllable " << i;
}

INSTANTIATE_TEST_SUITE_P(Sliders, MidiTempo,
                         ::testing::Values(std::pair{32, 8.0 * 2 / 30}, std::pair{64, 1.0},
                                           std::pair{127, 2.0}));

// Transpose moves the pitch, mute silences, and the level slider scales by its decibels:
// (100 - V) * 42 - 3000 hundredths of a decibel, so 50 steps are 21 dB.
TEST(MidiRender, TransposeMuteAndLevelShapeWhatIsWritten) {
  testaudio::TempDir dir;
  const auto song = karaokeSong(dir);
  const Audio plain = render(dir, song, "--seconds 1");
  const Audio up = render(dir, song, "--seconds 1 --transpose 2");
  const double a4 = 440, b4 = 440 * std::pow(2.0, 2.0 / 12);
  EXPECT_GT(testaudio::toneAmplitude(plain, 0, a4, 22050, 8820),
            5 * testaudio::toneAmplitude(plain, 0, b4, 22050, 8820));
  EXPECT_GT(testaudio::toneAmplitude(up, 0, b4, 22050, 8820),
            5 * testaudio::toneAmplitude(up, 0, a4, 22050, 8820));
  const Audio muted = render(dir, song, "--seconds 1 --mute 1");
  EXPECT_LT(testaudio::rms(muted, 0, 0, muted.frames()), 1e-4);
  const Audio loud = render(dir, song, "--seconds 1 --level 25 --format f32");
  const Audio soft = render(dir, song, "--seconds 1 --level 75 --format f32");
  const double ratio =
      testaudio::rms(loud, 0, 22050, 11025) / testaudio::rms(soft, 0, 22050, 11025);
  EXPECT_NEAR(20 * std::log10(ratio), 21.0, 0.5);
}

TEST(MidiRender, BadSongsAndOptionsAreRefused) {
  testaudio::TempDir dir;
  testaudio::run("printf 'MThd\\0\\0\\0\\6\\0\\1' > " + q(dir / "bad.mid"));
  std::string err;
  EXPECT_EQ(testaudio::run(
                kCli + " render " + q(dir / "bad.mid") + " " + q(dir / "o.wav") + " 2>&1", &err),
            2)
      << err;
  EXPECT_FALSE(std::filesystem::exists(dir / "o.wav"));
  const auto song = karaokeSong(dir);
  for (const char* opt :
       {"--tempo 128", "--transpose 11", "--mute 17", "--volume 3", "--program 1=128"})
    EXPECT_EQ(testaudio::run(kCli + " render " + q(song) + " " + q(dir / "o.wav") + " " + opt +
                             " 2>/dev/null"),
              1)
        << opt;
}

}  // namespace
