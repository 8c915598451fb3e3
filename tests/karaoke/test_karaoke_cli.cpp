// `orivelR-cli lyrics --words` and `orivelR-cli cdg`, called as functions; the PNG is read back
// with ffmpeg.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "CliKaraoke.h"
#include "SmfWriter.h"
#include "TestAudio.h"

namespace {

namespace fs = std::filesystem;

std::string run(int (*command)(const std::vector<std::string>&),
                const std::vector<std::string>& args, int rc = 0) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(command(args), rc);
  return testing::internal::GetCapturedStdout();
}

TEST(KaraokeCli, LyricsWordsOfAKarAndOfAnLrc) {
  testaudio::TempDir dir;
  testmidi::TrackWriter tempo, words;
  tempo.tempo(0, 400000).end();
  words.text(0, 3, "Words").text(0, 1, "\\Hel").text(96, 1, "lo").text(96, 1, "/world").end(96);
  testmidi::writeFile(dir / "song.kar", testmidi::buildSmf(1, 96, {tempo.bytes(), words.bytes()}));
  EXPECT_EQ(run(cli::lyricsCommand, {(dir / "song.kar").string(), "--words"}),
            "0\t1\tHel\n400\t1\tlo\n800\t2\tworld\n");
  // Without --words the table as before.
  EXPECT_EQ(run(cli::lyricsCommand, {(dir / "song.kar").string()}).substr(0, 12), "1\t0.000\t0.00");

  testmidi::writeFile(dir / "tune.mp3", {0xFF, 0xFB});
  std::ofstream(dir / "Tune.LRC") << "[ar:Me]\r\n[offset:100]\r\n[00:01.10]One <00:01.60>two\r\n"
                                     "[00:03.00]Three\r\n";
  EXPECT_EQ(run(cli::lyricsCommand, {"--words", (dir / "tune.mp3").string()}),
            "1000\t1\tOne \n1500\t1\ttwo\n2900\t2\tThree\n");
  testing::internal::CaptureStderr();
  run(cli::lyricsCommand, {(dir / "song.wav").string(), "--words"}, 3);
  testmidi::writeFile(dir / "plain.wav", {0});
  run(cli::lyricsCommand, {(dir / "plain.wav").string(), "--words"}, 3);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("no LRC file"), std::string::npos);
}

std::vector<uint8_t> packet(uint8_t instruction, std::initializer_list<uint8_t> data) {
  std::vector<uint8_t> p(24, 0);
  p[0] = 0x09;
  p[1] = instruction;
  size_t i = 4;
  for (uint8_t d : data) p[i++] = d;
  return p;
}

// The pixels of a PNG as ffmpeg decodes them.
std::string decodePng(const fs::path& png) {
  const std::string cmd = "ffmpeg -v error -i '" + png.string() + "' -f rawvideo -pix_fmt rgb24 -";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[65536];
  for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  if (p) {
    EXPECT_EQ(pclose(p), 0);
  }
  return out;
}

// Colour 1 is red (F00), 2 blue (00F); the screen is cleared to red at once, a blue tile drawn
// at 1 s into the place of row 1, column 1 (pixels 6..11, 12..23).
TEST(KaraokeCli, CdgPictureAtAMoment) {
  testaudio::TempDir dir;
  std::vector<uint8_t> stream;
  const auto add = [&](const std::vector<uint8_t>& p) {
    stream.insert(stream.end(), p.begin(), p.end());
  };
  add(packet(30, {0, 0, 0x3C, 0, 0, 0x0F}));
  add(packet(1, {1, 0}));
  while (stream.size() < 300 * 24) add(std::vector<uint8_t>(24, 0));
  add(packet(6,
             {1, 2, 1, 1, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F}));
  testmidi::writeFile(dir / "song.cdg", stream);

  for (const double at : {0.5, 1.1}) {
    SCOPED_TRACE(at);
    const fs::path out = dir / "at.png";
    EXPECT_EQ(run(cli::cdgCommand,
                  {(dir / "song.cdg").string(), "--at", std::to_string(at), out.string()}),
              "");
    const std::string rgb = decodePng(out);
    ASSERT_EQ(rgb.size(), size_t(300 * 216 * 3));
    for (int y = 0; y < 216; ++y)
      for (int x = 0; x < 300; ++x) {
        const bool blue = at > 1 && x >= 6 && x < 12 && y >= 12 && y < 24;
        const char* px = &rgb[size_t(y * 300 + x) * 3];
        ASSERT_EQ(uint8_t(px[0]), blue ? 0 : 255) << x << "," << y;
        ASSERT_EQ(uint8_t(px[2]), blue ? 255 : 0) << x << "," << y;
      }
  }
  testing::internal::CaptureStderr();
  run(cli::cdgCommand, {(dir / "song.cdg").string(), (dir / "x.png").string()}, 2);
  run(cli::cdgCommand, {(dir / "none.zip").string(), "--at", "1", (dir / "x.png").string()}, 3);
  testing::internal::GetCapturedStderr();
}

}  // namespace
