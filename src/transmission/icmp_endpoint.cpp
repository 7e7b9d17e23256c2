#include "icmp_endpoint.h"

#include <linux/icmp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace ostrel {
namespace {

int OpenSocket(int type) {
  return socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
}

}  // namespace

SystemIcmpEndpoint::~SystemIcmpEndpoint() { Close(); }

bool SystemIcmpEndpoint::Open() {
  Close();
  if (choice_ != Choice::kRawOnly) {
    fd_ = OpenSocket(SOCK_DGRAM);
    if (fd_ >= 0) {
      kind_ = IcmpSocketKind::kDatagram;
      return true;
    }
  }
  if (choice_ != Choice::kDatagramOnly) {
    fd_ = OpenSocket(SOCK_RAW);
    if (fd_ >= 0) {
      kind_ = IcmpSocketKind::kRaw;
      // A raw socket sees every ICMP packet of the host; let only echo replies wake us.
      // Without the filter the reply is still found, just after more reading.
      icmp_filter filter{};
      filter.data = ~(1U << ICMP_ECHOREPLY);
      setsockopt(fd_, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
      return true;
    }
  }
  return false;
}

void SystemIcmpEndpoint::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool SystemIcmpEndpoint::Send(in_addr to, std::span<const uint8_t> message) {
  if (fd_ < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr = to;
  ssize_t sent;
  do {
    sent = sendto(fd_, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&address),
                  sizeof address);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(message.size());
}

ReceiveStatus SystemIcmpEndpoint::Receive(std::span<uint8_t> buffer, size_t& size, in_addr& from) {
  if (fd_ < 0) return ReceiveStatus::kError;
  sockaddr_in address{};
  socklen_t length = sizeof address;
  ssize_t got;
  do {
    got = recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&address),
                   &length);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    return errno == EAGAIN || errno == EWOULDBLOCK ? ReceiveStatus::kNothing
                                                   : ReceiveStatus::kError;
  }
  size = static_cast<size_t>(got);
  from = address.sin_addr;
  return ReceiveStatus::kPacket;
}

std::unique_ptr<IcmpEndpoint> MakeSystemIcmpEndpoint() {
  return std::make_unique<SystemIcmpEndpoint>();
}

}  // namespace ostrel
