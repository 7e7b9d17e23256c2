// How many datagrams per second the answer handler keeps up with. A sender on its own
// thread fires 100-byte datagrams at the cycle's bound local port at paced rates, then as
// fast as it can. Each arrival goes through the real handler: the log line (the operation
// log, opened and closed per line), the receive grid (a real FlexGrid) and the indicators.
// Per rate: the log lines written against the datagrams sent, and the kernel's drops on
// the socket (the "drops" column of /proc/net/udp), so a line lost inside the program
// shows as "unexplained". Also the handler's cost per datagram and the longest stall of a
// 20 ms timer during the flood (how live the window stays).
//
// With OSTREL_BENCH_CAPTURE=1 a capture runs on the cycle's observers as well, into a
// file in /tmp made afresh per rate; its inbound packets are counted against the lines.
//
// Usage: arrival_flood_bench [max datagrams per rate]   (default 20000)

#include <sys/prctl.h>

#include <QApplication>
#include <QEventLoop>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "capture/capture_control.h"
#include "common/cp932.h"
#include "cycle_bench_support.h"
#include "transmission/observer_fan_out.h"

using namespace ostrel;
using namespace ostrel::bench;

namespace {

constexpr size_t kDatagramSize = 100;

// The kernel's count of datagrams dropped on the IPv4 UDP socket bound to `port` (this
// network namespace's table); -1 when the socket is not found.
long long SocketDrops(uint16_t port) {
  std::ifstream table("/proc/thread-self/net/udp");
  std::string line;
  std::getline(table, line);  // the heading
  char wanted[8];
  std::snprintf(wanted, sizeof wanted, ":%04X", port);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, field;
    fields >> slot >> local;
    if (!local.ends_with(wanted)) continue;
    std::string last;
    while (fields >> field) last = field;
    return std::stoll(last);
  }
  return -1;
}

