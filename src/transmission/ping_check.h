#pragma once
// The reachability check, driven by the event loop: one echo request of 300 ms per try,
// up to `tries` tries, true at the first reply; asked with a socket notifier and a timer
// instead of a blocking wait, so the window keeps running (the clock ticks, clicks are
// served) while the destination is silent. Nothing is logged, shown or thrown: every
// failure (no address, no way to ping, a failed send, no reply) is a plain false.
//
// Each try stands on its own: the host is resolved again and a fresh
// exchange (an ICMP socket, or a run of the ping program) is made, and ended before the
// next try. Resolving a name may block the
// thread briefly (getaddrinfo); a dotted address never does.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>

#include "transmission/echo_probe.h"
#include "transmission/icmp_endpoint.h"

namespace ostrel {

class PingCheck : public QObject {
  Q_OBJECT

 public:
  // Pings the way this process decided on (echo_way.h).
  explicit PingCheck(QObject* parent = nullptr);
  // Uses exchanges from `make_exchange`, or ICMP sockets from `open_endpoint`.
  explicit PingCheck(EchoExchangeFactory make_exchange, QObject* parent = nullptr);
  explicit PingCheck(IcmpEndpointFactory open_endpoint, QObject* parent = nullptr);
  ~PingCheck() override;

  // Starts a check of `host` with up to `tries` tries, cancelling one that is under way.
  // Finished follows exactly once, always from the event loop, never inside Start.
  void Start(const std::string& host, uint8_t tries);
  // Ends a check under way without Finished; its socket is closed. Harmless when idle.
  void Cancel();
  bool IsRunning() const { return running_; }

 signals:
  // The check's result: true when the host answered one of the requests. The handler may
  // start the next check or delete this object (with deleteLater).
  void Finished(bool reachable);

 private:
  // Begins the next try, or finishes with false when none is left.
  void NextTry();
  void OnReadable();
  void OnTimeOut();
  // Closes the socket of the current try and lets the event loop run before the next.
  void EndTry();
  void CloseProbe();
  void Finish(bool reachable);

  EchoExchangeFactory make_exchange_;
  std::string host_;
  int tries_left_ = 0;
  bool running_ = false;
  std::unique_ptr<EchoExchange> probe_;
  // Watches the descriptor of the current try; disabled between tries.
  QSocketNotifier notifier_{QSocketNotifier::Read};
  // The 300 ms of the current request (with the ping program's margin).
  QTimer reply_timer_;
  // Zero-delay step to the next try or the result, so Start and a failed try return to
  // the event loop first.
  QTimer next_step_;
};

}  // namespace ostrel
