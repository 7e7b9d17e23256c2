#include "answer_judge.h"

#include <algorithm>
#include <iterator>

namespace ostrel {

std::vector<std::size_t> DifferingOffsets(const Expectation& expectation,
                                          std::span<const uint8_t> answer, std::size_t limit) {
  std::vector<std::size_t> offsets = expectation.pattern.DifferingOffsets(answer, limit);
  if (expectation.fields) {
    std::vector<std::size_t> fields = expectation.fields(answer);
    std::sort(fields.begin(), fields.end());
    std::vector<std::size_t> both;
    std::set_union(offsets.begin(), offsets.end(), fields.begin(), fields.end(),
                   std::back_inserter(both));
    both.erase(std::unique(both.begin(), both.end()), both.end());
    if (both.size() > limit) both.resize(limit);
    offsets = std::move(both);
  }
  return offsets;
}

Judgement JudgeAnswer(const Expectation& expectation, std::span<const uint8_t> answer,
                      const Endpoint& sender, const Endpoint& destination) {
  if (!SenderAllowed(expectation.from, destination, sender)) return {Verdict::kWrongSource, {}};
  std::vector<std::size_t> offsets = DifferingOffsets(expectation, answer, kReportedOffsets);
  if (offsets.empty()) return {Verdict::kMatch, {}};
  return {Verdict::kMismatch, std::move(offsets)};
}

Judgement JudgeUnanswered(CycleOutcome outcome, int transmissions) {
  if (outcome == CycleOutcome::kUnreachable || transmissions == 0) return {Verdict::kNotSent, {}};
  return {Verdict::kNoAnswer, {}};
}

void CycleJudge::SetExpectation(std::optional<Expectation> expectation) {
  expectation_ = std::move(expectation);
  last_.reset();
}

void CycleJudge::CycleStarted() {
  transmissions_ = 0;
  answered_ = false;
  answer_.clear();
}

void CycleJudge::Transmitted(std::size_t, TimePoint, int attempt) { transmissions_ = attempt; }

std::string AnswerVerdictLine(const std::optional<Expectation>& expectation,
                              const AnswerReport& answer) {
  if (!expectation) return "";
  return VerdictLogLine(JudgeAnswer(*expectation, answer.bytes,
                                    {answer.sender_address, answer.sender_port},
                                    {answer.destination_address, answer.destination_port}));
}

void CycleJudge::Answered(const AnswerReport& answer) {
  answered_ = true;
  answer_.assign(answer.bytes.begin(), answer.bytes.end());
  sender_ = {answer.sender_address, answer.sender_port};
  destination_ = {answer.destination_address, answer.destination_port};
}

void CycleJudge::CycleEnded(CycleOutcome outcome) {
  if (!expectation_) return;
  last_ = outcome == CycleOutcome::kAnswered && answered_
              ? JudgeAnswer(*expectation_, answer_, sender_, destination_)
              : JudgeUnanswered(outcome, transmissions_);
  if (judged_) judged_(*last_);
}

}  // namespace ostrel
