#include "send_cycle.h"

#include <QEventLoop>
#include <chrono>
#include <QPointer>
#include <QTimer>

#include "common/display_text.h"
#include "common/run_time_error.h"
#include "common/timer.h"
#include "common/tool_kind.h"
#include "logging/error_handler.h"
#include "logging/operation_log.h"
#include "socket_control.h"

namespace ostrel {
namespace {

constexpr const char* kCaptionSend = "送信";
constexpr const char* kCaptionStop = "送信停止";
constexpr const char* kNoSendData = "送信データがありません。";
constexpr int16_t kLedOff = 0;
constexpr int16_t kLedGreen = 1;
constexpr int16_t kLedRed = 2;
constexpr uint8_t kPingTries = 2;  // tries per reachability check

// Adds 1 to a 16-bit counter, raising the overflow error at its top.
void Add1(int16_t& counter) {
  if (counter == INT16_MAX) throw RunTimeError(desc::kOverflow);
  ++counter;
}

int16_t ToInt16(int32_t value) {
  if (value < INT16_MIN || value > INT16_MAX) throw RunTimeError(desc::kOverflow);
  return static_cast<int16_t>(value);
}

void Log(const std::string& text) { WriteLog(intToolKind, text); }

}  // namespace

SendCycle::SendCycle(const MainSettings& settings, SocketControl& wscSend, Timer& tmrSend,
                     Timer& tmrRcvAns, SendCycleView& view, PingStart ping, QObject* parent)
    : QObject(parent),
      settings_(settings),
      wscSend_(wscSend),
      tmrSend_(tmrSend),
      tmrRcvAns_(tmrRcvAns),
      view_(view),
      ping_(std::move(ping)) {}

SendCycle::~SendCycle() { Abandon(); }

// ---- the cycle ----

bool SendCycle::SendUdpData() {
  if (loop_) return false;  // never inside another cycle; callers wait for it to end
  view_.SetSendLed(kLedOff);
  intStep_ = check_reachability_ ? Step::kCheck : Step::kOpen;
  failed_ = false;
  abandoned_ = false;
  cycle_error_.clear();
  attempts_ = 0;
  awaiting_answer_ = false;
  outcome_ = CycleOutcome::kAnswered;
  if (observer_) observer_->CycleStarted();
  QEventLoop loop;
  loop_ = &loop;
  SchedulePass();
  loop.exec();
  loop_ = nullptr;
  ++ping_generation_;  // a check still under way no longer counts
  ping_running_ = false;
  if (!failed_ && intStep_ != Step::kEnd) abandoned_ = true;  // the program is ending
  const bool result = !failed_ && !abandoned_;
  awaiting_answer_ = false;
  if (!abandoned_) {
    if (observer_) observer_->CycleEnded(failed_ ? CycleOutcome::kError : outcome_);
    emit CycleEnded(result);
  }
  return result;
}

void SendCycle::SchedulePass() {
  if (pass_scheduled_) return;
  pass_scheduled_ = true;
  // Each step runs after one pass through the event loop.
  QTimer::singleShot(0, this, &SendCycle::Pass);
}

void SendCycle::Pass() {
  pass_scheduled_ = false;
  if (!loop_) return;
  try {
    RunStep();
  } catch (const std::exception& error) {
    Fail(DescriptionOf(error));
  } catch (...) {
    Fail("");
  }
}

void SendCycle::Fail(const std::string& description) {
  // The run-time error path: one line, the send indicator red, the cycle returns False.
  Finish(false);
  cycle_error_ = description;
  LogErrorText("SendUdpData", description);
  view_.SetSendLed(kLedRed);
}

void SendCycle::RunStep() {
  switch (intStep_) {
    case Step::kCheck:
      StepCheck();
      break;
    case Step::kOpen:
      StepOpen();
      intStep_ = Step::kOpenYield;  // one further pass that only yields
      SchedulePass();
      break;
    case Step::kOpenYield:
      intStep_ = Step::kSend;
      SchedulePass();
      break;
    case Step::kSend:
      StepSend();
      break;
    case Step::kWait:
      StepWait();
      break;
    case Step::kEnd:
      Finish(true);
      break;
  }
}

void SendCycle::Finish(bool result) {
  failed_ = !result;
  ++ping_generation_;
  if (loop_) loop_->exit();
}

void SendCycle::StepCheck() {
  if (ping_running_) return;
  ping_running_ = true;
  const uint64_t generation = ++ping_generation_;
  QPointer<SendCycle> self(this);
  ping_(settings_.strDestIpAddress, kPingTries, [self, generation](bool reachable) {
    if (!self || generation != self->ping_generation_ || !self->loop_) return;
    self->ping_running_ = false;
    try {
      self->OnPingResult(reachable);
    } catch (const std::exception& error) {
      self->Fail(DescriptionOf(error));
    }
  });
}

void SendCycle::OnPingResult(bool reachable) {
  if (reachable) {
    Log("接続先:" + settings_.strDestIpAddress + " Ping OK");
    intPingFailCount = 0;
    intStep_ = Step::kOpen;
  } else {
    if (observer_) observer_->CheckFailed();
    Add1(intPingFailCount);
    if (intPingFailCount < settings_.intPingRetry) {
      Log("Ping無応答のためリトライします。");  // check again at the next pass
    } else {
      intPingFailCount = 0;
      intStep_ = Step::kEnd;
      outcome_ = CycleOutcome::kUnreachable;
      Log("Pingに応答がありませんでした。");
      view_.SetSendLed(kLedRed);
    }
  }
  SchedulePass();
}

void SendCycle::StepOpen() {
  wscSend_.Close();
  wscSend_.SetLocalPort(settings_.lngSrcPort);
  wscSend_.SetRemoteHost(settings_.strDestIpAddress);
  wscSend_.SetRemotePort(settings_.lngDestPort);
}

void SendCycle::StepSend() {
  blnAnswerReceived = false;
  // While the send grid is being refilled the previous bytes are sent again.
  if (view_.SendGridRedraw()) {
    if (filler_) {
      if (attempts_ == 0) filler_->StartCycle();
      filler_->Fill();
    }
    bytSendData = view_.ReadSendGrid();
    bytSendDataFilled = true;
  }
  if (!bytSendDataFilled) throw RunTimeError(desc::kSubscriptOutOfRange);
  // An empty send grid sends nothing rather than invented bytes.
  if (bytSendData.empty()) throw RunTimeError(kNoSendData);
  view_.SetRecvLed(kLedOff);
  wscSend_.SendData(bytSendData);
  const auto sent = wscSend_.SentTime();
  reported_sent_ = sent;
  ++attempts_;
  awaiting_answer_ = true;
  view_.SetSendLed(kLedGreen);
  view_.SetLastSentDateTime(NowDateTimeText());
  Log(std::to_string(bytSendData.size()) + "バイトのデータを送信しました。");
  if (observer_) {
    observer_->Transmitted(bytSendData.size(), sent, attempts_);
    observer_->Sent({bytSendData, wscSend_.RemoteAddress(),
                     static_cast<uint16_t>(wscSend_.RemotePort()), wscSend_.BoundPort(), sent});
  }
  intAnsTickCount = 0;
  intStep_ = Step::kWait;
  tmrRcvAns_.SetEnabled(true);
  SchedulePass();
}

void SendCycle::StepWait() {
  // The answer is looked at before the time-out.
  if (blnAnswerReceived) {
    tmrRcvAns_.SetEnabled(false);
    intAnsTickCount = 0;
    intSendRetryCount = 0;
    intStep_ = Step::kEnd;
    SchedulePass();
    return;
  }
  if (!tmrRcvAns_.Enabled()) tmrRcvAns_.SetEnabled(true);
  // The time-out counts whole ticks of the answer timer.
  const int32_t interval = tmrRcvAns_.Interval();
  if (interval == 0) throw RunTimeError(desc::kDivisionByZero);
  const double ticks_needed =
      static_cast<double>(timeout_ms_.value_or(settings_.lngAnsTimeOut)) / interval;
  if (ticks_needed > intAnsTickCount) return;  // wait for the next tick or answer

  tmrRcvAns_.SetEnabled(false);
  intAnsTickCount = 0;
  awaiting_answer_ = false;
  if (observer_) observer_->TransmissionUnanswered();
  Add1(intSendRetryCount);
  if (intSendRetryCount < retries_.value_or(settings_.intCommonSendRetry)) {
    Log("リトライ開始(" + std::to_string(intSendRetryCount) + ")(送信時)");
    intStep_ = Step::kOpen;  // retransmit without a new reachability check
  } else {
    Log("リトライオーバー(送信時)");
    outcome_ = CycleOutcome::kUnanswered;
    intSendRetryCount = 0;
    intStep_ = Step::kEnd;
    view_.SetSendLed(kLedRed);
  }
  SchedulePass();
}

void SendCycle::Abandon() {
  abandoned_ = true;
  pending_press_ = false;
  ++ping_generation_;
  if (loop_) loop_->exit();
}

// ---- the button and the timers ----

void SendCycle::cmdSendData_Click() {
  if (loop_) {
    pending_press_ = true;  // carried out when the running cycle ends
    return;
  }
  RunHandled("cmdSendData_Click", [&] {
    SendUdpData();
    if (abandoned_) return;
    // Periodic sending is on while the send timer runs: a press never arrives during a
    // timed cycle (it waits for the cycle's end), so the timer is never found paused here.
    if (tmrSend_.Enabled()) {
      tmrSend_.SetEnabled(false);
      if (view_.SendButtonCaption() == kCaptionStop) view_.SetSendButtonCaption(kCaptionSend);
      view_.SetSendLed(kLedOff);
    } else {
      switch (settings_.intSendIntervalUnit) {
        case 0:
          tmrSend_.SetInterval(settings_.lngSendInterval);
          break;
        case 1:
          tmrSend_.SetInterval(1000);
          intSendTickCount = ToInt16(settings_.lngSendInterval);
          break;
        case 2:
          tmrSend_.SetInterval(60000);
          intSendTickCount = ToInt16(settings_.lngSendInterval);
          break;
        default:
          break;
      }
      tmrSend_.SetEnabled(true);
      if (view_.SendButtonCaption() == kCaptionSend) view_.SetSendButtonCaption(kCaptionStop);
    }
  });
  RunPendingPress();
}

void SendCycle::tmrSend_Timer() {
  RunHandled("tmrSend_Timer", [&] {
    RotateLog(strLogFile[Kiv_UdpSnd], intLogMaxSize, intLogGenerations);
    if (settings_.intSendIntervalUnit != 0) {
      if (intSendTickCount < settings_.lngSendInterval) {
        Add1(intSendTickCount);
        return;
      }
      // Due while a cycle is under way: the first tick after it starts the timed cycle.
      if (loop_) return;
      intSendTickCount = 0;
    } else if (loop_) {
      return;  // a tick during a cycle starts none
    }
    // The timer pauses while its cycle runs; whether it was running says whether to go on.
    const bool periodic = tmrSend_.Enabled();
    tmrSend_.SetEnabled(false);
    const bool ok = SendUdpData();
    if (abandoned_) return;
    if (ok) {
      // The period is measured from the end of the cycle.
      if (periodic) tmrSend_.SetEnabled(true);
    } else {
      // A run-time error stops periodic sending (the timer stays off), and the button says so.
      if (view_.SendButtonCaption() == kCaptionStop) view_.SetSendButtonCaption(kCaptionSend);
    }
  });
  RunPendingPress();
}

void SendCycle::tmrRcvAns_Timer() {
  RunHandled("tmrRcvAns_Timer", [&] { Add1(intAnsTickCount); });
  if (loop_ && intStep_ == Step::kWait) SchedulePass();
}

void SendCycle::RunPendingPress() {
  if (!pending_press_ || loop_) return;
  pending_press_ = false;
  QTimer::singleShot(0, this, &SendCycle::cmdSendData_Click);
}

// ---- answer reception ----

void SendCycle::wscSend_DataArrival(int32_t bytesTotal) {
  if (bytesTotal < 1) {
    Log("通信エラーが発生しました。");
    // An empty datagram answers nothing: the wait goes on.
    if (observer_) {
      observer_->Arrived(0, wscSend_.ArrivalTime(), false);
      observer_->Received({{},
                           wscSend_.SenderAddress(),
                           wscSend_.SenderPort(),
                           wscSend_.BoundPort(),
                           wscSend_.ArrivalTime()},
                          false);
    }
    return;
  }
  blnAnswerReceived = true;
  const bool answer = awaiting_answer_;
  awaiting_answer_ = false;
  try {
    // The kernel's transmit time may have come only after the transmission was reported.
    if (observer_ && answer && wscSend_.SentTime() != reported_sent_) {
      reported_sent_ = wscSend_.SentTime();
      observer_->TransmitStamped(reported_sent_);
    }
    if (observer_) observer_->Arrived(static_cast<size_t>(bytesTotal), wscSend_.ArrivalTime(), answer);
    std::vector<uint8_t> data;
    wscSend_.GetData(data);
    if (answer && observer_) {
      observer_->Answered({data, wscSend_.SenderAddress(), wscSend_.SenderPort(),
                           wscSend_.RemoteAddress(), static_cast<uint16_t>(wscSend_.RemotePort()),
                           wscSend_.ArrivalTime()});
    }
    if (observer_) {
      observer_->Received({data, wscSend_.SenderAddress(), wscSend_.SenderPort(),
                           wscSend_.BoundPort(), wscSend_.ArrivalTime()},
                          answer);
    }
    view_.SetRecvLed(kLedGreen);
    view_.SetLastRecvDateTime(NowDateTimeText());
    Log(std::to_string(data.size()) + "バイトの応答データを受信しました。");
    view_.ShowAnswer(data);
  } catch (const std::exception& error) {
    LogError("wscSend_DataArrival", error);
    view_.SetSendLed(kLedRed);
  }
  if (loop_ && intStep_ == Step::kWait) SchedulePass();
}

}  // namespace ostrel
