// How soon a waiting send cycle ends once its answer has arrived: a peer on its own thread
// answers each datagram after a delay spread over the answer timer's 100 ms, so answers
// fall at every phase of the timer; the delay runs from the moment the peer sent the
// answer to CycleEnded and to the return of SendUdpData. A cycle that only looked at its
// answer on timer ticks would show about half the interval here.
//
// Usage: answer_delay_bench [cycles]   (default 50)

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "cycle_bench_support.h"

using namespace ostrel;
using namespace ostrel::bench;

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  constexpr int kAnswerTimerInterval = 100;

  LogFolder log;
  // Answer delays of 3, 10, 17, ... 94 ms: 14 phases of the answer timer, in turn.
  AnsweringPeer peer([](int n) { return std::chrono::microseconds((3 + 7 * (n % 14)) * 1000); });
  CycleRig rig(LoopbackSettings(peer.port(), 10000), kAnswerTimerInterval);
  SendCycle& cycle = rig.cycle;
  const GridView& view = rig.view;
  Steady::time_point ended;
  QObject::connect(&cycle, &SendCycle::CycleEnded, [&ended] { ended = Steady::now(); });

  std::vector<double> to_signal, to_return;
  for (int i = 0; i < cycles; ++i) {
    const bool ok = cycle.SendUdpData();
    const Steady::time_point returned = Steady::now();
    if (!ok || peer.answers() != i + 1 || view.recv_led != 1) {
      std::fprintf(stderr, "cycle %d was not answered as planned\n", i + 1);
      return 1;
    }
    to_signal.push_back(MicrosecondsBetween(peer.AnsweredAt(i), ended));
    to_return.push_back(MicrosecondsBetween(peer.AnsweredAt(i), returned));
  }

  std::printf("answer delay: %d answered cycles, answer timer %d ms, answers 3..94 ms late\n",
              cycles, kAnswerTimerInterval);
  std::printf("  answer sent -> CycleEnded       median %8.0f us  p90 %8.0f us  max %8.0f us\n",
              Median(to_signal), Quantile(to_signal, 0.9), Quantile(to_signal, 1));
  std::printf("  answer sent -> SendUdpData back median %8.0f us  p90 %8.0f us  max %8.0f us\n",
              Median(to_return), Quantile(to_return, 0.9), Quantile(to_return, 1));
  std::printf("  median / answer timer interval: %.4f\n",
              Median(to_return) / (kAnswerTimerInterval * 1000.0));
  return 0;
}
