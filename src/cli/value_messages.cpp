#include "value_messages.h"

#include "settings/validators.h"

namespace ostrel {

ValueRule IntervalRule(int unit) {
  const IntervalLimits limits = SendIntervalLimits(unit);
  return {com_setting_msg::kBadSendInterval, limits.lower, limits.upper};
}

std::string RuleMessage(const ValueRule& rule) {
  const std::string range =
      rule.range ? rule.range : std::to_string(rule.lower) + "～" + std::to_string(rule.upper);
  return std::string(rule.message) + "(" + range + ")";
}

}  // namespace ostrel
