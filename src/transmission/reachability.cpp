#include "reachability.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "transmission/echo_probe.h"
#include "transmission/echo_way.h"

namespace ostrel {
namespace {

using std::chrono::steady_clock;

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

// Waits up to `limit` for the reply to the request just sent.
ReplyState AwaitReply(EchoExchange& probe, std::chrono::milliseconds limit) {
  const auto deadline = steady_clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - steady_clock::now());
    pollfd waiting{probe.Descriptor(), POLLIN, 0};
    const int ready = poll(&waiting, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (ready < 0 && errno != EINTR) return ReplyState::kFailed;
    if (ready > 0) {
      const ReplyState state = probe.TakeReplies();
      if (state != ReplyState::kWaiting) return state;
    }
    if (steady_clock::now() >= deadline) return ReplyState::kWaiting;
  }
}

}  // namespace

std::optional<in_addr> ResolvePingTarget(const std::string& strHost) {
  if (strHost.find('\0') != std::string::npos) return std::nullopt;
  in_addr address{};
  std::optional<in_addr> found;
  if (inet_aton(strHost.c_str(), &address) != 0) {
    found = address;
  } else if (!strHost.empty()) {
    found = LookUpName(strHost);
  }
  if (found && found->s_addr == INADDR_NONE) return std::nullopt;
  return found;
}

bool PingHost(const std::string& strHost, int16_t intTimeOut, int16_t intCount) {
  return PingHost(strHost, intTimeOut, intCount, EchoWays::Process().Factory());
}

bool PingHost(const std::string& strHost, int16_t intTimeOut, int16_t intCount,
              const IcmpEndpointFactory& open_endpoint) {
  return PingHost(strHost, intTimeOut, intCount, SocketExchanges(open_endpoint));
}

bool PingHost(const std::string& strHost, int16_t intTimeOut, int16_t intCount,
              const EchoExchangeFactory& make_exchange) {
  try {
    if (intCount <= 0) return false;
    const std::optional<in_addr> target = ResolvePingTarget(strHost);
    if (!target) return false;
    const std::unique_ptr<EchoExchange> probe = make_exchange(*target);
    if (!probe || !probe->Open()) return false;
    const std::chrono::milliseconds timeout(std::max<int16_t>(intTimeOut, 0));
    for (int16_t i = 0; i < intCount; ++i) {
      if (!probe->SendRequest(timeout)) continue;
      if (AwaitReply(*probe, probe->WaitLimit(timeout)) == ReplyState::kAnswered) return true;
    }
    return false;
  } catch (...) {
    return false;
  }
}

bool CheckPing(const std::string& strHost, uint8_t bytTries) {
  return CheckPing(strHost, bytTries, EchoWays::Process().Factory());
}

bool CheckPing(const std::string& strHost, uint8_t bytTries,
               const IcmpEndpointFactory& open_endpoint) {
  return CheckPing(strHost, bytTries, SocketExchanges(open_endpoint));
}

bool CheckPing(const std::string& strHost, uint8_t bytTries,
               const EchoExchangeFactory& make_exchange) {
  for (int i = 0; i < bytTries; ++i) {
    if (PingHost(strHost, kCheckPingTimeOut, kCheckPingCount, make_exchange)) return true;
  }
  return false;
}

}  // namespace ostrel
