#pragma once
// Which way this process sends its echo requests: an ICMP datagram socket (allowed when
// our group is inside net.ipv4.ping_group_range), else a raw ICMP socket (root or
// CAP_NET_RAW), else the system's ping program (ping_program.h). The way is decided at the
// first check and kept; a failure of that way later is just a failed check.
//
// A way is passed over only when the system refuses it for good (socket() says EACCES or
// EPERM, or knows no ICMP sockets; no program at the fixed paths). A socket that cannot be
// had for want of descriptors or memory decides nothing: that check fails, and the next
// one decides.

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "transmission/echo_probe.h"
#include "transmission/icmp_endpoint.h"

namespace ostrel {

enum class EchoWay { kNone, kDatagramSocket, kRawSocket, kPingProgram };

// What the choice asks of the system. Tests replace the pieces.
struct EchoWaySystem {
  // Opens and at once closes an ICMP socket of `kind`: 0 when it opened, else the errno.
  std::function<int(IcmpSocketKind kind)> try_socket;
  // Where the ping program is looked for, in order.
  std::vector<std::string> ping_paths;
  // The system's sockets and kPingProgramPaths.
  static EchoWaySystem Real();
};

// True when `error` from socket() means this kind of socket is refused to this process,
// not merely unavailable right now.
bool IsRefusal(int error);

class EchoWays {
 public:
  explicit EchoWays(EchoWaySystem system);
  EchoWays(const EchoWays&) = delete;
  EchoWays& operator=(const EchoWays&) = delete;

  // The way, deciding it when it is not decided yet; kNone when there is none, or (not
  // kept) when the decision had to wait.
  EchoWay Way();
  // A fresh exchange with `target` through the way; null when there is none.
  std::unique_ptr<EchoExchange> Make(in_addr target);
  // Make, bound to this object, which must outlive the factory.
  EchoExchangeFactory Factory();

  // The one of this process, over the real system.
  static EchoWays& Process();

 private:
  EchoWaySystem system_;
  std::mutex mutex_;
  std::optional<EchoWay> way_;
  std::string ping_program_;  // for kPingProgram
};

}  // namespace ostrel
