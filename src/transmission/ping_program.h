#pragma once
// The reachability check through the system's ping program, for users who may open no
// ICMP socket: Debian installs /usr/bin/ping with the file capability cap_net_raw, so it
// works for everyone. The program is started without a shell, with a fixed argument list,
// and only its exit status is read (0: a reply came), so neither PATH nor the locale plays
// a part.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "transmission/echo_probe.h"

namespace ostrel {

// Where the ping program is looked for, in this order; never through PATH.
inline const std::vector<std::string> kPingProgramPaths = {"/usr/bin/ping", "/bin/ping"};

// How long a run may outlive its time-out before it is killed: the start of the program
// and its own exit after the time-out.
constexpr std::chrono::milliseconds kPingProgramMargin{200};

// The first of `paths` that is an executable regular file.
std::optional<std::string> FindPingProgram(std::span<const std::string> paths);

// The arguments after the program name: numeric output, quiet, one request without
// payload, `timeout` as seconds with three decimals (at least one millisecond), and the
// address in dotted form.
std::vector<std::string> PingProgramArguments(in_addr target, std::chrono::milliseconds timeout);

// One run of the program per echo request. The descriptor to wait on becomes readable when
// the run has ended; a run that is still going when the next request is sent, or at Close,
// is killed and reaped.
class PingProgramProbe final : public EchoExchange {
 public:
  PingProgramProbe(std::string program, in_addr target);
  ~PingProgramProbe() override;
  PingProgramProbe(const PingProgramProbe&) = delete;
  PingProgramProbe& operator=(const PingProgramProbe&) = delete;

  // False when the program is not an executable regular file.
  bool Open() override;
  void Close() override;
  int Descriptor() const override { return pidfd_; }
  // Starts one run. False when it could not be started.
  bool SendRequest(std::chrono::milliseconds timeout) override;
  // kAnswered when the run ended with status 0, kFailed when it ended otherwise, kWaiting
  // while it runs.
  ReplyState TakeReplies() override;
  std::chrono::milliseconds WaitLimit(std::chrono::milliseconds timeout) const override {
    return timeout + kPingProgramMargin;
  }

 private:
  // Kills the run under way, if any, and reaps it.
  void EndRun();

  std::string program_;
  in_addr target_;
  bool open_ = false;
  pid_t pid_ = -1;                            // the run under way, not yet reaped
  int pidfd_ = -1;                            // of the last run, until the next or Close
  ReplyState outcome_ = ReplyState::kFailed;  // of the last run, once reaped
};

}  // namespace ostrel
