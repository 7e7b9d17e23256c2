#include "echo_way.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "transmission/ping_program.h"

namespace ostrel {
namespace {

int TrySystemSocket(IcmpSocketKind kind) {
  const int type = kind == IcmpSocketKind::kDatagram ? SOCK_DGRAM : SOCK_RAW;
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) return errno;
  close(fd);
  return 0;
}

}  // namespace

EchoWaySystem EchoWaySystem::Real() { return {TrySystemSocket, kPingProgramPaths}; }

bool IsRefusal(int error) {
  switch (error) {
    case EACCES:        // a datagram socket outside ping_group_range
    case EPERM:         // a raw socket without CAP_NET_RAW
    case EAFNOSUPPORT:  // a kernel without IPv4 or ICMP sockets
    case EPROTONOSUPPORT:
    case ESOCKTNOSUPPORT:
      return true;
    default:  // EMFILE, ENFILE, ENOBUFS, ENOMEM: short of resources now
      return false;
  }
}

EchoWays::EchoWays(EchoWaySystem system) : system_(std::move(system)) {}

EchoWay EchoWays::Way() {
  std::lock_guard lock(mutex_);
  if (way_) return *way_;
  const std::pair<IcmpSocketKind, EchoWay> sockets[] = {
      {IcmpSocketKind::kDatagram, EchoWay::kDatagramSocket},
      {IcmpSocketKind::kRaw, EchoWay::kRawSocket},
  };
  for (const auto& [kind, way] : sockets) {
    const int error = system_.try_socket ? system_.try_socket(kind) : EPERM;
    if (error == 0) return *(way_ = way);
    if (!IsRefusal(error)) return EchoWay::kNone;
  }
  if (std::optional<std::string> program = FindPingProgram(system_.ping_paths)) {
    ping_program_ = std::move(*program);
    return *(way_ = EchoWay::kPingProgram);
  }
  return *(way_ = EchoWay::kNone);
}

std::unique_ptr<EchoExchange> EchoWays::Make(in_addr target) {
  switch (Way()) {
    case EchoWay::kDatagramSocket:
      return std::make_unique<EchoProbe>(
          std::make_unique<SystemIcmpEndpoint>(SystemIcmpEndpoint::Choice::kDatagramOnly), target);
    case EchoWay::kRawSocket:
      return std::make_unique<EchoProbe>(
          std::make_unique<SystemIcmpEndpoint>(SystemIcmpEndpoint::Choice::kRawOnly), target);
    case EchoWay::kPingProgram:
      return std::make_unique<PingProgramProbe>(ping_program_, target);
    case EchoWay::kNone:
      break;
  }
  return nullptr;
}

EchoExchangeFactory EchoWays::Factory() {
  return [this](in_addr target) { return Make(target); };
}

EchoWays& EchoWays::Process() {
  static EchoWays ways(EchoWaySystem::Real());
  return ways;
}

}  // namespace ostrel
