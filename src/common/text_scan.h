#pragma once
// The character tests and trims that the program's parsers share: blanks, trimming and
// hexadecimal digits.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ostrel {

// A blank is a space or a tab.
constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// `text` without its leading and trailing blanks (spaces and tabs).
std::string_view TrimBlanks(std::string_view text);

// `text` without its leading and trailing spaces; tabs stay.
std::string_view TrimSpaces(std::string_view text);

// The value of every character as a hexadecimal digit, -1 for a character that is none:
// a look-up without branches, as the digits of a payload follow no pattern a branch could
// learn.
inline constexpr std::array<int8_t, 256> kHexDigitValues = [] {
  std::array<int8_t, 256> values{};
  values.fill(-1);
  for (int d = 0; d < 10; ++d) values['0' + d] = static_cast<int8_t>(d);
  for (int d = 0; d < 6; ++d) {
    values['A' + d] = static_cast<int8_t>(10 + d);
    values['a' + d] = static_cast<int8_t>(10 + d);
  }
  return values;
}();

// The value of a hexadecimal digit in either case, or -1 for any other character.
constexpr int HexDigitValue(char c) { return kHexDigitValues[static_cast<unsigned char>(c)]; }

// The value of a byte text: one or two hexadecimal digits in either case give 0..255;
// anything else (empty, longer, a blank, a sign, a non-ASCII character) gives nothing.
std::optional<uint8_t> ByteTextValue(std::string_view text);

}  // namespace ostrel
