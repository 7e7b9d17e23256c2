#include "sender_rule.h"

namespace ostrel {

std::optional<SenderRule> SenderRuleFromName(std::string_view name) {
  if (name == "address") return SenderRule::kAddress;
  if (name == "address-and-port") return SenderRule::kAddressAndPort;
  if (name == "any") return SenderRule::kAny;
  return std::nullopt;
}

const char* SenderRuleName(SenderRule rule) {
  constexpr const char* kNames[] = {"address", "address-and-port", "any"};  // by SenderRule
  return kNames[static_cast<int>(rule)];
}

bool SenderAllowed(SenderRule rule, const Endpoint& destination, const Endpoint& sender) {
  switch (rule) {
    case SenderRule::kAny:
      return true;
    case SenderRule::kAddressAndPort:
      return sender == destination;
    case SenderRule::kAddress:
      break;
  }
  return sender.address == destination.address;
}

}  // namespace ostrel
