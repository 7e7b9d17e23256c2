#pragma once
// Shared pieces of the send-cycle measurements: a view whose receive grid is a real
// FlexGrid, a UDP peer on its own thread (so its clock readings are not held up by the
// event loop under test), a temporary log folder, and order statistics.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <QTimer>

#include "common/timer.h"
#include "logging/operation_log.h"
#include "senddata/byte_grid.h"
#include "senddata/flex_grid.h"
#include "transmission/send_cycle.h"
#include "transmission/socket_control.h"

namespace ostrel::bench {

using Steady = std::chrono::steady_clock;

inline double MicrosecondsBetween(Steady::time_point from, Steady::time_point to) {
  return std::chrono::duration<double, std::micro>(to - from).count();
}

// The value at fraction `q` (0..1) of the sorted samples; 0 when there are none.
inline double Quantile(std::vector<double> samples, double q) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const auto index = static_cast<size_t>(q * static_cast<double>(samples.size() - 1) + 0.5);
  return samples[std::min(index, samples.size() - 1)];
}
inline double Median(std::vector<double> samples) { return Quantile(std::move(samples), 0.5); }

// A fresh folder for the operation log, removed with its contents.
class LogFolder {
 public:
  LogFolder() {
    char pattern[] = "/tmp/ostrel-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    path_ = pattern;
    intToolKind = 2;
    InitLog(path_);
    intLogMaxSize = 3;
    intLogGenerations = 10;
  }
  ~LogFolder() { std::filesystem::remove_all(path_); }
  LogFolder(const LogFolder&) = delete;
  LogFolder& operator=(const LogFolder&) = delete;
  const std::string& LogFile() const { return strLogFile[2]; }

 private:
  std::string path_;
};

// The main window's side of the cycle, with the receive grid filled as the window fills
// it, and the moments a cycle starts (the send indicator goes off at its start).
class GridView : public SendCycleView {
 public:
  GridView() { recv_grid.resize(585, 161); }
  bool SendGridRedraw() const override { return true; }
  std::vector<uint8_t> ReadSendGrid() override { return payload; }
  void ShowAnswer(const std::vector<uint8_t>& bytes) override {
    recv_grid.SetRedraw(false);
    SetGridFromByteArray(recv_grid, bytes);
    recv_grid.SetRedraw(true);
  }
  void SetSendLed(int16_t state) override {
    if (state == 0 && on_send_led_off) on_send_led_off();
    send_led = state;
  }
  void SetRecvLed(int16_t state) override { recv_led = state; }
  void SetLastSentDateTime(const std::string&) override {}
  void SetLastRecvDateTime(const std::string&) override {}
  std::string SendButtonCaption() const override { return caption; }
  void SetSendButtonCaption(const std::string& text) override { caption = text; }

  std::vector<uint8_t> payload = std::vector<uint8_t>(16, 0x5A);
  FlexGrid recv_grid{17};
  int16_t send_led = -1;
  int16_t recv_led = -1;
  std::string caption = "送信";
  std::function<void()> on_send_led_off;
};

// A UDP socket on 127.0.0.1 with a free port, closed on destruction.
class LoopbackSocket {
 public:
  LoopbackSocket() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      std::perror("loopback socket");
      std::abort();
    }
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackSocket() {
    if (fd_ >= 0) close(fd_);
  }
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;
  int fd() const { return fd_; }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

inline sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// A free UDP port on this host (for the cycle's local port).
inline uint16_t FreePort() {
  LoopbackSocket probe;
  return probe.port();
}

// A device on its own thread: answers every datagram with 4 bytes after the delay that
// `delay_for` gives the n-th one (from 0), and notes when each answer left.
class AnsweringPeer {
 public:
  explicit AnsweringPeer(std::function<std::chrono::microseconds(int)> delay_for)
      : delay_for_(std::move(delay_for)) {
    timeval wait{0, 100 * 1000};  // so the thread sees the stop flag
    setsockopt(socket_.fd(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    thread_ = std::thread([this] { Run(); });
  }
  ~AnsweringPeer() {
    stop_ = true;
    thread_.join();
  }
  uint16_t port() const { return socket_.port(); }
  // When the n-th answer was sent; valid once answers() > n.
  Steady::time_point AnsweredAt(int n) const {
    return answered_at_[static_cast<size_t>(n) % answered_at_.size()];
  }
  int answers() const { return answers_.load(); }

 private:
  void Run() {
    uint8_t buffer[2048];
    const uint8_t answer[4] = {0xAA, 0xBB, 0xCC, 0xDD};
    while (!stop_) {
      sockaddr_in from{};
      socklen_t size = sizeof from;
      if (recvfrom(socket_.fd(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                   &size) < 0) {
        continue;
      }
      const int n = answers_.load();
      std::this_thread::sleep_for(delay_for_(n));
      answered_at_[static_cast<size_t>(n) % answered_at_.size()] = Steady::now();
      sendto(socket_.fd(), answer, sizeof answer, 0, reinterpret_cast<sockaddr*>(&from), size);
      answers_.store(n + 1);  // publishes the time above
    }
  }

  LoopbackSocket socket_;
  std::function<std::chrono::microseconds(int)> delay_for_;
  std::vector<Steady::time_point> answered_at_ = std::vector<Steady::time_point>(4096);
  std::atomic<int> answers_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A reachability check that always answers at the next pass of the event loop: these
// measurements are about the UDP side of the cycle.
inline PingStart ReachableAtOnce() {
  return [](const std::string&, uint8_t, std::function<void(bool)> done) {
    QTimer::singleShot(0, [done] { done(true); });
  };
}

// Settings of a cycle from a free loopback port to `dest_port` on 127.0.0.1: one check,
// one transmission, an answer time-out of `answer_time_out` ms.
inline MainSettings LoopbackSettings(uint16_t dest_port, int32_t answer_time_out) {
  MainSettings settings;
  settings.strDestIpAddress = "127.0.0.1";
  settings.lngSrcPort = FreePort();
  settings.lngDestPort = dest_port;
  settings.intPingRetry = 1;
  settings.intCommonSendRetry = 1;
  settings.lngAnsTimeOut = answer_time_out;
  return settings;
}

// A send cycle wired as the main window wires it, over a GridView and the real socket and
// timers: the answer timer drives it, and so do the socket's arrivals unless `arrivals` is
// false (for a caller that wraps the handler). The send timer is the caller's to wire.
struct CycleRig {
  explicit CycleRig(const MainSettings& s, int answer_timer_interval = 100, bool arrivals = true)
      : settings(s), cycle(settings, socket, tmrSend, tmrRcvAns, view, ReachableAtOnce()) {
    tmrRcvAns.SetInterval(answer_timer_interval);
    QObject::connect(&tmrRcvAns, &Timer::Tick, &cycle, &SendCycle::tmrRcvAns_Timer);
    if (arrivals) {
      QObject::connect(&socket, &SocketControl::DataArrival, &cycle,
                       &SendCycle::wscSend_DataArrival);
    }
  }
  CycleRig(const CycleRig&) = delete;
  CycleRig& operator=(const CycleRig&) = delete;

  MainSettings settings;
  GridView view;
  SocketControl socket;
  Timer tmrSend;
  Timer tmrRcvAns;
  SendCycle cycle;
};

}  // namespace ostrel::bench
