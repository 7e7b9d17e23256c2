#pragma once
// A UDP device on 127.0.0.1 that runs on its own thread and keeps its own record: for
// each datagram it took in, the kernel's receive time and, when it answered, the moment
// right before its send call and the kernel's transmit time of the answer, all on the
// steady clock. A plan says per datagram (from
// 0) how long to hold it before answering with 4 bytes, or to drop it. Used by the tests
// and the benchmarks as the independent witness of round-trip times.

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/net_tstamp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace ostrel::test {

class DelayingPeer {
 public:
  using Steady = std::chrono::steady_clock;
  // The hold of the n-th datagram, or none to drop it.
  using Plan = std::function<std::optional<std::chrono::microseconds>(int n)>;

  struct Exchange {
    Steady::time_point received;
    std::optional<Steady::time_point> answered;  // right before the send call
    std::optional<Steady::time_point> left;      // the kernel's transmit time, where given
    // From the kernel's receive time to the answer's transmit time (else the send call).
    std::chrono::nanoseconds Hold() const { return left.value_or(*answered) - received; }
    std::chrono::nanoseconds HoldToSendCall() const { return *answered - received; }
  };

  explicit DelayingPeer(Plan plan) : plan_(std::move(plan)) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const int on = 1;
    const int stamps =
        SOF_TIMESTAMPING_TX_SOFTWARE | SOF_TIMESTAMPING_SOFTWARE | SOF_TIMESTAMPING_OPT_TSONLY;
    setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPING, &stamps, sizeof stamps);  // optional
    const timeval wait{0, 50 * 1000};  // so the thread sees the stop flag
    if (fd_ < 0 || setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0 ||
        bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      std::perror("delaying peer");
      std::abort();
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~DelayingPeer() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  DelayingPeer(const DelayingPeer&) = delete;
  DelayingPeer& operator=(const DelayingPeer&) = delete;

  uint16_t port() const { return port_; }
  std::vector<Exchange> Record() const {
    std::lock_guard lock(mutex_);
    return record_;
  }

 private:
  // A kernel time stamp of the real-time clock, moved onto the steady clock.
  // The real-time clock is read between two steady reads close together, so a preemption
  // between the reads does not move the stamp.
  static Steady::time_point OnSteadyClock(const timespec& stamp) {
    timespec now{};
    Steady::time_point steady_now;
    for (int attempt = 0; attempt < 10; ++attempt) {
      const Steady::time_point before = Steady::now();
      clock_gettime(CLOCK_REALTIME, &now);
      const Steady::time_point after = Steady::now();
      steady_now = before + (after - before) / 2;
      if (after - before < std::chrono::microseconds(1)) break;
    }
    const auto age = std::chrono::seconds(now.tv_sec - stamp.tv_sec) +
                     std::chrono::nanoseconds(now.tv_nsec - stamp.tv_nsec);
    return steady_now - age;
  }

  // The kernel's transmit time of the answer just sent, from the error queue (loopback
  // stamps it before the send call returns).
  std::optional<Steady::time_point> TransmitTime() {
    std::optional<Steady::time_point> left;
    char data[64];
    alignas(cmsghdr) char control[256];
    for (;;) {
      iovec io{data, sizeof data};
      msghdr message{};
      message.msg_iov = &io;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      if (recvmsg(fd_, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) return left;
      for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPING) {
          scm_timestamping stamp{};
          std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
          left = OnSteadyClock(stamp.ts[0]);
        }
      }
    }
  }

  void Run() {
    uint8_t buffer[65536];
    const uint8_t answer[4] = {0xAA, 0xBB, 0xCC, 0xDD};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    for (int n = 0; !stop_;) {
      sockaddr_in from{};
      iovec io{buffer, sizeof buffer};
      msghdr message{};
      message.msg_name = &from;
      message.msg_namelen = sizeof from;
      message.msg_iov = &io;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      if (recvmsg(fd_, &message, 0) < 0) continue;
      Steady::time_point received = Steady::now();
      for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
          timespec stamp{};
          std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
          received = OnSteadyClock(stamp);
        }
      }
      const std::optional<std::chrono::microseconds> hold = plan_(n++);
      Exchange exchange{received, std::nullopt, std::nullopt};
      if (hold) {
        std::this_thread::sleep_until(received + *hold);
        exchange.answered = Steady::now();
      }
      {
        std::lock_guard lock(mutex_);
        record_.push_back(exchange);
      }
      if (hold) {
        sendto(fd_, answer, sizeof answer, 0, reinterpret_cast<sockaddr*>(&from),
               message.msg_namelen);
        if (const auto left = TransmitTime()) {
          std::lock_guard lock(mutex_);
          record_.back().left = left;
        }
      }
    }
  }

  Plan plan_;
  int fd_ = -1;
  uint16_t port_ = 0;
  mutable std::mutex mutex_;
  std::vector<Exchange> record_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace ostrel::test
