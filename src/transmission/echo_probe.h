#pragma once
// One ICMP echo exchange with one IPv4 address, made by each try of PingCheck.
// EchoExchange is what the check waits on: a descriptor that becomes
// readable when something may have happened. EchoProbe is the exchange over an ICMP
// socket, the one place that builds an echo request and recognises its reply; the system's
// ping program is the other kind (ping_program.h). The waiting itself is the caller's
// (poll, or a socket notifier and a timer).

#include <netinet/in.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "transmission/icmp_endpoint.h"

namespace ostrel {

// An echo request is the bare 8-byte ICMP header: no payload.
constexpr size_t kEchoRequestSize = 8;

// The echo request with `identifier` and `sequence`, checksum filled in.
std::array<uint8_t, kEchoRequestSize> BuildEchoRequest(uint16_t identifier, uint16_t sequence);

// True when `packet`, as received from `from` on a socket of `kind`, is an echo reply of
// `target` to a request with `identifier`. A datagram socket delivers only replies to its
// own identifier (which the kernel chose), so there the identifier is not compared.
bool IsEchoReply(std::span<const uint8_t> packet, in_addr from, IcmpSocketKind kind, in_addr target,
                 uint16_t identifier);

enum class ReplyState {
  kAnswered,  // an echo reply of the target arrived
  kWaiting,   // nothing of ours has arrived yet
  kFailed,    // the socket failed; no reply will come on it
};

// One target, one or more echo requests one after the other, each waited for by the
// caller: Open, then per request SendRequest and, whenever Descriptor is readable,
// TakeReplies until it is no longer kWaiting or WaitLimit has passed. Everything is
// released by Close, at the latest by the destructor.
class EchoExchange {
 public:
  virtual ~EchoExchange() = default;
  // False when the exchange cannot be had (no socket, no program).
  virtual bool Open() = 0;
  virtual void Close() = 0;
  // The descriptor to wait on; -1 while closed.
  virtual int Descriptor() const = 0;
  // Sends the next echo request, to be answered within `timeout`. False when it could not
  // be sent.
  virtual bool SendRequest(std::chrono::milliseconds timeout) = 0;
  // Looks at what has happened since, without waiting.
  virtual ReplyState TakeReplies() = 0;
  // How long the caller waits after SendRequest(timeout) before it counts the request as
  // unanswered.
  virtual std::chrono::milliseconds WaitLimit(std::chrono::milliseconds timeout) const {
    return timeout;
  }
};

// Makes a fresh, unopened exchange with `target`, or null when there is none to be had.
using EchoExchangeFactory = std::function<std::unique_ptr<EchoExchange>(in_addr target)>;

// Exchanges over ICMP sockets made by `open_endpoint`.
EchoExchangeFactory SocketExchanges(IcmpEndpointFactory open_endpoint);

class EchoProbe final : public EchoExchange {
 public:
  // `endpoint` may be null (then Open fails). It is closed at the latest by the
  // destructor.
  EchoProbe(std::unique_ptr<IcmpEndpoint> endpoint, in_addr target);
  ~EchoProbe() override;
  EchoProbe(const EchoProbe&) = delete;
  EchoProbe& operator=(const EchoProbe&) = delete;

  // False when no ICMP socket could be opened.
  bool Open() override;
  void Close() override;
  int Descriptor() const override;

  // Sends the next echo request (sequence numbers 1, 2, …); the socket needs no time-out.
  bool SendRequest(std::chrono::milliseconds timeout) override;
  // Reads every packet that waits, without waiting.
  ReplyState TakeReplies() override;

 private:
  std::unique_ptr<IcmpEndpoint> endpoint_;
  in_addr target_;
  uint16_t identifier_;
  uint16_t sequence_ = 0;
  bool open_ = false;
};

}  // namespace ostrel
