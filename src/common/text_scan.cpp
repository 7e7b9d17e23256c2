#include "text_scan.h"

namespace ostrel {
namespace {

template <typename Strip>
std::string_view TrimIf(std::string_view text, Strip strip) {
  while (!text.empty() && strip(text.front())) text.remove_prefix(1);
  while (!text.empty() && strip(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) { return TrimIf(text, IsBlank); }

std::string_view TrimSpaces(std::string_view text) {
  return TrimIf(text, [](char c) { return c == ' '; });
}

std::optional<uint8_t> ByteTextValue(std::string_view text) {
  if (text.empty() || text.size() > 2) return std::nullopt;
  int value = 0;
  for (char c : text) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + digit;
  }
  return static_cast<uint8_t>(value);
}

}  // namespace ostrel
