#include "ui/ctrl_led.h"

#include <gtest/gtest.h>

#include <QImage>

namespace ostrel {
namespace {

TEST(CtrlLedTest, EachStateHasItsColourAndOtherStatesChangeNothing) {
  LedShape led;
  CtrlLed(led, kLedGreen);
  EXPECT_EQ(led.BackColor(), 0x00FF00u);
  CtrlLed(led, kLedRed);
  EXPECT_EQ(led.BackColor(), 0x0000FFu) << "red is 0x0000FF in the 0x00BBGGRR form";
  for (int16_t unknown : {int16_t{3}, int16_t{-1}, int16_t{32767}}) {
    CtrlLed(led, unknown);
    EXPECT_EQ(led.BackColor(), 0x0000FFu) << unknown;
  }
  CtrlLed(led, kLedOff);
  EXPECT_EQ(led.BackColor(), 0u);
}

TEST(CtrlLedTest, CircleIsPaintedInTheStatesColour) {
  LedShape led;
  led.resize(25, 17);
  CtrlLed(led, kLedRed);
  QImage image(led.size(), QImage::Format_ARGB32);
  image.fill(Qt::white);
  led.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
  EXPECT_EQ(QColor(image.pixel(12, 8)), QColor(255, 0, 0));
  EXPECT_EQ(QColor(image.pixel(0, 0)), QColor(Qt::white)) << "outside the circle";
}

}  // namespace
}  // namespace ostrel
