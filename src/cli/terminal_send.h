#pragma once
// ostrel-send from its checked command line to its exit status:
//
//   the log beside the executable (no single-copy lock, Temp left alone, no dialog), which
//     must take lines
//   → ReadSetting (its messages to stderr) → log rotation, as at the window's start-up
//   → the stored values the run uses checked, the overrides laid over them → the test
//     file, the payload and the expectation
//   → cycles: SendUdpData, one line each (with its verdict and the verdict's log line when
//     an expectation is set); before each later cycle the interval, then the log rotation
//     the window's send timer makes
//   → the answer file, the summary, the exit status (3 when the log lost a line, or the
//     standard output closed, which ends the run after the running cycle).
//
// The cycle is the window's own (SendCycle): this program is only another view of it.

#include <QObject>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "command_line.h"
#include "common/timer.h"
#include "settings/read_setting.h"
#include "testfile/test_file.h"
#include "transmission/send_cycle.h"
#include "verification/expectation.h"

class QEventLoop;

namespace ostrel {

class CaptureControl;
struct JUnitSuite;
class CycleJudge;
class PingCheck;
class StepRunner;
class TerminalView;
struct RunSummary;

class TerminalSend final : public QObject {
  Q_OBJECT

 public:
  // `ping` starts the reachability checks; by default the system's ICMP check, started
  // as the window starts it. `out` and `err` must outlive the object.
  TerminalSend(SendOptions options, std::ostream& out, std::ostream& err, PingStart ping = {});
  ~TerminalSend() override;

  // Runs everything; gives the exit status. SIGINT and SIGTERM are caught while it runs.
  int Run();

  // What Ctrl-C does: the first ends the run after the running cycle (at once between
  // cycles); a further one abandons the running cycle as well.
  void RequestStop();

 private:
  // The working folders and the log, as the window's start-up prepares them, less the
  // lock and the emptying of Temp. False when the Log folder cannot be made.
  bool PrepareLog();
  // Gives the exit status when nothing may be sent, else -1.
  int Prepare(std::vector<uint8_t>& payload);
  // The payload and the expectation from --test, --data/--hex and --expect/--expect-from,
  // the messages to `err`; gives the exit status when nothing may be sent, else -1.
  int PreparePayload(std::vector<uint8_t>& payload);
  int RunCycles(const std::vector<uint8_t>& payload);
  // A test file with steps: checks the options that would replace a part of a single
  // request, loads every step's payload; gives the exit status when nothing may be sent.
  int PrepareSteps(const std::string& test_file);
  // Runs the steps --count times, one line per step, the JUnit report at the end (one
  // test suite per run, as RunCycles reports each cycle of a test file without steps).
  int RunSteps();
  // Puts a run's cycle on the answer timer and `socket`, reporting to `watchers`; the
  // stop requests reach it from then on.
  void AttachCycle(SendCycle& cycle, SocketControl& socket, SendCycleObserver& watchers);
  // Takes it off again, ends its answer timer and closes `socket`.
  void DetachCycle(SendCycle& cycle, SocketControl& socket);
  // The capture of --pcap started on the cycle's watchers; false (after the message) when
  // its file cannot be made.
  bool StartCapture(CaptureControl& capture, const CycleJudge& judge);
  // Stops the capture; the answer file (when asked for), the summary and the exit status of
  // a finished run.
  int Finish(RunSummary& summary, const TerminalView& view, CaptureControl& capture);
  // An output file (--answer-out, --junit) that could not be replaced: the message and the
  // exit status, else -1.
  int CheckOutputFile(const char* option, const std::string& path);
  // The report of --junit (when asked for) written whole; false (after the message) when it
  // could not be.
  bool WriteJUnit(const std::vector<JUnitSuite>& suites);
  // The name of the test in reports: its "name", else the test file's name without its
  // extension.
  std::string SuiteName() const;
  // Waits `ms` unless a stop is asked for; false when it was.
  bool WaitInterval(int64_t ms);
  // Writes to `out`; notes a standard output that no longer takes anything.
  void Print(const std::string& text);

  SendOptions options_;
  std::ostream& out_;
  std::ostream& err_;
  PingStart ping_;
  std::unique_ptr<PingCheck> ping_check_;  // only when no `ping` was given

  MainSettings settings_;
  Timer tmrSend_;  // the cycle's; the run times its cycles itself
  Timer tmrRcvAns_;
  int64_t period_ms_ = 0;
  std::optional<Expectation> expectation_;  // none: no verdicts
  std::string test_name_;
  std::optional<TestFile> steps_test_;               // a test file with steps
  std::vector<std::vector<uint8_t>> step_payloads_;  // each step's bytes

  SendCycle* cycle_ = nullptr;     // while cycles run
  StepRunner* runner_ = nullptr;   // while steps run
  QEventLoop* waiting_ = nullptr;  // while an interval runs
  int stop_requests_ = 0;
  bool output_closed_ = false;
  uint64_t lost_log_lines_before_ = 0;  // LostLogLines() when the run began
};

}  // namespace ostrel
