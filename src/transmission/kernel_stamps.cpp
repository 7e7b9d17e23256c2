#include "kernel_stamps.h"

#include <linux/errqueue.h>
#include <linux/net_tstamp.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

namespace ostrel {

// One socket that never receives anything asks for receive stamps until the process ends
// (it is not inherited by programs the process starts).
void KeepReceiveStampsOn() {
  static const int keeper = [] {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    return fd;
  }();
  (void)keeper;
}

bool RequestTransmitStamps(int fd) {
  const int flags = SOF_TIMESTAMPING_TX_SOFTWARE | SOF_TIMESTAMPING_SOFTWARE |
                    SOF_TIMESTAMPING_OPT_ID | SOF_TIMESTAMPING_OPT_TSONLY;
  return setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPING, &flags, sizeof flags) == 0;
}

bool ErrorQueueEntry::ReadFrom(int fd) {
  io_ = iovec{data_, sizeof data_};
  message_ = msghdr{};
  message_.msg_iov = &io_;
  message_.msg_iovlen = 1;
  message_.msg_control = control_;
  message_.msg_controllen = sizeof control_;
  return recvmsg(fd, &message_, MSG_ERRQUEUE | MSG_DONTWAIT) >= 0;
}

std::optional<TransmitStamp> TransmitStampIn(const msghdr& message) {
  std::optional<timespec> when;
  std::optional<uint32_t> number;
  auto& header = const_cast<msghdr&>(message);  // the CMSG macros take no const
  for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPING &&
        c->cmsg_len >= CMSG_LEN(sizeof(scm_timestamping))) {
      scm_timestamping stamps{};
      std::memcpy(&stamps, CMSG_DATA(c), sizeof stamps);
      // The software stamp is the first of the three; a zero one was not taken.
      if (stamps.ts[0].tv_sec != 0 || stamps.ts[0].tv_nsec != 0) when = stamps.ts[0];
    } else if (c->cmsg_level == SOL_IP && c->cmsg_type == IP_RECVERR &&
               c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err))) {
      sock_extended_err error{};
      std::memcpy(&error, CMSG_DATA(c), sizeof error);
      if (error.ee_errno == ENOMSG && error.ee_origin == SO_EE_ORIGIN_TIMESTAMPING &&
          error.ee_info == SCM_TSTAMP_SND) {
        number = error.ee_data;
      }
    }
  }
  if (!when || !number) return std::nullopt;
  return TransmitStamp{*when, *number};
}

// The real-time clock is read between two reads of the steady clock, and the pair with the
// least time between them is kept: a thread preempted between its reads would otherwise
// put the stamp as much later as it waited, and a send time too late makes a round trip
// too short.
std::chrono::steady_clock::time_point OnSteadyClock(const timespec& stamp) {
  using Steady = std::chrono::steady_clock;
  Steady::duration best_gap = Steady::duration::max();
  Steady::time_point steady_now;
  timespec real_now{};
  for (int attempt = 0; attempt < 5; ++attempt) {
    timespec real{};
    const auto before = Steady::now();
    clock_gettime(CLOCK_REALTIME, &real);
    const auto after = Steady::now();
    if (after - before < best_gap) {
      best_gap = after - before;
      steady_now = before + best_gap / 2;
      real_now = real;
    }
    if (best_gap < std::chrono::microseconds(1)) break;
  }
  const auto age = std::chrono::seconds(real_now.tv_sec - stamp.tv_sec) +
                   std::chrono::nanoseconds(real_now.tv_nsec - stamp.tv_nsec);
  if (age <= age.zero()) return steady_now;
  return steady_now - std::chrono::duration_cast<Steady::duration>(age);
}

}  // namespace ostrel
