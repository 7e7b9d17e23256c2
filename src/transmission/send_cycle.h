#pragma once
// The send cycle and answer reception.
//
// One send cycle: CHECK (ICMP reachability, retried PingRetry times) → OPEN (close and
// set up the socket) → SEND (the payload filler, where set, writes computed fields into the
// send grid; read the send grid, transmit, start the answer timer) →
// WAIT (an answer ends the wait; the time-out counts whole ticks of the answer timer and
// retransmits up to CommonSendRetry times) → END. Every step is logged.
//
// The cycle is driven by events, not by polling: each step runs as a queued call (one
// pass through the event loop before it, as the steps always had), the reachability
// check runs without blocking, and WAIT is looked at again only when something it
// depends on happens (an answer timer tick or an arrived datagram). SendUdpData waits for
// its cycle in a nested event loop, so the window stays live and the process idles.
//
// Cycles never run inside one another: a press of the send button during a cycle is
// carried out when that cycle ends, and a send-timer tick during a cycle starts none.

#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "settings/read_setting.h"
#include "transmission/payload_filler.h"
#include "transmission/send_cycle_observer.h"

class QEventLoop;

namespace ostrel {

class SocketControl;
class Timer;

// What the send cycle and the answer handler need from the main window.
class SendCycleView {
 public:
  virtual ~SendCycleView() = default;
  // The send grid's redraw flag: false while a file is being loaded into it.
  virtual bool SendGridRedraw() const = 0;
  // The bytes of the send grid, read back (empty when it holds no readable byte).
  virtual std::vector<uint8_t> ReadSendGrid() = 0;
  // Shows a datagram in the receive grid.
  virtual void ShowAnswer(const std::vector<uint8_t>& bytes) = 0;
  // The indicators (CtrlLed states 0 off, 1 green, 2 red).
  virtual void SetSendLed(int16_t state) = 0;
  virtual void SetRecvLed(int16_t state) = 0;
  // The last-sent and last-received time labels.
  virtual void SetLastSentDateTime(const std::string& text) = 0;
  virtual void SetLastRecvDateTime(const std::string& text) = 0;
  // The send button's caption: "送信" or "送信停止".
  virtual std::string SendButtonCaption() const = 0;
  virtual void SetSendButtonCaption(const std::string& caption) = 0;
};

// Starts a reachability check of `host` with `tries` tries; `done` runs later, from the
// event loop, with the result. A check must not block the event loop.
using PingStart =
    std::function<void(const std::string& host, uint8_t tries, std::function<void(bool)> done)>;

class SendCycle : public QObject {
  Q_OBJECT

 public:
  // The cycle uses, but does not own, the settings, the socket, both timers and the view;
  // they must outlive it.
  SendCycle(const MainSettings& settings, SocketControl& wscSend, Timer& tmrSend, Timer& tmrRcvAns,
            SendCycleView& view, PingStart ping, QObject* parent = nullptr);
  ~SendCycle() override;

  // Runs one send cycle to its end. True when it reached its end step (also after an
  // unanswered check or unanswered transmissions); false after a run-time error, which
  // is logged as "description(SendUdpData)" with the send indicator red.
  bool SendUdpData();

  // The send button: one cycle, then periodic sending toggles.
  void cmdSendData_Click();
  // A tick of the send timer: log rotation, then (when due) a timed cycle.
  void tmrSend_Timer();
  // A tick of the answer timer.
  void tmrRcvAns_Timer();
  // A datagram of `bytesTotal` bytes has arrived on the socket.
  void wscSend_DataArrival(int32_t bytesTotal);

  // The program is ending: a running cycle stops where it is, silently.
  void Abandon();

  // Reports of every cycle go to `observer` (none by default); it must outlive the cycle
  // or be taken away first with nullptr.
  void SetObserver(SendCycleObserver* observer) { observer_ = observer; }

  // Writes computed values into the send grid before each transmission's read-back (none
  // by default); it must outlive the cycle or be taken away first with nullptr.
  void SetPayloadFiller(PayloadFiller* filler) { filler_ = filler; }

  bool CycleRunning() const { return loop_ != nullptr; }

  // The answer time-out and the retransmission limit of the next cycles in place of the
  // settings' UdpAnsTimeOut and CommonSendRetry; none (the default) keeps the settings'.
  void SetCycleLimits(std::optional<int32_t> timeout_ms, std::optional<int16_t> retries) {
    timeout_ms_ = timeout_ms;
    retries_ = retries;
  }
  // Whether the next cycles begin with the reachability check (the default). Without it a
  // cycle begins at OPEN, relying on a check an earlier cycle of the same run made.
  void SetCheckReachability(bool check) { check_reachability_ = check; }

  // State shared by all cycles.
  int16_t intPingFailCount = 0;
  int16_t intSendRetryCount = 0;
  int16_t intAnsTickCount = 0;
  int16_t intSendTickCount = 0;
  bool blnAnswerReceived = false;
  std::vector<uint8_t> bytSendData;
  bool bytSendDataFilled = false;

 signals:
  // A cycle has ended (after its result is known).
  void CycleEnded(bool result);

 private:
  enum class Step { kCheck, kOpen, kOpenYield, kSend, kWait, kEnd };

  void SchedulePass();
  void Pass();
  void RunStep();
  void StepCheck();
  void OnPingResult(bool reachable);
  void StepOpen();
  void StepSend();
  void StepWait();
  void Finish(bool result);
  void Fail(const std::string& description);
  void RunPendingPress();

  const MainSettings& settings_;
  SocketControl& wscSend_;
  Timer& tmrSend_;
  Timer& tmrRcvAns_;
  SendCycleView& view_;
  PingStart ping_;

  // The running cycle.
  QEventLoop* loop_ = nullptr;
  Step intStep_ = Step::kEnd;
  bool pass_scheduled_ = false;
  bool ping_running_ = false;
  uint64_t ping_generation_ = 0;
  std::string cycle_error_;  // set when a run-time error ended the cycle
  bool failed_ = false;
  bool abandoned_ = false;

  bool pending_press_ = false;

  std::optional<int32_t> timeout_ms_;
  std::optional<int16_t> retries_;
  bool check_reachability_ = true;

  SendCycleObserver* observer_ = nullptr;
  PayloadFiller* filler_ = nullptr;
  // The send time the observer was given for the latest transmission.
  std::chrono::steady_clock::time_point reported_sent_{};
  // The transmissions of the running cycle so far, and whether the latest still waits
  // for its answer (for the observer only).
  int attempts_ = 0;
  bool awaiting_answer_ = false;
  CycleOutcome outcome_ = CycleOutcome::kAnswered;
};

}  // namespace ostrel
