// The converter window off screen with recording services: its caption and name rules, and
// the open - encode - finished flow on a real file.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "AppTestSupport.h"
#include "EncoderTestSupport.h"
#include "Form1.h"
#include "MEnc.h"

using testaudio::TempDir;

namespace {

TEST(Form1, TargetNameAndPercentCaption) {
  EXPECT_EQ(encoder::mp3TargetName("/m/song.wav"), "/m/song.mp3");
  EXPECT_EQ(encoder::mp3TargetName("x.wave"), "x.wmp3");  // only the last three characters
  EXPECT_EQ(encoder::percentCaption(7) + encoder::percentCaption(100), "07 %100 %");
}

struct Caption {
  double seconds;
  const char* shown;  // "before": the caption it had is kept
};

void PrintTo(const Caption& c, std::ostream* os) {
  *os << c.seconds;
}

class TimeLeftCaption : public ::testing::TestWithParam<Caption> {};
TEST_P(TimeLeftCaption, FollowsTheRoundedEstimate) {
  const Caption c = GetParam();
  EXPECT_EQ(encoder::timeLeftCaption(c.seconds, "before").toStdString(), c.shown);
}
INSTANTIATE_TEST_SUITE_P(
    Form1, TimeLeftCaption,
    ::testing::Values(Caption{5.5, "5.50 Seconds Left"}, Caption{12.25, "12.25 Seconds Left"},
                      Caption{123.4, "123.40 Seconds Left"}, Caption{0, "0.00 Seconds Left"},
                      Caption{2.675, "2.68 Seconds Left"},  // rounds the decimal 2.675 up
                      // Rounded to 9.9, neither "more" nor "less" than 9.9 holds.
                      Caption{9.9, "before"}, Caption{9.85, "before"}, Caption{9.94, "before"},
                      // Rounded to 10.0 the two-digit format applies, zero-padded.
                      Caption{9.96, "09.96 Seconds Left"}, Caption{99.04, "99.04 Seconds Left"}));

TEST(Form1, OpenEncodeFinishedWritesTheMp3BesideTheWav) {
  apptest::InstalledServices services;
  TempDir dir;
  enctest::makeWav(dir / "song.wav", 44100, 2, "-b 16", 3);
  const QString wav = QString::fromStdString((dir / "song.wav").string());
  Form1 w;
  QTest::mouseClick(w.Command3, Qt::LeftButton);  // nothing chosen yet: nothing happens
  EXPECT_FALSE(w.MEnc1->busy());

  services.files.answers.push_back(wav);
  QTest::mouseClick(w.Command1, Qt::LeftButton);
  ASSERT_EQ(services.files.requests.size(), 1u);
  EXPECT_EQ(services.files.requests[0].filter, "Wave Audio File|*.wav|Raw Audio File|*.raw");
  EXPECT_EQ(w.Text1->text(), wav);
  EXPECT_EQ(w.MEnc1->SourceFile(), wav);

  emit w.Combo1->activated(2);
  emit w.Combo2->activated(1);
  EXPECT_EQ(w.MEnc1->BitRateBps(), 112000);
  EXPECT_EQ(w.MEnc1->ChannelMode(), 1);
  QTest::mouseClick(w.Command3, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return w.Label2->text() == "Finished Encoding" && w.prog->value() == 0; }, 60000));
  ASSERT_EQ(services.messages.shown.size(), 1u);
  EXPECT_EQ(services.messages.shown[0].style, app::kStyleInformation);
  EXPECT_EQ(services.messages.shown[0].title, "Finished");
  EXPECT_EQ(services.messages.shown[0].text, "You Are Now Done Encoding");
  EXPECT_EQ(w.Label1->text(), "00 %");
  auto info = enctest::probe(dir / "song.mp3");
  EXPECT_EQ(info["bit_rate"], "112000");
  EXPECT_EQ(info["channels"], "1");
}

TEST(Form1, FailureShowsItsTextInLabel2) {
  apptest::InstalledServices services;
  TempDir dir;
  Form1 w;
  w.Text1->setText(QString::fromStdString((dir / "gone.wav").string()));
  QTest::mouseClick(w.Command3, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Label2->text().startsWith("cannot open"); }, 60000))
      << w.Label2->text().toStdString();
  EXPECT_TRUE(services.messages.shown.empty());
  EXPECT_EQ(enctest::fileCount(dir.path()), 0);
}

}  // namespace
