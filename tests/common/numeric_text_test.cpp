#include "common/numeric_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/run_time_error.h"

namespace ostrel {
namespace {

// The description a conversion raised, or "" when it returned a value.
template <typename Convert>
std::string ErrorOf(Convert convert, const std::string& text) {
  try {
    convert(text);
  } catch (const RunTimeError& error) {
    return error.Description();
  }
  return "";
}

std::string LongError(const std::string& text) {
  return ErrorOf([](const std::string& t) { return TextToLong(t); }, text);
}
std::string IntegerError(const std::string& text) {
  return ErrorOf([](const std::string& t) { return TextToInteger(t); }, text);
}

TEST(IsNumericTextTest, AcceptsEveryFormOfTheGrammar) {
  // clang-format off
  const std::vector<std::string> numeric = {
      "0", "7", "-7", "+7", "007", " 5", "5 ", "\t5\t", "  -12  ",      // blanks and sign
      "1,000", "12,34", "1,2,3", "-1,000,000", "1,000.25",               // comma grouping
      "5.", ".5", "-.5", "+.5", "0.0", "3.14159",                        // decimal point
      "1e3", "1E3", "1d3", "1D3", "1e+3", "1e-3", "1.5e2", ".5e1", "5.e1", "1e0003",
      "&H0", "&HFF", "&hff", "&HfF", "&H7FFFFFFF", "&HFFFFFFFF", "&H000000001", " &H10 ",
      "&H123456789",  // too long to convert, but numeric all the same
  };
  // clang-format on
  for (const auto& text : numeric) EXPECT_TRUE(IsNumericText(text)) << "[" << text << "]";
}

TEST(IsNumericTextTest, RejectsEverythingElse) {
  // clang-format off
  const std::vector<std::string> not_numeric = {
      "", " ", "\t", "  \t ",                        // nothing but blanks
      "abc", "1a", "a1", "1 2", "- 1", "+-1", "--1",  // letters, inner blanks, two signs
      ".", "-", "+", "-.", ".e1", "e1",               // sign or point without digits
      ",1", "1,", "1,,2", "1,.5", "1.2,3", ",",       // misplaced commas
      "1.2.3", "1..2",                                // two points
      "1e", "1e+", "1e-", "1ee2", "1e2.5", "1e2e3", "1f3",  // broken exponents
      "&H", "&HG", "&H-1", "-&H1", "&H 1", "&O17", "&", "H1", "0x1F", "&H1.5",
      "\n1", "1\r", "\v1",  // only spaces and tabs count as blanks
      std::string("1\0", 2),
  };
  // clang-format on
  for (const auto& text : not_numeric) EXPECT_FALSE(IsNumericText(text)) << "[" << text << "]";
}

TEST(TextToLongTest, ConvertsAndRoundsHalvesToEven) {
  struct Case {
    const char* text;
    int32_t expected;
  };
  // clang-format off
  const Case cases[] = {
      {"0", 0}, {"-0", 0}, {"42", 42}, {"+42", 42}, {"-42", -42}, {" \t 42\t ", 42},
      {"1,000", 1000}, {"12,34", 1234}, {"-1,234,567", -1234567},
      {"2.5", 2}, {"3.5", 4}, {"-2.5", -2}, {"-3.5", -4}, {"0.5", 0}, {"1.5", 2},
      {"-0.5", 0}, {"1999.5", 2000}, {"2000.5", 2000}, {"2.4999", 2}, {"2.5001", 3},
      {"-2.5001", -3}, {"80.4", 80}, {"5.", 5}, {".5", 0}, {".51", 1}, {"0.09", 0},
      {"1e3", 1000}, {"1D3", 1000}, {"1.5e1", 15}, {"25e-1", 2}, {"35d-1", 4}, {"1e-400", 0},
      {"-1e-400", 0}, {"0e999999", 0}, {"0.000e999999999999999999", 0},
      {"1e0000000000000000003", 1000},
      {"2147483647", 2147483647}, {"-2147483648", -2147483648}, {"2147483647.49", 2147483647},
      {"-2147483648.5", -2147483648}, {"2,147,483,647", 2147483647},
      {"2.147483647e9", 2147483647}, {"2147483647.4999999999999", 2147483647},
      {"-2147483648.4999999999999", -2147483648}, {"2.50000000000000000001", 3},
      {"21474836470e-1", 2147483647},
      {"&H0", 0}, {"&HFF", 255}, {"&hff", 255}, {"&H7FFFFFFF", 2147483647},
      {"&H80000000", -2147483648}, {"&HFFFFFFFF", -1}, {"&H00000000FFFFFFFF", -1},
      {" &H10 ", 16},
  };
  // clang-format on
  for (const auto& c : cases) {
    try {
      EXPECT_EQ(TextToLong(c.text), c.expected) << "[" << c.text << "]";
    } catch (const RunTimeError& error) {
      ADD_FAILURE() << "[" << c.text << "] raised " << error.Description();
    }
  }
}

TEST(TextToLongTest, OverflowsOutsideThirtyTwoBits) {
  // clang-format off
  const std::vector<std::string> overflowing = {
      "2147483648", "-2147483649", "2147483647.5", "-2147483648.51", "2,147,483,648",
      "1e10", "-1e10", "9.99e9", "1e400", "-1e400", "1e999999999999999999999",
      "&H100000000", "&H123456789",
  };
  // clang-format on
  for (const auto& text : overflowing) {
    EXPECT_EQ(LongError(text), desc::kOverflow) << "[" << text << "]";
  }
}

TEST(TextToLongTest, NonNumericTextIsATypeMismatch) {
  for (const std::string text : {"", " ", "abc", "1e", "&H", ".", "1,", "12a"}) {
    EXPECT_EQ(LongError(text), desc::kTypeMismatch) << "[" << text << "]";
    EXPECT_EQ(IntegerError(text), desc::kTypeMismatch) << "[" << text << "]";
  }
}

TEST(TextToIntegerTest, ChecksTheSixteenBitRange) {
  struct Case {
    const char* text;
    int16_t expected;
  };
  // clang-format off
  const Case cases[] = {
      {"32767", 32767}, {"-32768", -32768}, {"32767.4", 32767}, {"-32768.5", -32768},
      {"255", 255}, {"-1", -1}, {"2.5", 2}, {"3.5", 4}, {"&H7FFF", 32767},
      {"&HFFFFFFFF", -1}, {"&HFFFF8000", -32768},
  };
  // clang-format on
  for (const auto& c : cases) {
    try {
      EXPECT_EQ(TextToInteger(c.text), c.expected) << "[" << c.text << "]";
    } catch (const RunTimeError& error) {
      ADD_FAILURE() << "[" << c.text << "] raised " << error.Description();
    }
  }
  // &HFFFF is 65535 as 32 bits, so it does not fit.
  for (const std::string text : {"32768", "-32769", "32767.5", "-32768.51", "70000", "&H8000",
                                 "&HFFFF", "2147483648", "1e400"}) {
    EXPECT_EQ(IntegerError(text), desc::kOverflow) << "[" << text << "]";
  }
}

TEST(TextToIntegerTest, EveryIntegerAroundTheRangeConvertsOrOverflows) {
  for (int v = -40000; v <= 40000; ++v) {
    const std::string text = std::to_string(v);
    if (v >= -32768 && v <= 32767) {
      ASSERT_EQ(TextToInteger(text), v) << text;
      ASSERT_EQ(TextToLong(text), v) << text;
    } else {
      ASSERT_EQ(IntegerError(text), desc::kOverflow) << text;
      ASSERT_EQ(TextToLong(text), v) << text;
    }
  }
}

TEST(TextToLongTest, EveryHalfRoundsToTheEvenNeighbour) {
  for (int v = -3000; v <= 3000; ++v) {
    // "v.5" lies between lower and lower + 1 ("-3.5" between -4 and -3).
    const std::string text = std::to_string(v) + ".5";
    const int lower = v < 0 ? v - 1 : v;
    const int expected = lower % 2 == 0 ? lower : lower + 1;
    ASSERT_EQ(TextToLong(text), expected) << text;
  }
}

TEST(TextToLongTest, VeryLongTextsConvertWithoutTrouble) {
  const std::string zeros(10000, '0');
  const std::string nines(10000, '9');
  EXPECT_EQ(TextToLong(zeros + "7"), 7);
  EXPECT_EQ(TextToLong("0." + zeros + "1"), 0);
  EXPECT_EQ(TextToLong("1" + zeros + "e-10000"), 1);
  EXPECT_EQ(TextToLong("0." + zeros + "5e10001"), 5);
  EXPECT_EQ(TextToLong("2.5" + zeros + "1"), 3);  // a digit far out still breaks the tie
  EXPECT_EQ(TextToLong("2.5" + zeros), 2);
  EXPECT_EQ(TextToLong("0." + nines), 1);
  EXPECT_EQ(TextToLong("1e-" + nines), 0);
  EXPECT_EQ(LongError("1" + zeros), desc::kOverflow);
  EXPECT_EQ(LongError(nines), desc::kOverflow);
  EXPECT_EQ(LongError("1e" + nines), desc::kOverflow);
  EXPECT_EQ(LongError("&H" + zeros + "1" + zeros), desc::kOverflow);
  EXPECT_EQ(TextToLong("&H" + zeros + "1"), 1);
  EXPECT_EQ(LongError(zeros + "x"), desc::kTypeMismatch);
}

// Every text built from pieces of the grammar is numeric, and converts or overflows.
TEST(TextToLongTest, EveryNumericTextConvertsOrOverflows) {
  const std::vector<std::string> blanks = {"", " ", "\t "};
  const std::vector<std::string> signs = {"", "+", "-"};
  const std::vector<std::string> mantissas = {"0",  "5",  "1,000", "2147483647", "99999999999",
                                              "5.", ".5", "2.5",   "0.0001",     "32,767.5"};
  const std::vector<std::string> exponents = {"",   "e0",   "E+1",  "d-1",
                                              "D9", "e-30", "e400", "e-400"};
  int count = 0;
  for (const auto& blank : blanks) {
    for (const auto& sign : signs) {
      for (const auto& mantissa : mantissas) {
        for (const auto& exponent : exponents) {
          const std::string text = blank + sign + mantissa + exponent + blank;
          ASSERT_TRUE(IsNumericText(text)) << "[" << text << "]";
          const std::string error = LongError(text);
          EXPECT_TRUE(error.empty() || error == desc::kOverflow)
              << "[" << text << "] raised " << error;
          const std::string error16 = IntegerError(text);
          EXPECT_TRUE(error16.empty() || error16 == desc::kOverflow)
              << "[" << text << "] raised " << error16;
          ++count;
        }
      }
    }
  }
  EXPECT_EQ(count, 720);
}

}  // namespace
}  // namespace ostrel
