// Draws the statistics window after real send cycles against a loopback device and saves
// it as a PNG: the device holds each datagram 1 to 20 ms (varying from one to the next)
// and drops a few, so the plot shows retransmissions' unanswered marks as well. The
// cycles follow each other every 100 ms. The reachability check answers at once.
//
// Usage: statistics_screenshot OUT.png [cycles]   (default 100)

#include <QApplication>
#include <QEventLoop>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "logging/operation_log.h"
#include "statistics/statistics_window.h"
#include "support/delaying_peer.h"
#include "support/loopback_cycle.h"
#include "statistics/statistics.h"

using namespace ostrel;

namespace {

void RunEventLoopFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT.png [cycles]\n", argv[0]);
    return 2;
  }
  const int cycles = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;

  char folder[] = "/tmp/ostrel-screenshot-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  intToolKind = 2;
  InitLog(folder);

  // 1..20 ms, scattered; every 31st datagram from the 12th is dropped.
  ostrel::test::DelayingPeer peer([](int n) -> std::optional<std::chrono::microseconds> {
    if (n % 31 == 12) return std::nullopt;
    const uint32_t scatter = (static_cast<uint32_t>(n) + 1) * 2654435761u;  // Knuth's hash
    return std::chrono::microseconds(1000 + (scatter >> 8) % 19001);
  });
  ostrel::test::LoopbackCycle loopback(
      peer.port(),
      [](const std::string&, uint8_t, std::function<void(bool)> done) {
        QTimer::singleShot(0, [done] { done(true); });
      },
      std::vector<uint8_t>(16, 0x5A), 1, 3, 200, 50);
  SendCycle& cycle = loopback.cycle;
  TransmissionStatistics statistics;
  cycle.SetObserver(&statistics);

  StatisticsWindow window(statistics);
  window.Open();
  for (int i = 0; i < cycles; ++i) {
    if (!cycle.SendUdpData()) {
      std::fprintf(stderr, "cycle %d ended without an answer\n", i + 1);
      return 1;
    }
    RunEventLoopFor(100);
  }
  RunEventLoopFor(300);  // the last redraw
  const bool saved = window.grab().save(QString::fromLocal8Bit(argv[1]), "PNG");
  std::filesystem::remove_all(folder);
  if (!saved) {
    std::fprintf(stderr, "could not write %s\n", argv[1]);
    return 1;
  }
  std::printf("wrote %s (%d cycles, %llu transmissions)\n", argv[1], cycles,
              static_cast<unsigned long long>(statistics.counters().transmissions));
  return 0;
}
