// The singer's screen and the words and pictures of songs in the main window, off screen: the
// painting of a line lit as sung, the screen following the song clock, an MP3 with its LRC
// file, MP3+G packages (a zip built here with `zip`, an MP3 from `lame`, a CD+G stream written
// by hand), and a song named on the command line.
#include <gtest/gtest.h>

#include <QAction>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QToolButton>
#include <array>
#include <fstream>

#include "LrcParser.h"
#include "MainWindowTest.h"
#include "SingerScreen.h"
#include "SmfWriter.h"
#include "TestAudio.h"
#include "frmMain.h"

namespace {

karaoke::TimedLyrics lyricsOf(const std::string& lrc) {
  return karaoke::parseLrc(std::span(reinterpret_cast<const uint8_t*>(lrc.data()), lrc.size()));
}

// Two syllables of equal width, sung from 1 s to 2 s and from 2 s to 3 s, then a line after a
// long rest.
const std::string kTwoLines =
    "[ti:Tune]\n[00:01.00]<00:01.00>MMMM<00:02.00>MMMM<00:03.00>\n[00:10.00]Later\n";

enum class Kind { Lit, Unlit, Other };
Kind kindOf(QRgb c) {
  const int r = qRed(c), g = qGreen(c), b = qBlue(c);
  if (std::max({r, g, b}) < 120) return Kind::Other;  // background and faint edges
  if (r < 60 && b > 120) return Kind::Lit;
  if (r > 120 && std::abs(r - g) < 30 && std::abs(r - b) < 30) return Kind::Unlit;
  return Kind::Other;
}

struct LitCase {
  double ms;
  double share;  // of the line's width lit: the syllables' fractions by their equal widths
};

class SingerPaint : public ::testing::TestWithParam<LitCase> {};

// The current line is lit from its left edge up to the share sung, the rest unlit.
TEST_P(SingerPaint, LineIsLitUpToTheShareSung) {
  const karaoke::TimedLyrics lyrics = lyricsOf(kTwoLines);
  const karaoke::SingerFrame frame = karaoke::presentAt(lyrics, GetParam().ms, 60000);
  ASSERT_EQ(frame.currentLine, 0);
  QImage image(960, 540, QImage::Format_RGB32);
  QPainter p(&image);
  app::paintSingerFrame(p, image.rect(), lyrics, frame);
  p.end();
  // The line's band: the upper half of the picture below the title holds nothing else lit.
  int left = image.width(), right = -1, lastLit = -1, firstUnlit = image.width();
  for (int y = image.height() * 2 / 5; y < image.height() * 3 / 5; ++y)
    for (int x = 0; x < image.width(); ++x) {
      const Kind k = kindOf(image.pixel(x, y));
      if (k == Kind::Other) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      if (k == Kind::Lit) lastLit = std::max(lastLit, x);
      if (k == Kind::Unlit) firstUnlit = std::min(firstUnlit, x);
    }
  ASSERT_LT(left, right) << "no line painted";
  const double edge = left + GetParam().share * (right - left);
  const double slack = (right - left) / 8.0;  // one letter of the eight
  if (GetParam().share == 0) {
    EXPECT_EQ(lastLit, -1);
    EXPECT_EQ(firstUnlit, left);
  } else {
    EXPECT_NEAR(lastLit, edge, slack);
    EXPECT_NEAR(firstUnlit, edge, slack);
    EXPECT_LT(lastLit, firstUnlit + 2);
  }
}

INSTANTIATE_TEST_SUITE_P(Times, SingerPaint,
                         ::testing::Values(LitCase{1000, 0}, LitCase{1500, 0.25},
                                           LitCase{2250, 0.625}, LitCase{2900, 0.95},
                                           LitCase{2000, 0.5}));

// ---- the window -------------------------------------------------------------------------

// Packets of a CD+G stream, written as the format defines them.
using Packet = std::array<uint8_t, karaoke::kCdgPacketBytes>;
Packet cdgPacket(uint8_t instruction, std::initializer_list<uint8_t> data) {
  Packet p{};
  p[0] = karaoke::cdg::kGraphicsCommand;
  p[1] = instruction;
  size_t i = 4;
  for (uint8_t d : data) p[i++] = d;
  return p;
}
// Colours 0..7: 0 black, 1 red, 2 blue, 3 green (4 bits each, two 6-bit bytes per colour).
std::vector<uint8_t> cdgStream() {
  std::vector<Packet> packets = {
      cdgPacket(karaoke::cdg::kLoadColoursLow, {0, 0, 15 << 2, 0, 0, 15, 15 >> 2, (15 & 3) << 4}),
      cdgPacket(karaoke::cdg::kMemoryPreset, {1, 0}),
      cdgPacket(karaoke::cdg::kBorderPreset, {2}),
      // A tile of colour 3 at row 2, column 2: pixels x 12..17, y 24..35.
      cdgPacket(karaoke::cdg::kTileNormal, {0, 3, 2, 2, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
                                            0x3F, 0x3F, 0x3F, 0x3F, 0x3F}),
  };
  packets.resize(600);  // two seconds: the rest are no commands
  std::vector<uint8_t> bytes;
  for (const Packet& p : packets) bytes.insert(bytes.end(), p.begin(), p.end());
  return bytes;
}

class SingerWindow : public apptest::MainWindowTest {
 protected:
  // A sine of `seconds` as an MP3 made by lame.
  std::filesystem::path mp3(const std::string& name, int seconds) {
    const auto wav = home / (name + ".wav");
    testaudio::writeWav(wav, testaudio::makeAudio(44100, 2, 44100 * seconds, [](int64_t f, int) {
                          return testaudio::sine(440, 0.3, f, 44100);
                        }));
    const auto out = home / (name + ".mp3");
    testaudio::encodeMp3(wav, out);
    std::filesystem::remove(wav);
    return out;
  }
  void choose(const std::filesystem::path& path) {
    s.files.answers.push_back(QString::fromStdString(path.string()));
    w->menuwave->trigger();
  }
  // Whether Picture3 shows colour `c` at its point (x, y).
  bool picture3Shows(int x, int y, QColor c) {
    const QImage image = w->Picture3->pixmap().toImage();
    return !image.isNull() && QColor(image.pixel(x, y)) == c;
  }
  bool picture3Has(Kind kind) {
    const QImage image = w->Picture3->pixmap().toImage();
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (kindOf(image.pixel(x, y)) == kind) return true;
    return false;
  }
};

// F2 and "Options > Singer Screen" show and hide the screen; it follows the clock it is given
// (line, count-in, title); F11 and Escape go in and out of full screen; the screen chosen is
// kept.
TEST_F(SingerWindow, ScreenShowsTheFrameOfTheClockTime) {
  ASSERT_TRUE(w->mnutil->actions().contains(w->actSingerScreen));
  EXPECT_EQ(w->actSingerScreen->shortcut(), QKeySequence(Qt::Key_F2));
  for (QAction* a : w->findChildren<QAction*>()) {
    if (a != w->actSingerScreen) {
      EXPECT_NE(a->shortcut(), QKeySequence(Qt::Key_F2)) << a->text().toStdString();
    }
  }
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  QTest::keyClick(w, Qt::Key_F2);
  ASSERT_TRUE(w->singerScreen->isVisible());
  EXPECT_TRUE(w->actSingerScreen->isChecked());

  double now = 0;
  w->singerScreen->setSong(
      std::make_shared<app::SingerSong>(app::SingerSong{lyricsOf(kTwoLines), {}, {}}));
  w->singerScreen->setClock({[&] { return now; }, [] { return 20000.0; }, {}});
  struct Step {
    double ms;
    bool title;
    int line;
    int countIn;
  };
  for (const Step& step :
       {Step{0, true, -1, 1}, Step{1500, false, 0, 0}, Step{6500, false, 1, 0},
        Step{7500, false, 1, 3}, Step{9500, false, 1, 1}, Step{11000, false, 1, 0}}) {
    now = step.ms;
    const auto& f = w->singerScreen->view().frame();
    EXPECT_TRUE(QTest::qWaitFor([&] {
      return f.showTitle == step.title && f.currentLine == step.line && f.countIn == step.countIn &&
             std::abs(f.timeLeftMs - (20000 - step.ms)) < 1;
    })) << step.ms;
  }

  QTest::keyClick(w->singerScreen, Qt::Key_F11);
  EXPECT_TRUE(w->singerScreen->isFullScreen());
  QTest::keyClick(w->singerScreen, Qt::Key_Escape);
  EXPECT_FALSE(w->singerScreen->isFullScreen());
  w->singerScreen->chooseScreen(0);
  EXPECT_EQ(QSettings().value("singerScreen/screen").toString(),
            QGuiApplication::screens().front()->name());
  EXPECT_EQ(app::SingerScreen::preferredScreen(), 0);

  w->singerScreen->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w->singerScreen));
  QTest::keyClick(w->singerScreen, Qt::Key_F2);
  EXPECT_FALSE(w->singerScreen->isVisible());
  EXPECT_FALSE(w->actSingerScreen->isChecked());
  w->actSingerScreen->trigger();
  EXPECT_TRUE(w->singerScreen->isVisible());
  w->singerScreen->close();
  EXPECT_FALSE(w->actSingerScreen->isChecked());
}

