// The take's score in the windows: the label beside the time and the singer's screen's corner
// show it, and a new take clears it.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "MainWindowTest.h"
#include "SingerScreen.h"
#include "frmMain.h"

namespace {

TEST(TakeScoreText, ThousandsAreSpacedOutOfTenThousand) {
  const std::pair<int, const char*> cases[] = {{0, "Punteggio: 0 / 10 000"},
                                               {999, "Punteggio: 999 / 10 000"},
                                               {8050, "Punteggio: 8 050 / 10 000"},
                                               {10000, "Punteggio: 10 000 / 10 000"}};
  for (const auto& [total, text] : cases) EXPECT_EQ(app::scoreText(total), text);
}

using TakeScoreWindow = apptest::MainWindowTest;

TEST_F(TakeScoreWindow, ScoreShownBesideTheTimeAndOnTheSingersScreenUntilTheNextTake) {
  w->showTakeScore(8750);
  ASSERT_TRUE(w->lblScore);
  EXPECT_TRUE(w->lblScore->isVisible());
  EXPECT_EQ(w->lblScore->text(), "Punteggio: 8 750 / 10 000");
  EXPECT_EQ(w->singerScreen->score(), 8750);
  w->showTakeScore(std::nullopt);
  EXPECT_FALSE(w->lblScore->isVisible());
  EXPECT_FALSE(w->singerScreen->score().has_value());
  w->showTakeScore(std::nullopt, "No score");
  EXPECT_TRUE(w->lblScore->isVisible());
  EXPECT_EQ(w->lblScore->text(), "No score");
  EXPECT_FALSE(w->singerScreen->score().has_value());
}

}  // namespace
