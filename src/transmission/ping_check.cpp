#include "ping_check.h"

#include "transmission/echo_way.h"
#include "transmission/reachability.h"

namespace ostrel {

PingCheck::PingCheck(QObject* parent) : PingCheck(EchoWays::Process().Factory(), parent) {}

PingCheck::PingCheck(IcmpEndpointFactory open_endpoint, QObject* parent)
    : PingCheck(SocketExchanges(std::move(open_endpoint)), parent) {}

PingCheck::PingCheck(EchoExchangeFactory make_exchange, QObject* parent)
    : QObject(parent), make_exchange_(std::move(make_exchange)) {
  notifier_.setEnabled(false);
  connect(&notifier_, &QSocketNotifier::activated, this, &PingCheck::OnReadable);
  reply_timer_.setSingleShot(true);
  reply_timer_.setTimerType(Qt::PreciseTimer);  // never give up on a reply early
  connect(&reply_timer_, &QTimer::timeout, this, &PingCheck::OnTimeOut);
  next_step_.setSingleShot(true);
  next_step_.setInterval(0);
  connect(&next_step_, &QTimer::timeout, this, &PingCheck::NextTry);
}

PingCheck::~PingCheck() { Cancel(); }

void PingCheck::Start(const std::string& host, uint8_t tries) {
  Cancel();
  host_ = host;
  tries_left_ = tries;
  running_ = true;
  next_step_.start();
}

void PingCheck::Cancel() {
  next_step_.stop();
  reply_timer_.stop();
  CloseProbe();
  running_ = false;
}

void PingCheck::NextTry() {
  if (tries_left_ <= 0) {
    Finish(false);
    return;
  }
  --tries_left_;
  try {
    const std::optional<in_addr> target = ResolvePingTarget(host_);
    if (!target) return EndTry();
    const std::chrono::milliseconds timeout(kCheckPingTimeOut);
    probe_ = make_exchange_ ? make_exchange_(*target) : nullptr;
    if (!probe_ || !probe_->Open() || !probe_->SendRequest(timeout) || probe_->Descriptor() < 0) {
      return EndTry();
    }
    notifier_.setSocket(probe_->Descriptor());
    notifier_.setEnabled(true);
    reply_timer_.start(probe_->WaitLimit(timeout));
  } catch (...) {
    EndTry();
  }
}

void PingCheck::OnReadable() {
  if (!probe_) return;
  switch (probe_->TakeReplies()) {
    case ReplyState::kAnswered:
      Finish(true);
      break;
    case ReplyState::kFailed:
      EndTry();
      break;
    case ReplyState::kWaiting:
      break;
  }
}

void PingCheck::OnTimeOut() { EndTry(); }

void PingCheck::EndTry() {
  reply_timer_.stop();
  CloseProbe();
  next_step_.start();
}

void PingCheck::CloseProbe() {
  // The notifier lets go of the descriptor before the socket is closed.
  notifier_.setEnabled(false);
  probe_.reset();
}

void PingCheck::Finish(bool reachable) {
  Cancel();
  emit Finished(reachable);
}

}  // namespace ostrel
