#pragma once
// Which sender may answer: the expectation's "from".

#include <cstdint>
#include <optional>
#include <string_view>

namespace ostrel {

// An IPv4 address (host byte order) and a UDP port.
struct Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
  friend bool operator==(const Endpoint&, const Endpoint&) = default;
};

enum class SenderRule {
  kAddress,         // "address": the destination's address, any port (the default)
  kAddressAndPort,  // "address-and-port": the destination's address and port
  kAny,             // "any": every sender
};

// "address", "address-and-port" or "any"; none for another text (the names are exact).
std::optional<SenderRule> SenderRuleFromName(std::string_view name);
const char* SenderRuleName(SenderRule rule);

// Whether an answer from `sender` is allowed after a transmission to `destination`.
bool SenderAllowed(SenderRule rule, const Endpoint& destination, const Endpoint& sender);

}  // namespace ostrel
