// The scan and lyrics commands of orivelR-cli on a karaoke file built in code.
#include <gtest/gtest.h>

#include "MidiCommands.h"
#include "SmfWriter.h"
#include "TestAudio.h"

namespace {

class MidiCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    testmidi::TrackWriter tempo, words, band;
    tempo.tempo(0, 400000).end();
    words.text(0, 3, "Words").text(0, 1, "\\Hel").text(96, 1, "lo").text(96, 1, "/world").end(96);
    band.program(0, 2, 33)
        .controller(0, 2, 7, 90)
        .controller(0, 2, 10, 30)
        .noteOn(0, 2, 40, 90)
        .end();
    testmidi::writeFile(song,
                        testmidi::buildSmf(1, 96, {tempo.bytes(), words.bytes(), band.bytes()}));
  }
  std::string run(int (*command)(const std::vector<std::string>&)) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(command({song.string()}), 0);
    return testing::internal::GetCapturedStdout();
  }
  testaudio::TempDir dir;
  std::filesystem::path song = dir / "song.kar";
};

TEST_F(MidiCommands, ScanPrintsTheFieldsAndEveryChannel) {
  const std::string out = run(cli::runScan);
  EXPECT_EQ(out.substr(0, out.find("channel 1:")),
            "format: 1\ntracks: 3\nticksPerSixteenth: 24\ntempoMicros: 400000\nsongBpm: 150.00\n"
            "msPerTick: 4.166667\nlyricSource: track 2 (Words)\n");
  EXPECT_NE(out.find("\nchannel 1: inUse -1, program 0, volume 0, pan 64\n"), std::string::npos);
  EXPECT_NE(out.find("\nchannel 3: inUse 3, program 33, volume 90, pan 30\n"), std::string::npos);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 7 + 16);
}

// The track name, three syllables 96 ticks (400 ms) apart and the end of track; then the lines.
TEST_F(MidiCommands, LyricsPrintsTheTableAndTheLines) {
  EXPECT_EQ(
      run(cli::runLyrics),
      "1\t0.000\t0.000\t0\t0\t\n2\t400.000\t400.000\t1\t0\tHel\n3\t800.000\t400.000\t1\t3\tlo\n"
      "4\t1200.000\t400.000\t2\t0\tworld\n5\t1200.000\t0.000\t2\t5\t\n"
      "line 0: \nline 1: Hello\nline 2: world\n");
}

TEST_F(MidiCommands, BadArgumentsExplainOnStderr) {
  for (auto* command : {&cli::runScan, &cli::runLyrics}) {
    for (const auto& [args, rc] :
         {std::pair{std::vector<std::string>{"/nonexistent.kar"}, 3},
          std::pair{std::vector<std::string>{"/"}, 3}, std::pair{std::vector<std::string>{}, 2},
          std::pair{std::vector<std::string>{"a", "b"}, 2}}) {
      testing::internal::CaptureStderr();
      EXPECT_EQ(command(args), rc);
      EXPECT_NE(testing::internal::GetCapturedStderr(), "");
    }
  }
}

}  // namespace
