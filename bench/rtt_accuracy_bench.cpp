// How true the round-trip times are that the statistics report: a device on its own
// thread holds every datagram 1, 5 or 20 ms from the kernel's receive time before it
// answers, and keeps its own record of that hold. The error of a round trip is the
// reported time minus the device's own hold: what the way through the machine and the
// program's time stamps add. Also shown against the nominal delay.
//
// Usage: rtt_accuracy_bench [cycles per delay]   (default 60)

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "cycle_bench_support.h"
#include "support/delaying_peer.h"
#include "statistics/statistics.h"

using namespace ostrel;
using namespace ostrel::bench;

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;

  LogFolder log;
  std::printf("round-trip time reported - device's own hold, %d answered cycles per delay\n",
              cycles);
  std::printf("  %8s  %18s  %18s  %18s\n", "delay", "median error", "p90 error",
              "median - nominal");
  for (const int delay_ms : {1, 5, 20}) {
    test::DelayingPeer peer([delay_ms](int) { return std::chrono::microseconds(delay_ms * 1000); });
    CycleRig rig(LoopbackSettings(peer.port(), 1000));
    SendCycle& cycle = rig.cycle;
    TransmissionStatistics stats;
    cycle.SetObserver(&stats);
    for (int i = 0; i < cycles; ++i) {
      if (!cycle.SendUdpData() || stats.counters().answered != uint64_t(i + 1)) {
        std::fprintf(stderr, "cycle %d was not answered as planned\n", i + 1);
        return 1;
      }
    }
    const auto record = peer.Record();
    const auto reported = stats.LastRecords(size_t(cycles));
    std::vector<double> error, versus_nominal;
    for (int i = 0; i < cycles; ++i) {
      const double hold = std::chrono::duration<double, std::micro>(record[i].Hold()).count();
      error.push_back(reported[i].rtt_us - hold);
      versus_nominal.push_back(reported[i].rtt_us - delay_ms * 1000.0);
    }
    std::printf("  %5d ms  %15.0f us  %15.0f us  %15.0f us\n", delay_ms, Median(error),
                Quantile(error, 0.9), Median(versus_nominal));
  }
  return 0;
}
