#pragma once
// The verdict of a send cycle with an expectation.
//
//   SendCycle ──(SendCycleObserver)──► CycleJudge ──(Judged)──► log line, window, terminal
//
// The answer judged is the one the cycle takes as its answer: the first datagram of at
// least one byte after the transmission still waiting (SendCycleObserver::Answered).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "expectation.h"
#include "transmission/send_cycle_observer.h"
#include "verdict.h"

namespace ostrel {

// The offsets, ascending, of the answer's bytes that do not fit: those of the pattern
// (AnswerPattern::DifferingOffsets) and those of wrong computed fields together, at most
// `limit` of them.
std::vector<std::size_t> DifferingOffsets(const Expectation& expectation,
                                          std::span<const uint8_t> answer, std::size_t limit);

// The verdict of `answer`, sent by `sender` after a transmission to `destination`:
// kWrongSource when the expectation's "from" does not allow the sender (whatever the
// bytes); else kMismatch with the first differing offsets of the pattern and of the
// field check together (ascending, at most kReportedOffsets); else kMatch.
Judgement JudgeAnswer(const Expectation& expectation, std::span<const uint8_t> answer,
                      const Endpoint& sender, const Endpoint& destination);

// The verdict's log line ("判定:一致", …) of a cycle's `answer` under `expectation`; ""
// when there is no expectation.
std::string AnswerVerdictLine(const std::optional<Expectation>& expectation,
                              const AnswerReport& answer);

// The verdict of a cycle that took no answer: kNotSent when nothing went out (no reply to
// the reachability check, or a run-time error before the first transmission), kNoAnswer
// when something went out (the answer time of every transmission ran out, or a run-time
// error came after a transmission that went unanswered).
Judgement JudgeUnanswered(CycleOutcome outcome, int transmissions);

// Watches send cycles and judges each one that ends while an expectation is set. Set it
// as the cycle's observer, or forward the reports of another observer to it.
class CycleJudge final : public SendCycleObserver {
 public:
  // Runs at the end of each judged cycle, after the cycle's own log lines.
  using Judged = std::function<void(const Judgement&)>;
  explicit CycleJudge(Judged judged = {}) : judged_(std::move(judged)) {}

  // The expectation the next cycle ends are judged by; none stops judging.
  void SetExpectation(std::optional<Expectation> expectation);
  const std::optional<Expectation>& CurrentExpectation() const { return expectation_; }

  // The verdict of the last judged cycle (none before the first or after SetExpectation).
  const std::optional<Judgement>& Last() const { return last_; }
  // The answer the running or last cycle took, and its sender; empty when it took none.
  const std::vector<uint8_t>& Answer() const { return answer_; }

  // SendCycleObserver
  void CycleStarted() override;
  void Transmitted(std::size_t bytes, TimePoint sent, int attempt) override;
  void Answered(const AnswerReport& answer) override;
  void CycleEnded(CycleOutcome outcome) override;

 private:
  Judged judged_;
  std::optional<Expectation> expectation_;
  std::optional<Judgement> last_;
  int transmissions_ = 0;
  bool answered_ = false;
  std::vector<uint8_t> answer_;
  Endpoint sender_;
  Endpoint destination_;
};

}  // namespace ostrel
