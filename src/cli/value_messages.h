#pragma once
// What ostrel-send says about a value it cannot use, from the command line or from the
// settings file: the program's own message for that value and its valid range, in the
// program's "lower～upper" form.

#include <cstdint>
#include <limits>
#include <string>

#include "settings/com_setting.h"

namespace ostrel {

struct ValueRule {
  const char* message;
  int64_t lower = 0;
  int64_t upper = 0;
  const char* range = nullptr;  // a range that is not numeric, shown as it stands
};

namespace value_msg {
inline constexpr ValueRule kDestIp{com_setting_msg::kBadDestIP, 0, 0, "0.0.0.0～255.255.255.255"};
inline constexpr ValueRule kDestPort{com_setting_msg::kBadDestPort, 0, 65535};
inline constexpr ValueRule kSrcPort{com_setting_msg::kBadSrcPort, 0, 65535};
inline constexpr ValueRule kTimeOut{"UDP応答タイムアウト値が不正です。",
                                    std::numeric_limits<int32_t>::min(),
                                    std::numeric_limits<int32_t>::max()};
inline constexpr ValueRule kRetries{"共通のリトライ回数が不正です。",
                                    std::numeric_limits<int16_t>::min(),
                                    std::numeric_limits<int16_t>::max()};
inline constexpr ValueRule kPingRetries{"Pingリトライ回数が不正です。",
                                        std::numeric_limits<int16_t>::min(),
                                        std::numeric_limits<int16_t>::max()};
// A scripted run may poll as often as it needs to, up to once an hour; the window's send
// period keeps the settings' own limits.
inline constexpr ValueRule kInterval{com_setting_msg::kBadSendInterval, 0, 3'600'000};
inline constexpr ValueRule kCount{"送信回数が不正です。", 0, std::numeric_limits<int32_t>::max()};
}  // namespace value_msg

// The send period in `unit` (0 ms, 1 s, 2 min) with the limits CheckInterval applies.
ValueRule IntervalRule(int unit);

// "送信先ポート番号が不正です。(0～65535)"
std::string RuleMessage(const ValueRule& rule);

}  // namespace ostrel
