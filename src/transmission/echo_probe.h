#pragma once
// One ICMP echo exchange with one IPv4 address, shared by the blocking PingHost and the
// event-driven PingCheck: the one place that builds an echo request and recognises its
// reply. The waiting itself is the caller's (poll, or a socket notifier and a timer).

#include <netinet/in.h>

#include <array>
#include <cstdint>
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

class EchoProbe {
 public:
  // `endpoint` may be null (then Open fails). It is closed at the latest by the
  // destructor.
  EchoProbe(std::unique_ptr<IcmpEndpoint> endpoint, in_addr target);
  ~EchoProbe();
  EchoProbe(const EchoProbe&) = delete;
  EchoProbe& operator=(const EchoProbe&) = delete;

  // False when no ICMP socket could be opened.
  bool Open();
  void Close();
  // The descriptor to wait on; -1 while closed.
  int Descriptor() const;

  // Sends the next echo request (sequence numbers 1, 2, …). False when it could not be
  // sent.
  bool SendRequest();
  // Reads every packet that waits, without waiting.
  ReplyState TakeReplies();

 private:
  std::unique_ptr<IcmpEndpoint> endpoint_;
  in_addr target_;
  uint16_t identifier_;
  uint16_t sequence_ = 0;
  bool open_ = false;
};

}  // namespace ostrel
