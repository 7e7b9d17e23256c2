// The numeric test and the two integer conversions on arbitrary texts.
//
// Properties:
// - IsNumericText accepts exactly the grammar of numeric_text.h (checked against a
//   regular expression written from that grammar, for texts short enough for it);
// - a numeric text converts or raises the overflow error, nothing else; a text that is
//   not numeric raises the type-mismatch error from both conversions;
// - a decimal result lies within one half of the text's value (read independently with
//   strtold), and overflow is raised only for values that round outside 32 bits;
// - a hexadecimal text gives its 32-bit pattern, or overflows beyond eight digits;
// - TextToInteger agrees with TextToLong wherever the value fits 16 bits, else overflows.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <regex>
#include <string>

#include "common/numeric_text.h"
#include "common/run_time_error.h"
#include "fuzz_support.h"

namespace ostrel {
namespace {

// What a conversion did: its value, or the description it raised.
struct Outcome {
  std::optional<int32_t> value;
  std::string error;
};

template <typename Convert>
Outcome Run(Convert convert, std::string_view text) {
  try {
    return {convert(text), ""};
  } catch (const RunTimeError& error) {
    return {std::nullopt, error.Description()};
  } catch (...) {
    fuzz::Fail("a conversion raised something other than RunTimeError", __FILE__, __LINE__);
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The grammar of numeric_text.h, transcribed.
bool MatchesGrammar(const std::string& text) {
  static const std::regex grammar(
      "[ \\t]*"
      "(&[hH][0-9A-Fa-f]+"
      "|[+-]?([0-9]+(,[0-9]+)*(\\.[0-9]*)?|\\.[0-9]+)([eEdD][+-]?[0-9]+)?)"
      "[ \\t]*");
  return std::regex_match(text, grammar);
}

// The value of a decimal numeric text, read by the C library: commas dropped, a D exponent
// written as E.
long double DecimalValue(std::string_view text) {
  std::string plain;
  for (char c : Trimmed(text)) {
    if (c == ',') continue;
    plain.push_back(c == 'd' || c == 'D' ? 'e' : c);
  }
  return std::strtold(plain.c_str(), nullptr);
}

// The 32-bit pattern of "&H…", or nullopt beyond eight significant digits.
std::optional<int32_t> HexValue(std::string_view text) {
  std::string_view digits = Trimmed(text).substr(2);
  while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
  if (digits.size() > 8) return std::nullopt;
  const unsigned long value = std::strtoul(std::string(digits).c_str(), nullptr, 16);
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

void CheckDecimal(std::string_view text, const Outcome& long_outcome) {
  const long double value = DecimalValue(text);
  // strtold is exact to far better than this near the 32-bit limits.
  constexpr long double kSlack = 1e-6L;
  if (long_outcome.value) {
    FUZZ_CHECK(std::fabs(value - static_cast<long double>(*long_outcome.value)) <= 0.5L + kSlack);
  } else {
    // A half rounds to even: 2147483647.5 overflows, -2147483648.5 does not.
    FUZZ_CHECK(value >= 2147483647.5L - kSlack || value < -2147483648.5L + kSlack);
  }
}

}  // namespace
}  // namespace ostrel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ostrel;
  const std::string text(fuzz::AsText(data, size));

  const bool numeric = IsNumericText(text);
  if (text.size() <= 256) FUZZ_CHECK(numeric == MatchesGrammar(text));

  const Outcome as_long = Run([](std::string_view t) { return TextToLong(t); }, text);
  const Outcome as_integer = Run([](std::string_view t) { return TextToInteger(t); }, text);

  if (!numeric) {
    FUZZ_CHECK(as_long.error == desc::kTypeMismatch);
    FUZZ_CHECK(as_integer.error == desc::kTypeMismatch);
    return 0;
  }
  FUZZ_CHECK(as_long.value || as_long.error == desc::kOverflow);
  FUZZ_CHECK(as_integer.value || as_integer.error == desc::kOverflow);

  const std::string_view trimmed = Trimmed(text);
  if (trimmed.size() >= 2 && trimmed[0] == '&') {
    FUZZ_CHECK(as_long.value == HexValue(text));
  } else {
    CheckDecimal(text, as_long);
  }

  const bool fits_16 = as_long.value && *as_long.value >= std::numeric_limits<int16_t>::min() &&
                       *as_long.value <= std::numeric_limits<int16_t>::max();
  if (fits_16) {
    FUZZ_CHECK(as_integer.value == as_long.value);
  } else {
    FUZZ_CHECK(as_integer.error == desc::kOverflow);
  }
  return 0;
}
