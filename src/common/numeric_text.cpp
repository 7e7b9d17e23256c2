#include "numeric_text.h"

#include <limits>
#include <optional>
#include <string>

#include "run_time_error.h"

namespace ostrel {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A numeric text taken apart. A decimal text is ±digits × 10^exponent with the point
// after the first `int_length` digits (commas dropped). A hexadecimal text is the 32-bit
// pattern `hex_value`, unless it has more than eight significant digits.
//
// Decimals are rounded from their digits, not through a double, so a long tail such as
// "2.50000000000000000001" still rounds up and "2147483647.4999999999999" still fits.
struct ParsedNumber {
  bool hex = false;
  bool hex_too_long = false;
  uint32_t hex_value = 0;

  bool negative = false;
  std::string digits;
  std::size_t int_length = 0;
  int64_t exponent = 0;
};

// Exponents beyond this are saturated; any value so far out is 0 or an overflow anyway.
constexpr int64_t kExponentLimit = 1'000'000'000;

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<ParsedNumber> ParseHex(std::string_view text) {
  if (text.empty()) return std::nullopt;
  ParsedNumber number;
  number.hex = true;
  int significant = 0;
  for (char c : text) {
    const int d = HexDigitValue(c);
    if (d < 0) return std::nullopt;
    if (significant == 0 && d == 0) continue;
    if (significant == 8) {
      number.hex_too_long = true;
      continue;  // keep checking the remaining characters are hex digits
    }
    ++significant;
    number.hex_value = (number.hex_value << 4) | static_cast<uint32_t>(d);
  }
  return number;
}

std::optional<ParsedNumber> Parse(std::string_view text) {
  text = TrimBlanks(text);
  if (text.size() >= 2 && text[0] == '&' && (text[1] == 'H' || text[1] == 'h')) {
    return ParseHex(text.substr(2));
  }

  ParsedNumber number;
  std::size_t i = 0;
  const std::size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) number.negative = text[i++] == '-';

  // Integer digits, grouped by single commas between digits.
  while (i < n) {
    if (IsDigit(text[i])) {
      number.digits.push_back(text[i++]);
    } else if (text[i] == ',' && !number.digits.empty() && i + 1 < n && IsDigit(text[i + 1])) {
      ++i;
    } else {
      break;
    }
  }
  number.int_length = number.digits.size();

  // Fraction: "5." and ".5" are numbers, "." alone is not.
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) number.digits.push_back(text[i++]);
  }
  if (number.digits.empty()) return std::nullopt;

  // Exponent: E or D, an optional sign, at least one digit.
  if (i < n && (text[i] == 'E' || text[i] == 'e' || text[i] == 'D' || text[i] == 'd')) {
    ++i;
    bool exponent_negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) exponent_negative = text[i++] == '-';
    if (i >= n || !IsDigit(text[i])) return std::nullopt;
    int64_t exponent = 0;
    while (i < n && IsDigit(text[i])) {
      if (exponent < kExponentLimit) exponent = exponent * 10 + (text[i] - '0');
      ++i;
    }
    number.exponent = exponent_negative ? -exponent : exponent;
  }
  if (i != n) return std::nullopt;
  return number;
}

[[noreturn]] void ThrowOverflow() { throw RunTimeError(desc::kOverflow); }

// The value rounded to the nearest integer, halves to even, within the 32-bit range.
int32_t RoundedValue(std::string_view text) {
  const std::optional<ParsedNumber> parsed = Parse(text);
  if (!parsed) throw RunTimeError(desc::kTypeMismatch);
  const ParsedNumber& number = *parsed;

  if (number.hex) {
    if (number.hex_too_long) ThrowOverflow();
    return static_cast<int32_t>(number.hex_value);
  }

  const std::size_t first = number.digits.find_first_not_of('0');
  if (first == std::string::npos) return 0;

  // Decimal exponent of the first significant digit: the value is d.ddd × 10^magnitude.
  const int64_t magnitude =
      static_cast<int64_t>(number.int_length) - static_cast<int64_t>(first) - 1 + number.exponent;
  if (magnitude >= 10) ThrowOverflow();  // at least 1e10, beyond 32 bits
  if (magnitude <= -2) return 0;         // below 0.1, rounds to 0

  // Round the decimal digits exactly: the integer part is the first magnitude + 1
  // significant digits (zeros past the end), the fraction decides the rounding.
  const std::string_view significant = std::string_view(number.digits).substr(first);
  const std::size_t int_digits = static_cast<std::size_t>(magnitude + 1);  // 0..10
  int64_t value = 0;
  for (std::size_t k = 0; k < int_digits; ++k) {
    value = value * 10 + (k < significant.size() ? significant[k] - '0' : 0);
  }
  if (int_digits < significant.size()) {
    const std::string_view fraction = significant.substr(int_digits);
    const bool beyond_half = fraction.find_first_not_of('0', 1) != std::string_view::npos;
    if (fraction[0] > '5' || (fraction[0] == '5' && (beyond_half || value % 2 != 0))) ++value;
  }
  if (number.negative) value = -value;
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    ThrowOverflow();
  }
  return static_cast<int32_t>(value);
}

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsNumericText(std::string_view text) { return Parse(text).has_value(); }

int32_t TextToLong(std::string_view text) { return RoundedValue(text); }

// A hexadecimal text is read as 32 bits first and then range-checked like any other
// value, so &HFFFF (65535) overflows here while &HFFFFFFFF (-1) fits.
int16_t TextToInteger(std::string_view text) {
  const int32_t value = RoundedValue(text);
  if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max()) {
    ThrowOverflow();
  }
  return static_cast<int16_t>(value);
}

}  // namespace ostrel