// Occurrences of `needle` in the file's bytes.
long long CountInFile(const std::string& path, const std::string& needle) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  long long count = 0;
  for (size_t at = bytes.find(needle); at != std::string::npos;
       at = bytes.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

// Sends `count` datagrams to `port` at `rate` per second (0: as fast as it can) from its
// own thread; the achieved rate is known once it is done.
class Sender {
 public:
  Sender(uint16_t port, int count, double rate)
      : thread_([this, port, count, rate] { Run(port, count, rate); }) {}
  ~Sender() { thread_.join(); }
  bool done() const { return done_.load(); }
  double achieved_rate() const { return achieved_rate_; }

 private:
  void Run(uint16_t port, int count, double rate) {
    prctl(PR_SET_TIMERSLACK, 1UL);  // keep the pacing sleeps short
    LoopbackSocket socket;
    const sockaddr_in to = LoopbackAddress(port);
    std::vector<uint8_t> payload(kDatagramSize);
    const auto start = Steady::now();
    for (int i = 0; i < count; ++i) {
      if (rate > 0) {
        std::this_thread::sleep_until(start + std::chrono::duration_cast<Steady::duration>(
                                                  std::chrono::duration<double>(i / rate)));
      }
      payload[0] = static_cast<uint8_t>(i);
      sendto(socket.fd(), payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to),
             sizeof to);
    }
    const double seconds = std::chrono::duration<double>(Steady::now() - start).count();
    achieved_rate_ = seconds > 0 ? count / seconds : 0;
    done_.store(true);
  }

  double achieved_rate_ = 0;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// The inbound packets of a pcapng file: enhanced packet blocks with the flag "inbound".
long long InboundPackets(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  long long count = 0;
  for (size_t at = 0; at + 12 <= bytes.size();) {
    uint32_t type = 0, length = 0;
    std::memcpy(&type, bytes.data() + at, 4);
    std::memcpy(&length, bytes.data() + at + 4, 4);
    if (length < 12 || at + length > bytes.size()) break;
    // The flags option (2) of an inbound packet: code 2, length 4, value 1.
    const std::string block = bytes.substr(at, length);
    if (type == 6 &&
        block.find(std::string("\x02\x00\x04\x00\x01\x00\x00\x00", 8)) != std::string::npos) {
      ++count;
    }
    at += length;
  }
  return count;
}

struct RateResult {
  double target = 0;
  double achieved = 0;
  int sent = 0;
  long long lines = 0;
  long long captured = -1;  // inbound packets in the capture file; -1 without one
  long long drops = 0;
  double handled_per_second = 0;  // lines over the time from first to last arrival
  double longest_stall_ms = 0;
  double median_cost_us = 0;
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int max_count = argc > 1 ? std::max(100, std::atoi(argv[1])) : 20000;

  LogFolder log;
  LoopbackSocket sink;  // where the cycle's one transmission goes
  // No answer time-out: the cycle ends right after its transmission.
  CycleRig rig(LoopbackSettings(sink.port(), 0), 100, /*arrivals=*/false);
  SendCycle& cycle = rig.cycle;
  SocketControl& socket = rig.socket;
  const MainSettings& settings = rig.settings;
  ObserverFanOut observers;
  cycle.SetObserver(&observers);
  CaptureControl capture(observers, [] { return 1; });
  const bool capturing = qEnvironmentVariableIntValue("OSTREL_BENCH_CAPTURE") == 1;
  const std::string capture_file =
      std::filesystem::path(log.LogFile()).parent_path() / "flood.pcapng";

  // The handler, timed per datagram.
  std::vector<double> costs_us;
  costs_us.reserve(static_cast<size_t>(max_count) * 8);
  long long handled = 0;
  Steady::time_point first_arrival, last_arrival;
  QObject::connect(&socket, &SocketControl::DataArrival, [&](int32_t bytes_total) {
    const auto start = Steady::now();
    if (handled == 0) first_arrival = start;
    cycle.wscSend_DataArrival(bytes_total);
    last_arrival = Steady::now();
    costs_us.push_back(MicrosecondsBetween(start, last_arrival));
    ++handled;
  });

  // One cycle binds the local port; it then stays bound and receives.
  if (!cycle.SendUdpData() || !socket.IsBound()) {
    std::fprintf(stderr, "the cycle did not bind its local port\n");
    return 1;
  }
  const auto port = static_cast<uint16_t>(settings.lngSrcPort);
  const int receive_buffer = socket.ReceiveBufferSize();
  const std::string line_text =
      Utf8ToCp932(std::to_string(kDatagramSize) + "バイトの応答データを受信しました。");

  // A 20 ms timer stands in for the window's own work during the flood.
  QTimer liveness;
  Steady::time_point last_tick = Steady::now();
  double longest_stall_ms = 0;
  QObject::connect(&liveness, &QTimer::timeout, [&] {
    const auto now = Steady::now();
    longest_stall_ms = std::max(longest_stall_ms, MicrosecondsBetween(last_tick, now) / 1000);
    last_tick = now;
  });
  liveness.start(20);

  std::vector<RateResult> results;
  for (double rate : {1000.0, 2000.0, 3000.0, 5000.0, 7500.0, 10000.0, 20000.0, 50000.0, 0.0}) {
    // About 1.5 s of sending per rate, at least 2000 datagrams, at most max_count.
    const int count =
        rate > 0 ? std::clamp(static_cast<int>(rate * 1.5), 2000, max_count) : max_count;
    std::filesystem::remove(log.LogFile());
    if (capturing) capture.Start(capture_file);
    handled = 0;
    const size_t costs_before = costs_us.size();
    const long long drops_before = SocketDrops(port);
    last_tick = Steady::now();
    longest_stall_ms = 0;
    {
      Sender sender(port, count, rate);
      // Until the sender is done and every datagram is either handled or dropped, or
      // nothing has arrived for half a second.
      QEventLoop loop;
      QTimer check;
      long long seen = -1;
      auto quiet_since = Steady::now();
      QObject::connect(&check, &QTimer::timeout, [&] {
        if (handled != seen) {
          seen = handled;
          quiet_since = Steady::now();
        }
        const long long accounted = handled + (SocketDrops(port) - drops_before);
        if (sender.done() &&
            (accounted >= count || Steady::now() - quiet_since > std::chrono::milliseconds(500))) {
          loop.quit();
        }
      });
      check.start(10);
      loop.exec();
      RateResult result;
      result.target = rate;
      result.achieved = sender.achieved_rate();
      result.sent = count;
      result.lines = CountInFile(log.LogFile(), line_text);
      if (capturing) {
        capture.Stop();
        result.captured = InboundPackets(capture_file);
      }
      result.drops = SocketDrops(port) - drops_before;
      const double span = MicrosecondsBetween(first_arrival, last_arrival) / 1e6;
      result.handled_per_second = span > 0 ? static_cast<double>(handled) / span : 0;
      result.longest_stall_ms = longest_stall_ms;
      result.median_cost_us = Median(
          std::vector<double>(costs_us.begin() + static_cast<long>(costs_before), costs_us.end()));
      results.push_back(result);
    }
  }

  std::printf(
      "arrival flood: %zu-byte datagrams at the bound local port, "
      "each logged and shown in a FlexGrid%s; receive buffer %d bytes\n",
      kDatagramSize, capturing ? " and captured" : "", receive_buffer);
  std::printf("  %8s %9s %6s %6s %8s %6s %11s %10s %9s %12s\n", "rate/s", "sent at/s", "sent",
              "lines", "captured", "kdrop", "unexplained", "handled/s", "cost us", "20ms stall");
  double best_clean = 0;
  bool any_unexplained = false;
  for (const RateResult& r : results) {
    const long long unexplained = r.sent - r.lines - r.drops;
    if (unexplained != 0 || (r.captured >= 0 && r.captured != r.lines)) any_unexplained = true;
    if (r.lines == r.sent && r.target > 0) best_clean = std::max(best_clean, r.achieved);
    char target[16];
    if (r.target > 0) {
      std::snprintf(target, sizeof target, "%.0f", r.target);
    } else {
      std::snprintf(target, sizeof target, "max");
    }
    char captured[24] = "-";
    if (r.captured >= 0) std::snprintf(captured, sizeof captured, "%lld", r.captured);
    std::printf("  %8s %9.0f %6d %6lld %8s %6lld %11lld %10.0f %9.1f %9.1f ms\n", target,
                r.achieved, r.sent, r.lines, captured, r.drops, unexplained, r.handled_per_second,
                r.median_cost_us, r.longest_stall_ms);
  }
  std::printf("  highest paced rate with every datagram logged: %.0f /s\n", best_clean);
  std::printf("  lines (or captured packets) lost other than kernel drops: %s\n",
              any_unexplained ? "YES" : "none");
  std::printf("  handler cost per datagram: median %.1f us, p90 %.1f us (%zu datagrams)\n",
              Median(costs_us), Quantile(costs_us, 0.9), costs_us.size());
  return 0;
}
