#pragma once
// ostrel-respond's run: a UDP socket bound to the listening address, each datagram
// answered by the Responder, one report line each, delayed answers held in a queue ordered
// by their time (answers of one delay leave in the order their requests came).
//
// Per datagram it does the match, the answer and the line only: datagrams are read until
// the socket has no more (at most a batch between looks at the timers and signals), and
// the lines of a batch go out in one write.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <netinet/in.h>

#include "respond_command_line.h"
#include "responder.h"

namespace ostrel {

class RespondServer final : public QObject {
  Q_OBJECT

 public:
  // `out` takes the report lines, `err` the messages; both must outlive the object.
  RespondServer(const RespondOptions& options, ResponderRules rules, std::ostream& out,
                std::ostream& err);
  ~RespondServer() override;

  // Binds the socket; false (with the message on `err`) when it cannot.
  bool Open();
  // Runs until --count requests were answered and their delayed answers sent, a stop, or a
  // standard output that takes nothing more; gives the exit status.
  int Run();
  // Ends the run at once; delayed answers not yet sent are not sent.
  void Stop();

 private:
  using Clock = std::chrono::steady_clock;
  struct Pending {
    sockaddr_in to;
    std::vector<uint8_t> bytes;
  };

  void OnReadable();
  void OnTimer();
  void Send(const sockaddr_in& to, const std::vector<uint8_t>& bytes);
  void ArmTimer();
  // Writes the batch's lines; false when the standard output took them not.
  bool FlushLines();
  void FinishIfDone();

  RespondOptions options_;
  Responder responder_;
  std::ostream& out_;
  std::ostream& err_;
  int fd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
  QTimer timer_;
  std::multimap<Clock::time_point, Pending> pending_;
  std::vector<uint8_t> request_;
  std::vector<uint8_t> answer_;
  std::string lines_;
  int64_t requests_ = 0;
  int64_t send_errors_ = 0;
  int status_ = 0;
  bool running_ = false;
};

}  // namespace ostrel
