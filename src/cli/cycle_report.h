#pragma once
// What ostrel-send prints: one line (or JSON object) per send cycle and a summary at the
// end, built from what the cycle reports to its observer.
//
//   SendCycle --observer--> CycleRecorder --TakeEnded--> CycleRecord --Add--> RunSummary
//                           (steps/cycle_recorder.h)
//                                                           |                    |
//                                               CycleText / CycleJson   SummaryText / SummaryJson
//                                                                        ExitStatus

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "steps/cycle_recorder.h"
#include "verification/verdict.h"

namespace ostrel {

// The exit statuses of ostrel-send.
inline constexpr int kExitAllAnswered = 0;
inline constexpr int kExitNotAnswered = 1;    // a cycle went unanswered or found no destination
inline constexpr int kExitUsage = 2;          // bad arguments, settings or test file; nothing sent
inline constexpr int kExitRunTimeError = 3;   // port in use, log not writable, …
inline constexpr int kExitNotAsExpected = 4;  // all answered, but not every answer was 一致

// The run so far.
struct RunSummary {
  int64_t cycles = 0;
  int64_t transmissions = 0;
  int64_t answered = 0;
  int64_t errors = 0;
  int64_t rtt_count = 0;
  double rtt_min = 0, rtt_max = 0, rtt_sum = 0;
  bool interrupted = false;
  int64_t lost_log_lines = 0;  // lines of the run the log did not take
  // The verdicts of the cycles, counted when an expectation was set (none otherwise); the
  // test file's "name" for the report ("" when none).
  std::optional<VerdictCounter> verdicts;
  std::string test_name;

  void Add(const CycleRecord& record);
  // A cycle abandoned before its end: its datagrams went out, but it is no cycle.
  void AddUnfinished(const CycleRecord& record) { transmissions += record.transmissions; }
  // Transmissions without an answer, and their share of all transmissions (0 when none).
  int64_t Lost() const { return transmissions - answered; }
  double LostPercent() const;
};

// 3 after a run-time error or a lost log line; else 1 when no cycle ran or a cycle went
// unanswered; else 4 when a cycle's verdict was not 一致 (an answer that did not fit, or
// came from a sender the expectation does not allow); otherwise 0.
int ExitStatus(const RunSummary& summary);

// Where the datagrams went, for the summary's heading.
struct Destination {
  std::string address;
  int32_t port = 0;
  int32_t src_port = 0;
};

// "cycle 3: answered sent=16 answer=4 rtt=0.213ms transmissions=1"; a missing value is "-".
// With a verdict, " verdict=match" follows, or " verdict=mismatch mismatch_at=4,5" (the
// differing offsets, decimal).
std::string CycleText(int64_t number, const CycleRecord& record);
// {"type":"cycle","cycle":3,"outcome":"answered","transmissions":1,"sent_bytes":16,
//  "answer_bytes":4,"rtt_ms":0.213}; a missing value is null. With a verdict,
//  "verdict":"mismatch","mismatch_at":[4,5] follow ("mismatch_at" for a mismatch only).
std::string CycleJson(int64_t number, const CycleRecord& record);
// Where a step stands in a run of a test file's steps, all from 1, and its name ("" when
// it has none).
struct StepPlace {
  int64_t run = 1;
  int32_t repetition = 1;
  std::size_t step = 1;
  std::string name;
};
// 'step 2 "read" (run 1, repeat 3): answered sent=8 answer=9 rtt=0.213ms transmissions=1
// verdict=match', the cycle's line after the step's place.
std::string StepText(const StepPlace& place, const CycleRecord& record);
// {"type":"step","run":1,"repeat":3,"step":2,"name":"read","outcome":"answered",…}, the
// cycle's members after the step's place.
std::string StepJson(const StepPlace& place, const CycleRecord& record);
// Three lines in the manner of nping: heading, counts, round-trip times; then with
// verdicts the test's name (when it has one) and the count of each verdict; a last line
// when log lines were lost. The JSON form always has "lost_log_lines"; with verdicts,
// "verdicts":{"match":3,"mismatch":1,…} and "test" (when named).
std::string SummaryText(const RunSummary& summary, const Destination& destination);
std::string SummaryJson(const RunSummary& summary, const Destination& destination);

// "answered", "unanswered", "unreachable" or "error".
const char* OutcomeName(CycleOutcome outcome);

}  // namespace ostrel
