#include "common/display_text.h"

#include <gtest/gtest.h>

#include <string>

#include "common/clock.h"

namespace ostrel {
namespace {

const char kHexDigits[] = "0123456789ABCDEF";

TEST(DisplayTextTest, HexText2OfEveryByte) {
  for (int v = 0; v < 256; ++v) {
    const std::string expected{kHexDigits[v >> 4], kHexDigits[v & 0xF]};
    ASSERT_EQ(HexText2(v), expected) << v;
  }
}

TEST(DisplayTextTest, HexText4OfEveryRowHeader) {
  for (int row = 0; row < 128; ++row) {
    const std::string expected{'0', '0', kHexDigits[row >> 4], kHexDigits[row & 0xF]};
    ASSERT_EQ(HexText4(row), expected) << row;
  }
}

TEST(DisplayTextTest, HexTextsKeepOnlyTheLastDigits) {
  struct Case {
    long long value;
    const char* two;
    const char* four;
  };
  const Case cases[] = {
      {0x100, "00", "0100"},   {0x1AB, "AB", "01AB"},   {0xFFFF, "FF", "FFFF"},
      {0x10000, "00", "0000"}, {0x12345, "45", "2345"}, {-1, "FF", "FFFF"},
      {-256, "00", "FF00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HexText2(c.value), c.two) << c.value;
    EXPECT_EQ(HexText4(c.value), c.four) << c.value;
  }
}

TEST(DisplayTextTest, DateTimeTextHasTwoDigitFields) {
  struct Case {
    LocalTime time;
    const char* expected;
  };
  const Case cases[] = {
      {{2024, 5, 6, 13, 7, 9, 999}, "24/05/06 13:07:09"},
      {{2000, 1, 1, 0, 0, 0, 0}, "00/01/01 00:00:00"},
      {{1999, 12, 31, 23, 59, 59, 500}, "99/12/31 23:59:59"},
      {{2105, 10, 28, 9, 30, 5, 0}, "05/10/28 09:30:05"},
      {{2024, 5, 6, 123, -7, 9, 0}, "24/05/06 123:-7:09"},  // no clock gives these
  };
  for (const auto& c : cases) EXPECT_EQ(DateTimeText(c.time), c.expected) << c.expected;
}

TEST(DisplayTextTest, NowDateTimeTextReadsTheInstalledClock) {
  const FixedClock clock({2031, 2, 3, 4, 5, 6, 789});
  SetCurrentClock(&clock);
  const std::string text = NowDateTimeText();
  SetCurrentClock(nullptr);
  EXPECT_EQ(text, "31/02/03 04:05:06");
}

}  // namespace
}  // namespace ostrel
