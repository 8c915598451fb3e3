// The MIDI player's procedures on the real sequencer, rendered offline: a song followed to its
// end and played again, the clock in the song's own seconds, the strips' channels, the key of
// each new song, and the song's own volume changes against the user's.
#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <cmath>

#include "MidiPlayer.h"
#include "SmfWriter.h"
#include "TestAudio.h"
#include "bass.h"

namespace {

class MidiPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr)); }
  void TearDown() override {
    midi.reset();
    BASS_Free();
  }
  // The left channel of the next `seconds` of what the engine plays, a position tick every
  // 10 ms of it; `ends` counts the ends the ticks report.
  testaudio::Audio capture(double seconds) {
    testaudio::Audio left{44100, 1, {}};
    std::vector<float> block(2 * 441);
    for (int i = 0; i < int(seconds * 100); ++i) {
      BASS_MixGetData(block.data(), DWORD(block.size() * sizeof(float)));
      ends += midi->Timer_Timer().ended;
      for (size_t k = 0; k < block.size(); k += 2) left.samples.push_back(block[k]);
    }
    return left;
  }
  int render(double seconds) {
    ends = 0;
    capture(seconds);
    return ends;
  }
  // The song at `name`, chosen and opened as the window does at Play.
  void open(const std::vector<uint8_t>& song, const std::string& name) {
    testmidi::writeFile(dir / name, song);
    ASSERT_TRUE(midi->chooseSong((dir / name).string()));
    midi->OpenMusic(50);
  }

  testaudio::TempDir dir;
  int ends = 0;
  std::unique_ptr<player::MidiPlayer> midi = std::make_unique<player::MidiPlayer>();
};

constexpr int kFlute = 73, kOrgan = 16;  // General MIDI: a clear fundamental, a steady level

// One note of `program` on channel 1 held for `beats` at 120 bpm.
std::vector<uint8_t> heldNote(int program, int key, int beats) {
  return testmidi::buildSmf(
      0, 480, {testmidi::TickTrack().program(0, 0, program).note(0, 480 * beats, 0, key).bytes()});
}

// Four beats at 120 bpm, then two at 60 bpm: four seconds. Notes on channels 1 and 10; the
// name of the song holds the byte of a Note On on channel 3.
std::vector<uint8_t> twoTempoSong() {
  testmidi::TrackWriter t;
  t.tempo(0, 500000).text(0, 0x03, "\x92 song").program(0, 0, 4);
  for (int beat = 0; beat < 6; ++beat) {
    if (beat == 4) t.tempo(0, 1000000);
    t.noteOn(0, 0, 60, 100).noteOn(0, 9, 36, 100);
    t.channel(480, 0x80, {60, 0});
  }
  return testmidi::buildSmf(0, 480, {t.end(0).bytes()});
}

TEST_F(MidiPlayerTest, SongEndsOnceAndPlaysAgainFromTheStart) {
  ASSERT_TRUE(midi->Initialize());
  open(twoTempoSong(), "song.mid");
  EXPECT_EQ(midi->lengthText, "0 :04");
  EXPECT_DOUBLE_EQ(midi->lengthSeconds(), 4.0);
  EXPECT_DOUBLE_EQ(midi->seconds(768 * 5), 3.0);  // into the slower half
  EXPECT_EQ(player::midiPositionText(125.9), "02:05");
  EXPECT_EQ(player::midiLengthText(3725), "62 :05");
  // The strips: channels 1 and 10 start notes; channel 3 is only in the song's name.
  EXPECT_TRUE(midi->channelPlayable(0));
  EXPECT_TRUE(midi->channelPlayable(9));
  EXPECT_FALSE(midi->channelPlayable(2));

  for (int round = 0; round < 2; ++round) {
    if (!midi->songLoaded) midi->OpenMusic(50);
    midi->Play({});
    EXPECT_TRUE(midi->midiRunning);
    EXPECT_EQ(render(3.5), 0) << round;
    EXPECT_EQ(midi->Timer_Timer().position, "00:03") << round;
    EXPECT_EQ(render(1.0), 1) << "the end is reported once, round " << round;
    EXPECT_EQ(midi->progressPercent, 100);
    EXPECT_FALSE(midi->songLoaded);
    EXPECT_FALSE(midi->midiRunning);
    EXPECT_EQ(midi->songPlaying, 0);
  }
  // After Stop the end is not reported.
  midi->OpenMusic(50);
  midi->Play({});
  midi->Stop();
  EXPECT_EQ(render(5), 0);
}

