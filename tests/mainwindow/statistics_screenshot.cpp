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

#include "common/timer.h"
#include "logging/operation_log.h"
#include "mainwindow/statistics_window.h"
#include "support/delaying_peer.h"
#include "transmission/send_cycle.h"
#include "transmission/socket_control.h"
#include "transmission/statistics.h"

using namespace ostrel;

namespace {

class SampleView : public SendCycleView {
 public:
  bool SendGridRedraw() const override { return true; }
  std::vector<uint8_t> ReadSendGrid() override { return std::vector<uint8_t>(16, 0x5A); }
  void ShowAnswer(const std::vector<uint8_t>&) override {}
  void SetSendLed(int16_t) override {}
  void SetRecvLed(int16_t) override {}
  void SetLastSentDateTime(const std::string&) override {}
  void SetLastRecvDateTime(const std::string&) override {}
  std::string SendButtonCaption() const override { return caption_; }
  void SetSendButtonCaption(const std::string& text) override { caption_ = text; }

 private:
  std::string caption_ = "送信";
};

void RunEventLoopFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

uint16_t FreeLoopbackPort() {
  ostrel::test::DelayingPeer probe([](int) { return std::nullopt; });
  return probe.port();
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
  MainSettings settings;
  settings.strDestIpAddress = "127.0.0.1";
  settings.lngSrcPort = FreeLoopbackPort();
  settings.lngDestPort = peer.port();
  settings.intPingRetry = 1;
  settings.intCommonSendRetry = 3;
  settings.lngAnsTimeOut = 200;
  SampleView view;
  SocketControl socket;
  Timer tmrSend, tmrRcvAns;
  tmrRcvAns.SetInterval(50);
  SendCycle cycle(settings, socket, tmrSend, tmrRcvAns, view,
                  [](const std::string&, uint8_t, std::function<void(bool)> done) {
                    QTimer::singleShot(0, [done] { done(true); });
                  });
  QObject::connect(&tmrRcvAns, &Timer::Tick, &cycle, &SendCycle::tmrRcvAns_Timer);
  QObject::connect(&socket, &SocketControl::DataArrival, &cycle, &SendCycle::wscSend_DataArrival);
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
