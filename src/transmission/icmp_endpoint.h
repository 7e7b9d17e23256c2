#pragma once
// The operating system's side of the reachability check: one ICMP socket that sends
// messages to IPv4 addresses and hands back what arrives. Everything above it (the echo
// request, the recognition of the reply, the waiting) is shared code in echo_probe.h, so a
// test can put a fake endpoint here and drop a reply, fail a send or answer from the wrong
// address without root.

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace ostrel {

// How the open socket treats ICMP messages.
enum class IcmpSocketKind {
  // socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP): the kernel sets the echo identifier and
  // the checksum of what is sent, delivers only replies to that identifier, and hands
  // them over without their IP header.
  kDatagram,
  // socket(AF_INET, SOCK_RAW, IPPROTO_ICMP): messages go out as given; every ICMP packet
  // that reaches the host arrives, IP header first.
  kRaw,
};

enum class ReceiveStatus {
  kPacket,   // one packet was taken
  kNothing,  // nothing waits
  kError,    // the socket failed
};

class IcmpEndpoint {
 public:
  virtual ~IcmpEndpoint() = default;

  // Opens the socket, non-blocking. False when no ICMP socket can be had.
  virtual bool Open() = 0;
  // Closes the socket; harmless when it is not open. The destructor closes as well.
  virtual void Close() = 0;
  // Valid after a successful Open.
  virtual IcmpSocketKind Kind() const = 0;
  // The descriptor to wait on for arriving packets; -1 while closed.
  virtual int Descriptor() const = 0;
  // Sends `message` (an ICMP message, header first) to `to`. False when the system
  // refused it.
  virtual bool Send(in_addr to, std::span<const uint8_t> message) = 0;
  // Takes one waiting packet without waiting: its first bytes go to `buffer` (the rest
  // of a longer packet is dropped), their count to `size`, its sender to `from`.
  virtual ReceiveStatus Receive(std::span<uint8_t> buffer, size_t& size, in_addr& from) = 0;
};

// Makes a fresh, unopened endpoint; one per echo exchange.
using IcmpEndpointFactory = std::function<std::unique_ptr<IcmpEndpoint>()>;

// The real ICMP socket. By default an unprivileged datagram socket (allowed when our
// group is inside net.ipv4.ping_group_range), else a raw socket (root or CAP_NET_RAW).
class SystemIcmpEndpoint final : public IcmpEndpoint {
 public:
  enum class Choice { kDatagramThenRaw, kDatagramOnly, kRawOnly };

  explicit SystemIcmpEndpoint(Choice choice = Choice::kDatagramThenRaw) : choice_(choice) {}
  ~SystemIcmpEndpoint() override;
  SystemIcmpEndpoint(const SystemIcmpEndpoint&) = delete;
  SystemIcmpEndpoint& operator=(const SystemIcmpEndpoint&) = delete;

  bool Open() override;
  void Close() override;
  IcmpSocketKind Kind() const override { return kind_; }
  int Descriptor() const override { return fd_; }
  bool Send(in_addr to, std::span<const uint8_t> message) override;
  ReceiveStatus Receive(std::span<uint8_t> buffer, size_t& size, in_addr& from) override;

 private:
  Choice choice_;
  IcmpSocketKind kind_ = IcmpSocketKind::kDatagram;
  int fd_ = -1;
};

// Makes SystemIcmpEndpoint objects of the default choice.
std::unique_ptr<IcmpEndpoint> MakeSystemIcmpEndpoint();

}  // namespace ostrel