// The key heard is the key shown: a song opened after one that was transposed, whether that
// one played to its end or was stopped, plays in its own key (the key control reads 0 then).
TEST_F(MidiPlayerTest, EveryOpenedSongPlaysInItsOwnKey) {
  ASSERT_TRUE(midi->Initialize());
  const double a4 = 440, b4 = 440 * std::pow(2.0, 2 / 12.0);
  for (const bool playsToItsEnd : {true, false}) {
    SCOPED_TRACE(playsToItsEnd ? "ended" : "stopped");
    open(heldNote(kFlute, 69, 2), "first.mid");
    midi->Play({});
    ASSERT_TRUE(midi->transpose(2));
    EXPECT_EQ(midi->keyHeard(), 2);
    if (playsToItsEnd) {
      ASSERT_EQ(render(1.5), 1);
    } else {
      render(0.3);
      midi->Stop();
    }
    // The window sets its key control back to 0 before it opens the next song; no song plays,
    // so that move is not sent.
    EXPECT_FALSE(midi->transpose(0));

    open(heldNote(kFlute, 69, 2), "second.mid");
    midi->Play({});
    EXPECT_EQ(midi->keyHeard(), 0);
    const testaudio::Audio x = capture(0.6);
    const double plain = testaudio::toneAmplitude(x, 0, a4, 4410, 17640);
    const double up = testaudio::toneAmplitude(x, 0, b4, 4410, 17640);
    EXPECT_GT(plain, 10 * up) << "A4 " << plain << ", B4 " << up;
    midi->Stop();
  }
}

// The song holds channel 1 at 127 (a level the scanner takes for a stray byte) and fades it to
// 16 from its second 2 on. Left alone, the fade is heard; with the user's level set, that level
// stays through the fade. The user's change belongs to its song: opened again, the song plays
// its own volumes.
TEST_F(MidiPlayerTest, SongsOwnVolumeChangesPlayUnlessTheUserMovedTheStrip) {
  testmidi::TickTrack track;
  track.program(0, 0, kOrgan).controller(0, 0, 7, 127).note(0, 480 * 8, 0, 69);
  for (int step = 1; step <= 8; ++step)
    track.controller(uint32_t(480 * 4 + 60 * step), 0, 7, 127 - step * 111 / 8);
  const auto song = testmidi::buildSmf(0, 480, {track.bytes()});
  ASSERT_TRUE(midi->Initialize());
  const auto volume = [&] {
    int value = -1;
    fluid_synth_get_cc(midi->midiPerformance->synth(), 0, 7, &value);
    return value;
  };
  for (const bool userMoves : {true, false}) {
    SCOPED_TRACE(userMoves ? "user's level" : "song's levels");
    open(song, "fade.mid");
    EXPECT_EQ(midi->channelTable[0].volume, 114) << "the scanner's first plausible value";
    midi->Play({});
    if (userMoves) midi->channelVolume(0, 64);
    const testaudio::Audio x = capture(3.5);
    EXPECT_EQ(volume(), userMoves ? 64 : 16);
    const double before = testaudio::rms(x, 0, 44100 / 2, 44100);
    const double after = testaudio::rms(x, 0, 44100 * 5 / 2, 44100);
    ASSERT_GT(before, 1e-3);
    if (userMoves)
      EXPECT_NEAR(after / before, 1.0, 0.15);
    else
      EXPECT_LT(after / before, 0.1) << "a fade of 127 to 16 is some 36 dB";
    midi->Stop();
  }
}

}  // namespace
