// Periodic sending in milliseconds (unit 0): the gap from the end of one cycle
// (CycleEnded) to the start of the next timed cycle, against the configured period. The
// period is measured from the end of a cycle, so the ratio gap / period should sit just
// above 1. Cycles are kept short: the reachability check answers at once and a peer on its
// own thread answers every datagram at once.
//
// 2000 ms is the smallest period the settings file allows; the send timer itself takes any
// 0..65535, so 100 ms and 20 ms are measured as well, with more cycles.
//
// Usage: period_gap_bench [quick]   ("quick" runs only the short periods)

#include <QApplication>
#include <QEventLoop>
#include <cstdio>
#include <cstring>

#include "cycle_bench_support.h"

using namespace ostrel;
using namespace ostrel::bench;

namespace {

struct Gaps {
  std::vector<double> to_tick_ms;   // cycle end -> send timer tick
  std::vector<double> to_start_ms;  // cycle end -> next cycle's start
};

Gaps Measure(int32_t period_ms, int gaps) {
  AnsweringPeer peer([](int) { return std::chrono::microseconds(0); });
  MainSettings settings = LoopbackSettings(peer.port(), 10000);
  settings.intSendIntervalUnit = 0;
  settings.lngSendInterval = period_ms;
  CycleRig rig(settings);
  SendCycle& cycle = rig.cycle;
  GridView& view = rig.view;
  Timer& tmrSend = rig.tmrSend;

  std::vector<Steady::time_point> ends, ticks, starts;
  // Connected before the cycle's handler, so it notes the tick before the cycle runs.
  QObject::connect(&tmrSend, &Timer::Tick, [&ticks] { ticks.push_back(Steady::now()); });
  QObject::connect(&tmrSend, &Timer::Tick, &cycle, &SendCycle::tmrSend_Timer);
  // The send indicator goes off first thing in every cycle.
  view.on_send_led_off = [&starts] { starts.push_back(Steady::now()); };

  QEventLoop loop;
  QObject::connect(&cycle, &SendCycle::CycleEnded, [&](bool ok) {
    ends.push_back(Steady::now());
    if (!ok || view.send_led != 1) {
      std::fprintf(stderr, "a cycle was not answered as planned\n");
      std::exit(1);
    }
    if (static_cast<int>(ends.size()) == gaps + 1) {
      tmrSend.SetEnabled(false);
      loop.quit();
    }
  });
  QTimer::singleShot(0, &cycle, &SendCycle::cmdSendData_Click);  // the operator's press
  loop.exec();

  Gaps result;
  for (int i = 0; i < gaps; ++i) {
    const auto end = ends[static_cast<size_t>(i)];
    result.to_tick_ms.push_back(MicrosecondsBetween(end, ticks[static_cast<size_t>(i)]) / 1000);
    result.to_start_ms.push_back(MicrosecondsBetween(end, starts[static_cast<size_t>(i) + 1]) /
                                 1000);
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const bool quick = argc > 1 && std::strcmp(argv[1], "quick") == 0;
  LogFolder log;

  struct Run {
    int32_t period_ms;
    int gaps;
  };
  std::vector<Run> runs = {{100, 30}, {20, 50}};
  if (!quick) runs.insert(runs.begin(), Run{2000, 5});

  std::printf("period gap: unit 0, answered cycles, end of a cycle -> start of the next\n");
  for (const Run& run : runs) {
    const Gaps gaps = Measure(run.period_ms, run.gaps);
    const double gap = Median(gaps.to_start_ms);
    std::printf(
        "  period %5d ms, %2d gaps: median gap %9.3f ms (min %9.3f, max %9.3f), "
        "gap/period %.4f; to the timer tick %9.3f ms\n",
        run.period_ms, run.gaps, gap, Quantile(gaps.to_start_ms, 0), Quantile(gaps.to_start_ms, 1),
        gap / run.period_ms, Median(gaps.to_tick_ms));
  }
  return 0;
}
