// The MIDI player's procedures on the real sequencer, rendered offline: a song followed to its
// end and played again, the clock in the song's own seconds, the strips' channels.
#include <gtest/gtest.h>

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
  // Renders `seconds` of what the engine plays, a position tick every 10 ms of it.
  int render(double seconds) {
    std::vector<float> block(2 * 441);
    int ends = 0;
    for (int i = 0; i < int(seconds * 100); ++i) {
      BASS_MixGetData(block.data(), DWORD(block.size() * sizeof(float)));
      ends += midi->Timer_Timer().ended;
    }
    return ends;
  }

  testaudio::TempDir dir;
  std::unique_ptr<player::MidiPlayer> midi = std::make_unique<player::MidiPlayer>();
};

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
  const auto path = dir / "song.mid";
  testmidi::writeFile(path, twoTempoSong());
  ASSERT_TRUE(midi->Initialize());
  ASSERT_TRUE(midi->chooseSong(path.string()));
  midi->OpenMusic(50);
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

}  // namespace
