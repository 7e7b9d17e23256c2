#pragma once
// Validators of the communication settings. Each returns a Boolean and shows nothing.
// An overflow of the integer conversion is logged as "description(CheckXxx)" and gives
// False; a value merely out of range gives False without a line.

#include <cstdint>
#include <string_view>

namespace ostrel {

// True for a dotted IPv4 address of exactly four numeric parts 0..255 (any form the
// numeric test accepts: " 1", "1e2", "&HFF").
bool CheckIpAddress(std::string_view strIpAddress);

// True for a number 0..65535 (rounded to the nearest integer, halves to even).
bool CheckPortNo(std::string_view strPortNo);

// True when `strInterval` is a send period allowed for tool kind `intKind` in unit
// `intUnit` (0 milliseconds, 1 seconds, 2 minutes). Receiving kinds never pass.
bool CheckInterval(std::string_view strInterval, int16_t intKind, int16_t intUnit);

// The range of a send period in one unit, as the settings dialog shows it ("2000～65535").
// A unit outside 0..2 has no range: both limits 0, and `valid` false.
struct IntervalLimits {
  int32_t lower = 0;
  int32_t upper = 0;
  bool valid = false;
};
IntervalLimits SendIntervalLimits(int intUnit);

}  // namespace ostrel
