#pragma once
// The steps of a test file carried out over a send cycle: the window and ostrel-send are two
// views of one run.
//
// A run checks reachability once (the first step's cycle makes the check), then carries out
// the steps in order `repeat` times. Each step is one send cycle of its own: its payload is
// written into the send grid, its fields are filled in before every transmission, its answer
// is waited for up to its time-out with its retransmissions (the cycle's ticks and log lines),
// and its verdict is taken by the judge; then its wait, and "on_fail" decides on a verdict
// other than 一致. A step without an expected answer takes any answer from any sender.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "sendfields/send_fields.h"
#include "testfile/test_file.h"
#include "verification/verdict.h"

class QEventLoop;

namespace ostrel {

class CycleJudge;
class SendCycle;

// One step carried out.
struct StepResult {
  std::size_t step = 0;    // index in the file's steps
  int32_t repetition = 1;  // from 1
  bool error = false;      // a run-time error ended its cycle
  Judgement judgement;
  std::vector<uint8_t> sent;             // the datagram as it last went out; empty when none did
  std::vector<uint8_t> answer;           // the answer judged; empty when none came
  std::chrono::duration<double> time{};  // from the cycle's start to its verdict
};

// How a run ended.
enum class RunEnd {
  kCompleted,    // every step of every repetition was carried out
  kFailed,       // a step's verdict was not 一致 and its "on_fail" was "stop"
  kUnreachable,  // the reachability check found no reply: nothing could be sent
  kError,        // a run-time error ended a step's cycle
  kStopped,      // Stop() was called
  kAbandoned,    // the running cycle was abandoned (SendCycle::Abandon) before its end
};

class StepRunner {
 public:
  // `cycle` and `judge` must outlive the runner, and the judge must hear the cycle's reports
  // (as its observer or through a fan-out); its judged callback logs the verdict. `payloads`
  // holds each step's bytes (a "file" payload loaded by the caller); `read` and `write` are
  // the send grid's bytes, which each step's payload replaces. Counter fields keep counting
  // over the runner's runs.
  StepRunner(SendCycle& cycle, CycleJudge& judge, std::vector<TestStep> steps,
             std::vector<std::vector<uint8_t>> payloads, SendFields::Read read,
             SendFields::Write write);
  ~StepRunner();

  // Carries out one run; `each` is told every step right after its verdict. The cycle's
  // limits, check and payload filler are the settings' again afterwards (no filler), also
  // when `each` or the send grid's `write` raises, which ends the run.
  RunEnd Run(int32_t repeat, const std::function<void(const StepResult&)>& each);

  // The run ends after the running step (at once during a step's wait); a later run of this
  // runner carries out nothing.
  void Stop();
  bool Stopping() const { return stop_; }

  const std::vector<TestStep>& Steps() const { return steps_; }

 private:
  // Waits `ms` unless a stop comes; false when it did.
  bool Wait(int32_t ms);

  SendCycle& cycle_;
  CycleJudge& judge_;
  std::vector<TestStep> steps_;
  std::vector<std::vector<uint8_t>> payloads_;
  SendFields::Read read_;
  SendFields::Write write_;
  std::vector<std::unique_ptr<SendFields>> fields_;  // per step; null without fields
  bool stop_ = false;
  QEventLoop* waiting_ = nullptr;
};

}  // namespace ostrel
