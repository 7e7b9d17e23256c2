#pragma once
// Display texts shared by the grids, the labels and the log.

#include <string>

#include "clock.h"

namespace ostrel {

// The last two characters of "00" followed by `value` in upper-case hexadecimal:
// 0 gives "00", 10 gives "0A", 255 gives "FF".
std::string HexText2(long long value);

// The last four characters of "0000" followed by `value` in upper-case hexadecimal:
// 0 gives "0000", 127 gives "007F".
std::string HexText4(long long value);

// "yy/mm/dd hh:mm:ss": two-digit year, month, day, 24-hour time.
std::string DateTimeText(const LocalTime& time);

// The date-time text of the current clock.
std::string NowDateTimeText();

}  // namespace ostrel
