#pragma once
// The reachability check the send cycle makes before it transmits: ICMP echo requests
// without payload to the destination, through the way this process decided on
// (echo_way.h): an ICMP socket (icmp_endpoint.h) or the system's ping program. The check
// itself is the event-driven PingCheck (ping_check.h); here is what each of its tries asks.

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>

namespace ostrel {

// Each try of a check: one echo request, answered within 300 ms.
constexpr int16_t kCheckPingTimeOut = 300;

// The IPv4 address to ping for `strHost`, as ResolveHostAddress finds it; empty also for
// 255.255.255.255, which stands for "no address" and is never pinged.
std::optional<in_addr> ResolvePingTarget(const std::string& strHost);

}  // namespace ostrel
