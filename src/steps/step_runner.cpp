#include "step_runner.h"

#include <QEventLoop>
#include <QTimer>
#include <stdexcept>

#include "transmission/send_cycle.h"
#include "verification/answer_judge.h"

namespace ostrel {
namespace {

// What a step without an expected answer takes: any answer from anywhere.
Expectation AnyAnswer() { return {*AnswerPattern::Parse("*").pattern, SenderRule::kAny, {}}; }

}  // namespace

StepRunner::StepRunner(SendCycle& cycle, CycleJudge& judge, std::vector<TestStep> steps,
                       std::vector<std::vector<uint8_t>> payloads, SendFields::Read read,
                       SendFields::Write write)
    : cycle_(cycle),
      judge_(judge),
      steps_(std::move(steps)),
      payloads_(std::move(payloads)),
      read_(std::move(read)),
      write_(std::move(write)) {
  if (payloads_.size() != steps_.size())
    throw std::invalid_argument("StepRunner: one payload per step");
  for (const TestStep& step : steps_)
    fields_.push_back(
        step.fields.empty() ? nullptr : std::make_unique<SendFields>(step.fields, read_, write_));
}

StepRunner::~StepRunner() = default;

void StepRunner::Stop() {
  stop_ = true;
  if (waiting_) waiting_->quit();
}

RunEnd StepRunner::Run(int32_t repeat, const std::function<void(const StepResult&)>& each) {
  // The cycle is the settings' again however the run ends: no filler of this runner stays.
  struct Restore {
    StepRunner& runner;
    ~Restore() {
      runner.cycle_.SetPayloadFiller(nullptr);
      runner.cycle_.SetCycleLimits(std::nullopt, std::nullopt);
      runner.cycle_.SetCheckReachability(true);
      runner.judge_.SetExpectation(std::nullopt);
    }
  } restore{*this};
  RunEnd end = RunEnd::kCompleted;
  bool checked = false;
  for (int32_t repetition = 1; repetition <= repeat && end == RunEnd::kCompleted; ++repetition) {
    for (std::size_t i = 0; i < steps_.size(); ++i) {
      if (stop_) {
        end = RunEnd::kStopped;
        break;
      }
      const TestStep& step = steps_[i];
      write_(payloads_[i]);
      cycle_.SetPayloadFiller(fields_[i].get());
      cycle_.SetCycleLimits(step.timeout_ms, step.retries);
      cycle_.SetCheckReachability(!checked);
      judge_.SetExpectation(step.expect ? *step.expect : AnyAnswer());
      const auto start = std::chrono::steady_clock::now();
      const bool ok = cycle_.SendUdpData();
      if (!judge_.Last()) {  // the cycle never ended
        end = RunEnd::kAbandoned;
        break;
      }
      StepResult result;
      result.step = i;
      result.repetition = repetition;
      result.error = !ok;
      result.judgement = *judge_.Last();
      if (result.judgement.verdict != Verdict::kNotSent) result.sent = cycle_.bytSendData;
      result.answer = judge_.Answer();
      result.time = std::chrono::steady_clock::now() - start;
      checked = checked || (ok && result.judgement.verdict != Verdict::kNotSent);
      if (each) each(result);
      if (!ok) {
        end = RunEnd::kError;
        break;
      }
      if (!checked) {  // no reply to the check: nothing of this run can go out
        end = RunEnd::kUnreachable;
        break;
      }
      const bool last = repetition == repeat && i + 1 == steps_.size();
      if (result.judgement.verdict != Verdict::kMatch && step.stop_on_fail) {
        end = RunEnd::kFailed;
        break;
      }
      if (!last && step.wait_ms > 0 && !Wait(step.wait_ms)) {
        end = RunEnd::kStopped;
        break;
      }
    }
  }
  return end;
}

bool StepRunner::Wait(int32_t ms) {
  if (stop_) return false;
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  timer.start(std::chrono::milliseconds(ms));
  waiting_ = &loop;
  loop.exec();
  waiting_ = nullptr;
  return !stop_;
}

}  // namespace ostrel
