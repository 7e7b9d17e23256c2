#include "ui/ui_support.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace ostrel {
namespace {

TEST(CenterFormTest, CentredPositionRoundsHalvesToEvenThenTruncates) {
  const struct {
    double screen, outer;
    int expected;
  } cases[] = {
      {19200, 9855, 4672},    // 9345 / 2 truncates
      {19200, 9854.5, 4673},  // 9345.5 rounds to 9346 first, then halves
      {19200, 9855.5, 4672},  // 9344.5 rounds to 9344
      {9000, 10001, -500},   // larger than the screen: negative, truncating towards zero
      {9000, 10002, -501},
      {100, 100, 0},
  };
  for (const auto& c : cases) {
    const QPoint p = CenteredPositionTwips({c.screen, c.screen}, {c.outer, c.outer});
    EXPECT_EQ(p.x(), c.expected) << c.screen << " - " << c.outer;
    EXPECT_EQ(p.y(), c.expected);
  }
}

TEST(CenterFormTest, WindowIsCentredAndOneLargerThanTheScreenGoesNegative) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  QWidget small;
  small.resize(200, 100);
  CenterForm(small);
  EXPECT_NEAR(small.frameGeometry().center().x(), screen.center().x(), 2);
  EXPECT_NEAR(small.frameGeometry().center().y(), screen.center().y(), 2);

  QWidget large;
  large.setMinimumSize(screen.width() + 400, screen.height() + 200);
  large.resize(screen.width() + 400, screen.height() + 200);
  CenterForm(large);
  EXPECT_EQ(large.frameGeometry().x(), screen.x() - 200);
  EXPECT_EQ(large.frameGeometry().y(), screen.y() - 100);
}

TEST(UiSupportTest, TwipsBecomePixelsAtFifteenPerPixel) {
  EXPECT_EQ(TwipsRect(2040, 120, 2535, 300), QRect(136, 8, 169, 20));
  EXPECT_EQ(Px(9855), 657);
}

TEST(UiSupportTest, FontsAskForTheirFamilyWithAFallback) {
  const QFont p = ProportionalFont(15.75, true);
  EXPECT_EQ(p.families(), (QStringList{"ＭＳ Ｐゴシック", "Noto Sans CJK JP"}));
  EXPECT_DOUBLE_EQ(p.pointSizeF(), 15.75);
  EXPECT_TRUE(p.bold());
  EXPECT_EQ(MonospaceFont(9).families().front(), QStringLiteral("ＭＳ ゴシック"));
}

}  // namespace
}  // namespace ostrel
