// How true the round-trip times are that the statistics report: a device on its own
// thread holds every datagram 1, 5 or 20 ms from the kernel's receive time before it
// answers, and keeps its own record of that hold, up to the kernel's transmit time of its
// answer. The error of a round trip is the reported time minus the device's own hold:
// what the way through the machine and the program's time stamps add; below zero would be
// a time shorter than the device took. Also shown against the hold up to the device's
// send call (which adds the device's own way into the kernel) and the nominal delay.
//
// Each set runs twice: first where the scheduler puts the device's thread and the program,
// then with both pinned to one CPU, where the device often runs before the sending call
// has returned.
//
// Usage: rtt_accuracy_bench [cycles per delay]   (default 60)

#include <sched.h>

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "cycle_bench_support.h"
#include "support/delaying_peer.h"
#include "statistics/statistics.h"

using namespace ostrel;
using namespace ostrel::bench;

namespace {

// The three delays, each with `cycles` answered cycles; one line per delay. False when a
// cycle went otherwise than planned.
bool RunDelays(const char* title, int cycles) {
  std::printf("%s\n  %8s  %13s  %13s  %13s  %10s  %17s  %16s\n", title, "delay", "median error",
              "p90 error", "min error", "below hold", "to its send call", "median - nominal");
  for (const int delay_ms : {1, 5, 20}) {
    test::DelayingPeer peer([delay_ms](int) { return std::chrono::microseconds(delay_ms * 1000); });
    CycleRig rig(LoopbackSettings(peer.port(), 1000));
    SendCycle& cycle = rig.cycle;
    TransmissionStatistics stats;
    cycle.SetObserver(&stats);
    for (int i = 0; i < cycles; ++i) {
      if (!cycle.SendUdpData() || stats.counters().answered != uint64_t(i + 1)) {
        std::fprintf(stderr, "cycle %d was not answered as planned\n", i + 1);
        return false;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the last answer's stamp
    const auto record = peer.Record();
    const auto reported = stats.LastRecords(size_t(cycles));
    std::vector<double> error, to_send_call, versus_nominal;
    int below = 0;
    for (int i = 0; i < cycles; ++i) {
      const double hold = std::chrono::duration<double, std::micro>(record[i].Hold()).count();
      error.push_back(reported[i].rtt_us - hold);
      to_send_call.push_back(
          reported[i].rtt_us -
          std::chrono::duration<double, std::micro>(record[i].HoldToSendCall()).count());
      versus_nominal.push_back(reported[i].rtt_us - delay_ms * 1000.0);
      if (reported[i].rtt_us < hold) ++below;
    }
    std::printf("  %5d ms  %10.1f us  %10.1f us  %10.1f us  %10d  %14.1f us  %13.0f us\n", delay_ms,
                Median(error), Quantile(error, 0.9), *std::min_element(error.begin(), error.end()),
                below, Median(to_send_call), Median(versus_nominal));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;

  LogFolder log;
  std::printf("round-trip time reported - device's own hold, %d answered cycles per delay\n",
              cycles);
  if (!RunDelays("unpinned (device and program where the scheduler puts them)", cycles)) return 1;
  // As `taskset -c N` does: the device's thread, started later, inherits the affinity, so
  // device and program share one CPU and wait for each other's time slices.
  const int cpu = std::max(0, sched_getcpu());
  cpu_set_t one{};
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  if (sched_setaffinity(0, sizeof one, &one) != 0) {
    std::perror("sched_setaffinity");
    return 1;
  }
  char title[80];
  std::snprintf(title, sizeof title, "pinned (device and program on CPU %d)", cpu);
  return RunDelays(title, cycles) ? 0 : 1;
}
