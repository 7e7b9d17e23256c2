#pragma once
// A real send cycle from a free port on 127.0.0.1 to a loopback device: its socket, its
// two timers and a window side with a fixed send grid, wired as the main window wires
// them. The reachability check is given (`ping`), so the tests decide what it finds.

#include <QUdpSocket>
#include <cstdint>
#include <string>
#include <vector>

#include "common/timer.h"
#include "transmission/send_cycle.h"
#include "transmission/socket_control.h"

namespace ostrel::test {

// The window side of a cycle: a fixed send grid; nothing is shown.
class FixedGridView : public SendCycleView {
 public:
  explicit FixedGridView(std::vector<uint8_t> payload) : payload_(std::move(payload)) {}
  bool SendGridRedraw() const override { return true; }
  std::vector<uint8_t> ReadSendGrid() override { return payload_; }
  void ShowAnswer(const std::vector<uint8_t>&) override {}
  void SetSendLed(int16_t) override {}
  void SetRecvLed(int16_t) override {}
  void SetLastSentDateTime(const std::string&) override {}
  void SetLastRecvDateTime(const std::string&) override {}
  std::string SendButtonCaption() const override { return caption_; }
  void SetSendButtonCaption(const std::string& text) override { caption_ = text; }

 private:
  std::vector<uint8_t> payload_;
  std::string caption_ = "送信";
};

// A UDP port on 127.0.0.1 that is free right now.
inline uint16_t FreeLoopbackPort() {
  QUdpSocket probe;
  probe.bind(QHostAddress::LocalHost, 0);
  return probe.localPort();
}

struct LoopbackCycle {
  // `checks` and `sends` are the retries, `answer_time_out` in ms on an answer timer of
  // `tick_ms`.
  LoopbackCycle(uint16_t dest_port, PingStart ping, std::vector<uint8_t> payload, int16_t checks,
                int16_t sends, int32_t answer_time_out, int tick_ms)
      : settings(Settings(dest_port, checks, sends, answer_time_out)),
        view(std::move(payload)),
        cycle(settings, socket, tmrSend, tmrRcvAns, view, std::move(ping)) {
    tmrRcvAns.SetInterval(tick_ms);
    QObject::connect(&tmrRcvAns, &Timer::Tick, &cycle, &SendCycle::tmrRcvAns_Timer);
    QObject::connect(&socket, &SocketControl::DataArrival, &cycle, &SendCycle::wscSend_DataArrival);
  }

  MainSettings settings;
  FixedGridView view;
  SocketControl socket;
  Timer tmrSend, tmrRcvAns;
  SendCycle cycle;

 private:
  static MainSettings Settings(uint16_t dest_port, int16_t checks, int16_t sends,
                               int32_t answer_time_out) {
    MainSettings s;
    s.strDestIpAddress = "127.0.0.1";
    s.lngSrcPort = FreeLoopbackPort();
    s.lngDestPort = dest_port;
    s.intPingRetry = checks;
    s.intCommonSendRetry = sends;
    s.lngAnsTimeOut = answer_time_out;
    return s;
  }
};

}  // namespace ostrel::test
