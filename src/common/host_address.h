#pragma once
// The one rule by which a destination text becomes an IPv4 address, for the reachability
// check and the socket alike: dotted text as the system's inet_aton reads it ("127.0.0.1",
// also "127.1" or "0x7f.1"), else the first IPv4 address getaddrinfo finds for the name
// (which may block while the resolver works).

#include <netinet/in.h>

#include <optional>
#include <string>

namespace ostrel {

// The address of `host`; empty when nothing resolves, for the empty text and for a text
// holding a NUL character.
std::optional<in_addr> ResolveHostAddress(const std::string& host);

}  // namespace ostrel
