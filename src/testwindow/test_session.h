#pragma once
// The expected answer the window judges its send cycles by, and what came of it: the
// judge on the cycle's observers, one log line per judged cycle, the marks on the answer
// grid, the last verdict with its time and the counts since the start or the last reset.
// Plain C++ over the GridControl interface; the test window shows it.
//
//   SendCycle ──► ObserverFanOut ──► CycleJudge ──(Judged)──► TestSession::Judged
//        "判定:…" log line, marks on fgrdRecvData, counts, statistics, test window
//
// While no expectation is set nothing of this happens: no log line, no mark, no count.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "steps/cycle_recorder.h"
#include "testfile/field_list.h"
#include "testfile/step_list.h"
#include "testfile/test_file.h"
#include "verification/answer_judge.h"

namespace ostrel {

class GridControl;

class TestSession {
 public:
  // `answer_grid` is the grid the cycle shows its answers in; it must outlive the session.
  explicit TestSession(GridControl& answer_grid);
  TestSession(const TestSession&) = delete;
  TestSession& operator=(const TestSession&) = delete;

  // Put it on the send cycle's observers.
  SendCycleObserver& Observer() { return judge_; }
  // The judge itself: a run of steps sets each step's expectation on it.
  CycleJudge& Judge() { return judge_; }

  // The expectation the next cycles are judged by; none stops judging. Either way the
  // marks of the last verdict and the last verdict go.
  void SetExpectation(std::optional<Expectation> expectation);
  const std::optional<Expectation>& CurrentExpectation() const {
    return judge_.CurrentExpectation();
  }

  // The computed fields of the send payload ("fields") and of the expected answer
  // ("expect.fields"), as a test file gave them or the window edited them. A change of the
  // send fields goes to the send path at once (SetSendFieldsSink); a change of the answer
  // fields to the expectation, when one is set (otherwise the test window's 適用 takes them
  // with its pattern).
  FieldList& SendFields() { return send_fields_; }
  FieldList& AnswerFields() { return answer_fields_; }
  const FieldList& SendFields() const { return send_fields_; }
  const FieldList& AnswerFields() const { return answer_fields_; }
  void SetSendFieldsSink(std::function<void(const std::vector<FieldDefinition>&)> sink) {
    send_fields_sink_ = std::move(sink);
  }

  // The test file the expectation came from ("" when typed in the window) and its "name".
  void SetTestFile(std::string file, std::string name);
  const std::string& TestFileName() const { return file_; }
  const std::string& TestName() const { return name_; }

  // The verdict of the last judged cycle and its time ("yy/mm/dd hh:mm:ss").
  const std::optional<Judgement>& Last() const { return judge_.Last(); }
  const std::string& LastTime() const { return last_time_; }
  // The grid offsets marked for the last answer.
  const std::vector<std::size_t>& Marked() const { return marked_; }

  const VerdictCounter& Counts() const { return counts_; }
  void ResetCounts();

  // The steps of the open test file, each with its bytes, and its "repeat"; none when the
  // file (or the pattern typed) is a single request. Every change of the steps (also
  // through StepsList()) lets their last results go.
  void SetSteps(std::vector<TestStep> steps, std::vector<std::vector<uint8_t>> payloads,
                int32_t repeat) {
    steps_.Assign(std::move(steps), std::move(payloads), repeat);
  }
  StepList& StepsList() { return steps_; }
  const std::vector<TestStep>& Steps() const { return steps_.Steps(); }
  const std::vector<std::vector<uint8_t>>& StepPayloads() const { return steps_.Payloads(); }
  int32_t Repeat() const { return steps_.Repeat(); }

  // The send grid's data bytes, without the bytes its fields appended: what the request
  // sends before its fields are written.
  void SetSendData(std::function<std::vector<uint8_t>()> data) { send_data_ = std::move(data); }
  std::vector<uint8_t> SendData() const {
    return send_data_ ? send_data_() : std::vector<uint8_t>{};
  }
  // Adds the request the window sends now (the send data, its fields, the expectation with
  // its fields) as the last step, with `settings` as StepList::Add takes them; the refusal's
  // text, or "" when it was added. Nothing changes while a run goes on.
  std::string AddCurrentStep(const QJsonObject& settings);

  // The last result of each step, for its row of the steps table (none before it ran).
  const std::vector<std::optional<CycleRecord>>& StepResults() const { return results_; }
  void SetStepResult(std::size_t step, const CycleRecord& record);
  // A run under way, and whether one may start now (not while periodic sending runs).
  void SetRunState(bool running, bool allowed);
  bool Running() const { return running_; }
  bool RunAllowed() const { return allowed_; }
  // What "実行" and "停止" do; the main window runs the steps.
  void SetRunControls(std::function<void()> run, std::function<void()> stop) {
    run_ = std::move(run);
    stop_ = std::move(stop);
  }
  void Run() {
    if (run_ && !running_ && allowed_ && !steps_.Empty()) run_();
  }
  void Stop() {
    if (stop_ && running_) stop_();
  }

  // Called with every verdict (the statistics count them), and after every change (the
  // window redraws). At most one of each; an empty function removes it.
  void SetVerdictSink(std::function<void(Verdict)> sink) { sink_ = std::move(sink); }
  void SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

 private:
  void Judged(const Judgement& judgement);
  void ClearMarks();
  void Changed();

  GridControl& grid_;
  CycleJudge judge_;
  std::string file_;
  std::string name_;
  std::string last_time_;
  std::vector<std::size_t> marked_;
  VerdictCounter counts_;
  std::function<void(Verdict)> sink_;
  std::function<void()> listener_;
  FieldList send_fields_{FieldUse::kWrite, "fields"};
  FieldList answer_fields_{FieldUse::kCheck, "expect.fields"};
  std::function<void(const std::vector<FieldDefinition>&)> send_fields_sink_;
  StepList steps_;
  std::function<std::vector<uint8_t>()> send_data_;
  std::vector<std::optional<CycleRecord>> results_;
  bool running_ = false;
  bool allowed_ = true;
  std::function<void()> run_;
  std::function<void()> stop_;
};

}  // namespace ostrel
