#include "host_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

namespace ostrel {
namespace {

std::optional<in_addr> LookUpName(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;  // one entry per address
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return std::nullopt;
  std::optional<in_addr> address;
  for (const addrinfo* entry = found; entry != nullptr && !address; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
      address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
    }
  }
  freeaddrinfo(found);
  return address;
}

}  // namespace

std::optional<in_addr> ResolveHostAddress(const std::string& host) {
  if (host.empty() || host.find('\0') != std::string::npos) return std::nullopt;
  in_addr address{};
  if (inet_aton(host.c_str(), &address) != 0) return address;
  return LookUpName(host);
}

}  // namespace ostrel
