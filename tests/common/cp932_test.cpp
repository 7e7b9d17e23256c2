#include "common/cp932.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ostrel {
namespace {

// Bytes as "82 A0" for readable failures.
std::string HexBytes(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

TEST(Cp932Test, KnownCharactersHaveTheirCodePageBytes) {
  struct Case {
    const char* utf8;
    const char* cp932;
  };
  const Case cases[] = {
      {"", ""},           {"abc 123\r\n", "abc 123\r\n"},
      {"あ", "\x82\xA0"}, {"オ", "\x83\x49"},
      {"ー", "\x81\x5B"}, {"。", "\x81\x42"},
      {"～", "\x81\x60"},  // the range separator of the settings messages
      {"①", "\x87\x40"},   // an NEC special character, only in code page 932
      {"ｱ", "\xB1"},       // half-width katakana is a single byte
      {"表", "\x95\x5C"},  // a trail byte that is the ASCII backslash
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HexBytes(Utf8ToCp932(c.utf8)), HexBytes(c.cp932)) << c.utf8;
    EXPECT_EQ(Cp932ToUtf8(c.cp932), c.utf8) << c.utf8;
  }
}

TEST(Cp932Test, JapaneseTextRoundTrips) {
  const std::vector<std::string> texts = {
      "オーバーフローしました。",
      "プロパティの値が無効です。",
      "送信先IPアドレスが不正です。2000～65535",
      "mixed ASCII とカタカナ ｶﾀｶﾅ and 漢字",
  };
  for (const auto& text : texts) {
    const std::string cp932 = Utf8ToCp932(text);
    EXPECT_EQ(cp932.find('?'), std::string::npos) << text;
    EXPECT_EQ(Cp932ToUtf8(cp932), text) << text;
  }
}

TEST(Cp932Test, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  struct Case {
    const char* utf8;
    const char* cp932;
  };
  const Case cases[] = {
      {"€", "?"}, {"😀", "?"}, {"a€b😀c", "a?b?c"}, {"한국어", "???"}, {"あ€あ", "\x82\xA0?\x82\xA0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HexBytes(Utf8ToCp932(c.utf8)), HexBytes(c.cp932)) << c.utf8;
  }
}

TEST(Cp932Test, InvalidUtf8BytesBecomeQuestionMarks) {
  struct Case {
    std::string utf8;
    std::string cp932;
  };
  const std::vector<Case> cases = {
      {"\xFF", "?"},
      {"a\xFF"
       "b",
       "a?b"},
      {"\x80", "?"},    // a stray continuation byte
      {"a\xC3", "a?"},  // cut off at the end
      {"\xC3"
       "a",
       "?a"},  // cut off in the middle
      {"\xE3\x81\x82\xFE", "\x82\xA0?"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HexBytes(Utf8ToCp932(c.utf8)), HexBytes(c.cp932)) << HexBytes(c.utf8);
  }
}

TEST(Cp932Test, InvalidCodePageBytesBecomeQuestionMarks) {
  struct Case {
    std::string cp932;
    std::string utf8;
  };
  const std::vector<Case> cases = {
      {"\xFF", "?"},           {"a\x82", "a?"},  // a lead byte cut off at the end
      {"a\x82\r\n", "a?\r\n"},                   // a stray lead byte leaves the line end alone
      {"\x82 b", "? b"},       {"\x82\xA0\xFD\x82\xA0", "あ?あ"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Cp932ToUtf8(c.cp932), c.utf8) << HexBytes(c.cp932);
  }
}

TEST(Cp932Test, EverySingleByteDecodesToOneCharacterOrAQuestionMark) {
  for (int b = 0; b < 256; ++b) {
    if (IsCp932LeadByte(static_cast<unsigned char>(b))) continue;
    const std::string utf8 = Cp932ToUtf8(std::string(1, static_cast<char>(b)));
    ASSERT_FALSE(utf8.empty()) << b;
    if (b < 0x80) {
      EXPECT_EQ(utf8, std::string(1, static_cast<char>(b))) << b;
    } else if (utf8 != "?") {
      EXPECT_EQ(Utf8ToCp932(utf8), std::string(1, static_cast<char>(b))) << b;
    }
  }
}

TEST(Cp932Test, PrefixLengthNeverSplitsADoubleByteCharacter) {
  // "aあbいう": a(1) あ(2) b(1) い(2) う(2) = 8 bytes.
  const std::string text = Utf8ToCp932("aあbいう");
  ASSERT_EQ(text.size(), 8u);
  const std::size_t expected[] = {0, 1, 1, 3, 4, 4, 6, 6, 8, 8, 8};
  for (std::size_t max = 0; max < std::size(expected); ++max) {
    const std::size_t n = Cp932PrefixLength(text, max);
    EXPECT_EQ(n, expected[max]) << "max " << max;
    EXPECT_EQ(Cp932ToUtf8(text.substr(0, n)).find('?'), std::string::npos) << "max " << max;
  }
  EXPECT_EQ(Cp932PrefixLength("", 255), 0u);
  EXPECT_EQ(Cp932PrefixLength(std::string(300, 'x'), 255), 255u);

  // A trail byte in the ASCII range ("表" is 95 5C) is never taken for a character start.
  const std::string table = Utf8ToCp932("表表");
  EXPECT_EQ(Cp932PrefixLength(table, 3), 2u);
}

}  // namespace
}  // namespace ostrel
