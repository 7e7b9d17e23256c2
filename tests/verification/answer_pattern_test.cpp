#include "verification/answer_pattern.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ostrel {
namespace {

using Bytes = std::vector<uint8_t>;
using Offsets = std::vector<std::size_t>;

AnswerPattern Parsed(const std::string& text) {
  PatternParse parse = AnswerPattern::Parse(text);
  EXPECT_TRUE(parse.Ok()) << text << ": " << parse.error.message;
  return parse.Ok() ? *parse.pattern : AnswerPattern{};
}

TEST(AnswerPatternTest, EveryTokenFormInEitherCaseWithBlanksAndStar) {
  const AnswerPattern p = Parsed("\t3F ?f 3? ??\r\nb1xxx0000  B0X1x0101 ab *\n");
  const std::vector<PatternByte> expected = {{0xFF, 0x3F}, {0x0F, 0x0F}, {0xF0, 0x30}, {0x00, 0x00},
                                             {0x8F, 0x80}, {0xAF, 0x25}, {0xFF, 0xAB}};
  ASSERT_EQ(p.Bytes().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(p.Bytes()[i].mask, expected[i].mask) << i;
    EXPECT_EQ(p.Bytes()[i].value, expected[i].value) << i;
  }
  EXPECT_TRUE(p.OpenEnded());
  EXPECT_EQ(p.Tokens()[5], "B0X1x0101") << "kept as written";
  EXPECT_EQ(p.Text(), "3F ?f 3? ?? b1xxx0000 B0X1x0101 ab *");
  EXPECT_EQ(Parsed(p.Text()).Text(), p.Text());
  EXPECT_EQ(Parsed("*").Text(), "*");
  EXPECT_TRUE(Parsed("*").Fits(Bytes{}));
  EXPECT_FALSE(Parsed("01 02").OpenEnded());
}

TEST(AnswerPatternTest, BadTokensAreRefusedWithTokenAndPosition) {
  struct Case {
    std::string text;
    std::size_t position;
    std::string token;
  };
  const std::vector<Case> cases = {
      {"12 34 GG", 3, "GG"},         {"1", 1, "1"},
      {"12 123", 2, "123"},          {"0x12", 1, "0x12"},
      {"b1xxx000", 1, "b1xxx000"},   {"b1xxx00001", 1, "b1xxx00001"},
      {"b1xxx000y", 1, "b1xxx000y"}, {"c10101010", 1, "c10101010"},
      {"12 * 34", 2, "*"},           {"* *", 1, "*"},
      {"12 ** ", 2, "**"},           {"１２", 1, "１２"},
  };
  for (const Case& c : cases) {
    const PatternParse parse = AnswerPattern::Parse(c.text);
    ASSERT_FALSE(parse.Ok()) << c.text;
    EXPECT_EQ(parse.error.position, c.position) << c.text;
    EXPECT_EQ(parse.error.token, c.token) << c.text;
  }
  EXPECT_EQ(AnswerPattern::Parse("12 34 GG").error.message,
            "期待応答の 3 番目の語 \"GG\" は 2 桁の 16 進数（どちらの桁も ? 可）でも、"
            "b と 0・1・x の 8 文字でもありません。");
  EXPECT_EQ(AnswerPattern::Parse("12 * 34").error.message,
            "期待応答の 2 番目の語 \"*\" は最後の語にしか書けません。");
  for (const char* empty : {"", " \t\r\n"}) {
    const PatternParse parse = AnswerPattern::Parse(empty);
    ASSERT_FALSE(parse.Ok());
    EXPECT_EQ(parse.error.position, 0u);
    EXPECT_EQ(parse.error.message, "期待応答に語がありません。");
  }
}

// Every two-character token of hex digits (both cases) and "?" against every byte value.
TEST(AnswerPatternTest, EveryHexTokenAgainstEveryByte) {
  const std::string chars = "0123456789abcdefABCDEF?";
  const auto half_fits = [](char c, int nibble) {
    return c == '?' || std::stoi(std::string(1, c), nullptr, 16) == nibble;
  };
  for (char high : chars) {
    for (char low : chars) {
      const std::string token{high, low};
      const auto byte = ByteToken(token);
      ASSERT_TRUE(byte) << token;
      for (int v = 0; v < 256; ++v) {
        const bool fits = half_fits(high, v >> 4) && half_fits(low, v & 0xF);
        ASSERT_EQ(byte->Fits(static_cast<uint8_t>(v)), fits) << token << " " << v;
      }
    }
  }
  for (int v = 0; v < 256; ++v) {
    char own[3];
    std::snprintf(own, sizeof own, "%02X", v);
    EXPECT_TRUE(Parsed(own).Fits(Bytes{static_cast<uint8_t>(v)})) << own;
    EXPECT_TRUE(Parsed("??").Fits(Bytes{static_cast<uint8_t>(v)})) << v;
  }
}

// All 3^8 bit tokens against every byte value.
TEST(AnswerPatternTest, EveryBitTokenAgainstEveryByte) {
  const char kBit[] = {'0', '1', 'x'};
  for (int code = 0; code < 6561; ++code) {
    std::string token = "b";
    for (int i = 0, rest = code; i < 8; ++i, rest /= 3) token += kBit[rest % 3];
    const auto byte = ByteToken(token);
    ASSERT_TRUE(byte) << token;
    for (int v = 0; v < 256; ++v) {
      bool fits = true;
      for (int i = 0; i < 8; ++i) {
        const char c = token[1 + i];
        const int bit = (v >> (7 - i)) & 1;  // bit 7 first
        if (c != 'x' && c - '0' != bit) fits = false;
      }
      ASSERT_EQ(byte->Fits(static_cast<uint8_t>(v)), fits) << token << " " << v;
    }
  }
}

TEST(AnswerPatternTest, LengthRuleAndDifferingOffsets) {
  const AnswerPattern exact = Parsed("01 02 03");
  EXPECT_TRUE(exact.Fits(Bytes{1, 2, 3}));
  EXPECT_FALSE(exact.Fits(Bytes{1, 2, 3, 4}));
  EXPECT_FALSE(exact.Fits(Bytes{1, 2}));
  EXPECT_EQ(exact.DifferingOffsets(Bytes{1, 2, 3}, 16), Offsets{});
  EXPECT_EQ(exact.DifferingOffsets(Bytes{1, 0xFF, 3, 4, 5}, 16), (Offsets{1, 3, 4}))
      << "extra bytes differ without *";
  EXPECT_EQ(exact.DifferingOffsets(Bytes{0}, 16), (Offsets{0, 1, 2}))
      << "a short answer reports its missing offsets";

  const AnswerPattern open = Parsed("01 ?? *");
  EXPECT_TRUE(open.Fits(Bytes{1, 9}));
  EXPECT_TRUE(open.Fits(Bytes{1, 9, 7, 7}));
  EXPECT_EQ(open.DifferingOffsets(Bytes{2, 9, 7, 7}, 16), Offsets{0});
  EXPECT_EQ(open.DifferingOffsets(Bytes{1}, 16), Offsets{1});

  EXPECT_EQ(exact.DifferingOffsets(Bytes(40, 0xEE), 16).size(), 16u);
  EXPECT_EQ(exact.DifferingOffsets(Bytes(40, 0xEE), 16).back(), 15u);
  EXPECT_EQ(exact.DifferingOffsets(Bytes(40, 0xEE), 2), (Offsets{0, 1}));
}

}  // namespace
}  // namespace ostrel
