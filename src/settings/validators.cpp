#include "validators.h"

#include <array>
#include <cstddef>

#include "common/numeric_text.h"
#include "common/tool_kind.h"
#include "logging/error_handler.h"

namespace ostrel {
namespace {

// The send period allowed to every sending kind, by unit: milliseconds (65535 is the
// largest timer interval), seconds, minutes.
constexpr std::array<IntervalLimits, 3> kSendIntervalLimits{{
    {2000, 65535, true},
    {2, 600, true},
    {1, 60, true},
}};

}  // namespace

bool CheckIpAddress(std::string_view strIpAddress) {
  bool blnResult = false;
  RunHandled("CheckIpAddress", [&] {
    if (strIpAddress.empty()) return;

    // Split at every "."; an empty part, between two dots or at either end, counts.
    std::array<std::string_view, 4> parts;
    std::size_t count = 0;
    std::size_t start = 0;
    while (true) {
      const std::size_t dot = strIpAddress.find('.', start);
      if (count == parts.size()) return;  // a fifth part
      parts[count++] = strIpAddress.substr(
          start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
      if (dot == std::string_view::npos) break;
      start = dot + 1;
    }
    if (count != parts.size()) return;

    // First to last: a non-numeric part ends the check before a later part can overflow.
    for (std::string_view part : parts) {
      if (!IsNumericText(part)) return;
      const int16_t v = TextToInteger(part);
      if (v < 0 || v > 255) return;
    }
    blnResult = true;
  });
  return blnResult;
}

bool CheckPortNo(std::string_view strPortNo) {
  bool blnResult = false;
  RunHandled("CheckPortNo", [&] {
    if (strPortNo.empty() || !IsNumericText(strPortNo)) return;
    const int32_t v = TextToLong(strPortNo);
    blnResult = v >= 0 && v < 65536;
  });
  return blnResult;
}

bool CheckInterval(std::string_view strInterval, int16_t intKind, int16_t intUnit) {
  bool blnResult = false;
  RunHandled("CheckInterval", [&] {
    if (!IsNumericText(strInterval)) return;
    // Converted before the kind is looked at, so an overflow is logged for any kind.
    const int32_t v = TextToLong(strInterval);
    if (!IsSendingKind(intKind)) return;
    const IntervalLimits limits = SendIntervalLimits(intUnit);
    blnResult = limits.valid && limits.lower <= v && v <= limits.upper;
  });
  return blnResult;
}

IntervalLimits SendIntervalLimits(int intUnit) {
  if (intUnit < 0 || intUnit >= static_cast<int>(kSendIntervalLimits.size())) return {};
  return kSendIntervalLimits[static_cast<std::size_t>(intUnit)];
}

}  // namespace ostrel
