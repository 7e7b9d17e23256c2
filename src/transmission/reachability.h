#pragma once
// The reachability check the send cycle makes before it transmits: ICMP echo requests
// without payload to the destination, through the way this process decided on
// (echo_way.h): an ICMP socket (icmp_endpoint.h) or the system's ping program.
//
// PingHost and CheckPing block the calling thread for up to their time-outs; the send
// cycle uses the event-driven PingCheck (ping_check.h), which asks the same questions
// without stopping the event loop. Neither logs, shows or throws anything: every failure
// (no address, no way to ping, a failed send, no reply) is a plain false.

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>

#include "transmission/echo_probe.h"
#include "transmission/icmp_endpoint.h"

namespace ostrel {

// What CheckPing asks of PingHost per try: one request, 300 ms.
constexpr int16_t kCheckPingTimeOut = 300;
constexpr int16_t kCheckPingCount = 1;

// The IPv4 address to ping for `strHost`: dotted text as the system's inet_aton reads it
// ("127.0.0.1", also "127.1" or "0x7f.1"), else the first IPv4 address getaddrinfo finds
// for the name (which may block while the resolver works). Empty when nothing resolves,
// when the text holds a NUL character, and for 255.255.255.255, which stands for "no
// address" and is never pinged.
std::optional<in_addr> ResolvePingTarget(const std::string& strHost);

// Sends up to `intCount` echo requests to `strHost`, one after the other, waiting at most
// `intTimeOut` milliseconds (negative counts as 0) for each. True as soon as an echo reply
// from that address arrives. False without any request when `intCount` is 0 or less or
// the host has no address; a request that cannot be sent counts as unanswered. The ICMP
// socket is opened once per call and closed before returning; a ping program still
// running at the end of its wait is killed.
bool PingHost(const std::string& strHost, int16_t intTimeOut, int16_t intCount);
// The same over exchanges from `make_exchange`, or over ICMP sockets from `open_endpoint`.
bool PingHost(const std::string& strHost, int16_t intTimeOut, int16_t intCount,
              const EchoExchangeFactory& make_exchange);
bool PingHost(const std::string& strHost, int16_t intTimeOut, int16_t intCount,
              const IcmpEndpointFactory& open_endpoint);

// PingHost(strHost, 300, 1) up to `bytTries` times in a row, true at the first success.
// False at once when `bytTries` is 0.
bool CheckPing(const std::string& strHost, uint8_t bytTries);
bool CheckPing(const std::string& strHost, uint8_t bytTries,
               const EchoExchangeFactory& make_exchange);
bool CheckPing(const std::string& strHost, uint8_t bytTries,
               const IcmpEndpointFactory& open_endpoint);

}  // namespace ostrel
