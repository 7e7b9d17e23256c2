#include "display_text.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace ostrel {
namespace {

// The two upper-case hexadecimal digits of every byte value, 512 characters in all, so a
// grid fill of 2048 cells runs no formatting call.
struct HexPairs {
  char digits[256][2];
  constexpr HexPairs() : digits() {
    constexpr char kDigits[] = "0123456789ABCDEF";
    for (int v = 0; v < 256; ++v) {
      digits[v][0] = kDigits[v >> 4];
      digits[v][1] = kDigits[v & 0xF];
    }
  }
};
constexpr HexPairs kHexPairs;

}  // namespace

// Hexadecimal texts of negatives are those of the two's-complement 32-bit number, so the
// last digits are always those of the value's low bits.
std::string HexText2(long long value) {
  const char* pair = kHexPairs.digits[static_cast<unsigned long long>(value) & 0xFF];
  return std::string(pair, 2);
}

std::string HexText4(long long value) {
  const auto bits = static_cast<unsigned long long>(value);
  const char* high = kHexPairs.digits[(bits >> 8) & 0xFF];
  const char* low = kHexPairs.digits[bits & 0xFF];
  const char text[4] = {high[0], high[1], low[0], low[1]};
  return std::string(text, 4);
}

// Written digit by digit: every answer of a stream is stamped twice (its time label and
// its log line). A field outside 0..99, which no clock gives, is printed whole.
std::string DateTimeText(const LocalTime& t) {
  const int fields[] = {t.year % 100, t.month, t.day, t.hour, t.minute, t.second};
  if (std::any_of(std::begin(fields), std::end(fields), [](int v) { return v < 0 || v > 99; })) {
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%02d %02d:%02d:%02d", fields[0], fields[1],
                  fields[2], fields[3], fields[4], fields[5]);
    return buffer;
  }
  char text[] = "00/00/00 00:00:00";
  for (int i = 0; i < 6; ++i) {
    text[i * 3] = static_cast<char>('0' + fields[i] / 10);
    text[i * 3 + 1] = static_cast<char>('0' + fields[i] % 10);
  }
  return std::string(text, sizeof text - 1);
}

std::string NowDateTimeText() { return DateTimeText(CurrentClock().Now()); }

}  // namespace ostrel