// An MP3+G zip plays its MP3 through the player and shows its CD+G picture in Picture3 (the
// picture's aspect kept, the border colour beside it) and on the singer's screen; a zip
// without an MP3 and a CD+G of one name is refused with the reason.
TEST_F(SingerWindow, Mp3gZipPlaysAndShowsItsPicture) {
  const auto audio = mp3("Song", 3);
  const std::vector<uint8_t> cdg = cdgStream();
  testaudio::spit(home / "Song.cdg", std::string(cdg.begin(), cdg.end()));
  const auto zip = home / "Song.zip";
  ASSERT_EQ(testaudio::run("zip -qj " + testaudio::q(zip) + " " + testaudio::q(audio) + " " +
                           testaudio::q(home / "Song.cdg")),
            0);
  std::filesystem::remove(audio);
  std::filesystem::remove(home / "Song.cdg");
  choose(zip);
  ASSERT_TRUE(s.messages.shown.empty()) << s.messages.shown.front().text.toStdString();
  EXPECT_TRUE(w->CMDialog1.FileName.endsWith(".mp3"));
  EXPECT_TRUE(w->Cmdplw->isEnabled());
  w->actSingerScreen->trigger();
  w->Cmdplw_Click();
  ASSERT_EQ(BASS_ChannelIsActive(w->player->mainStream), BASS_ACTIVE_PLAYING);
  const QSize size = w->Picture3->size();
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return picture3Shows(size.width() / 2, size.height() / 2, Qt::red) &&
               picture3Shows(1, size.height() / 2, Qt::blue);
      },
      5000));
  EXPECT_TRUE(QTest::qWaitFor([&] {
    const QImage& picture = w->singerScreen->view().cdgPicture();
    return !picture.isNull() && QColor(picture.pixel(14, 30)) == Qt::green &&
           QColor(picture.pixel(150, 108)) == Qt::red;
  }));
  w->cmdstw_Click();

  const auto lone = home / "Lone.zip";
  std::ofstream(home / "readme.txt") << "no song here";
  ASSERT_EQ(
      testaudio::run("zip -qj " + testaudio::q(lone) + " " + testaudio::q(home / "readme.txt")), 0);
  choose(lone);
  ASSERT_EQ(s.messages.shown.size(), 1u);
  EXPECT_EQ(s.messages.shown[0].style, app::kStyleExclamation);
  EXPECT_EQ(s.messages.shown[0].title, "orivelR");
  EXPECT_TRUE(s.messages.shown[0].text.startsWith("Cannot open " +
                                                  QString::fromStdString(lone.string()) + ": "))
      << s.messages.shown[0].text.toStdString();
  EXPECT_TRUE(w->CMDialog1.FileName.isEmpty());
  EXPECT_FALSE(w->Cmdplw->isEnabled());
}

