#include "display_text.h"

#include <cstdio>

namespace ostrel {
namespace {

// Hexadecimal of the value as a two's-complement 32-bit number for negatives,
// like the platform's Hex().
std::string Hex(long long value) {
  char buffer[32];
  const unsigned long long v =
      value < 0 ? static_cast<unsigned long long>(static_cast<unsigned int>(value)) : value;
  std::snprintf(buffer, sizeof buffer, "%llX", v);
  return buffer;
}

std::string LastChars(const std::string& text, std::size_t n) {
  return text.size() <= n ? text : text.substr(text.size() - n);
}

}  // namespace

std::string HexText2(long long value) { return LastChars("00" + Hex(value), 2); }

std::string HexText4(long long value) { return LastChars("0000" + Hex(value), 4); }

std::string DateTimeText(const LocalTime& t) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02d/%02d/%02d %02d:%02d:%02d", t.year % 100, t.month,
                t.day, t.hour, t.minute, t.second);
  return buffer;
}

std::string NowDateTimeText() { return DateTimeText(CurrentClock().Now()); }

}  // namespace ostrel