// "orivelR SONG": an MP3 opens as from "Open Wave Mp3 File", with the LRC file beside it (its
// words then light in the karaoke picture and on the singer's screen as it plays, from the
// player's heard position); a karaoke file as from "Open Midi Song" (its words then on the
// singer's screen); neither asks for a file; other files are refused.
TEST_F(SingerWindow, SongFromTheCommandLineOpensAsFromItsMenuWithItsWords) {
  const auto audio = mp3("Sine", 6);
  std::ofstream(home / "Sine.lrc") << "[ti:Sine]\n[00:00.00]LA LA LA LA\n[00:08.00]\n";
  w->openFromCommandLine(QString::fromStdString(audio.string()));
  EXPECT_EQ(w->CMDialog1.FileName.toStdString(), audio.string());
  EXPECT_TRUE(w->audioSong);
  EXPECT_TRUE(w->Cmdplw->isEnabled());
  w->actSingerScreen->trigger();
  w->Cmdplw_Click();
  ASSERT_EQ(BASS_ChannelIsActive(w->player->mainStream), BASS_ACTIVE_PLAYING);
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return picture3Has(Kind::Lit) && picture3Has(Kind::Unlit); }, 5000));
  const auto& f = w->singerScreen->view().frame();
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return f.currentLine == 0 && f.lit.size() == 1 && f.lit[0] > 0; }));
  EXPECT_EQ(f.title, "Sine");
  w->cmdstw_Click();

  testmidi::TrackWriter t;
  t.tempo(0, 500000).text(0, 0x01, "@TKaraoke tune").text(0, 0x01, "/Hel").text(240, 0x01, "lo");
  t.noteOn(0, 0, 60, 100).channel(480, 0x80, {60, 0}).end(0);
  const auto kar = home / "Tune.kar";
  testmidi::writeFile(kar, testmidi::buildSmf(0, 480, {t.bytes()}));
  w->openFromCommandLine(QString::fromStdString(kar.string()));
  EXPECT_FALSE(w->audioSong);
  EXPECT_EQ(w->LabelSongLength->text().toStdString(), kar.string());
  EXPECT_TRUE(w->Cmd_Play->isEnabled());
  w->Cmd_Play_Click();
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return f.title == "Karaoke tune" && (f.currentLine == 0 || f.nextLine == 0); }));
  w->Cmd_Stop_Click();
  EXPECT_TRUE(s.files.requests.empty());
  EXPECT_TRUE(s.messages.shown.empty());

  std::ofstream(home / "notes.txt") << "words";
  w->openFromCommandLine(QString::fromStdString((home / "notes.txt").string()));
  ASSERT_EQ(s.messages.shown.size(), 1u);
  EXPECT_TRUE(s.messages.shown[0].text.startsWith("Cannot open "));
}

}  // namespace
