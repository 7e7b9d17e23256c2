#include "test_session.h"

#include "common/display_text.h"
#include "common/tool_kind.h"
#include "logging/error_handler.h"
#include "logging/operation_log.h"
#include "senddata/byte_grid.h"
#include "senddata/grid_control.h"
#include "testfile/test_file.h"
#include "testwindow/answer_marks.h"

namespace ostrel {
namespace {

// Runs `body` with the grid's drawing held, and gives the redraw flag back as it was.
template <typename Body>
void WithRedrawHeld(GridControl& grid, Body body) {
  const bool redraw = grid.Redraw();
  grid.SetRedraw(false);
  try {
    body();
  } catch (...) {
    grid.SetRedraw(redraw);
    throw;
  }
  grid.SetRedraw(redraw);
}

}  // namespace

TestSession::TestSession(GridControl& answer_grid)
    : grid_(answer_grid), judge_([this](const Judgement& judgement) { Judged(judgement); }) {
  send_fields_.SetChangeListener([this] {
    if (send_fields_sink_) send_fields_sink_(send_fields_.Fields());
    Changed();
  });
  steps_.SetChangeListener([this] {
    results_.assign(steps_.Steps().size(), std::nullopt);
    Changed();
  });
  answer_fields_.SetChangeListener([this] {
    if (!CurrentExpectation()) return Changed();
    Expectation expectation = *CurrentExpectation();
    expectation.fields = AnswerFieldCheck(answer_fields_.Fields());
    SetExpectation(std::move(expectation));
  });
}

void TestSession::SetExpectation(std::optional<Expectation> expectation) {
  judge_.SetExpectation(std::move(expectation));
  last_time_.clear();
  RunHandled("SetExpectation", [&] { ClearMarks(); });
  Changed();
}

void TestSession::SetTestFile(std::string file, std::string name) {
  file_ = std::move(file);
  name_ = std::move(name);
  Changed();
}

void TestSession::ResetCounts() {
  counts_.Reset();
  Changed();
}

std::string TestSession::AddCurrentStep(const QJsonObject& settings) {
  if (running_) return "";
  TestStep request;
  request.fields = send_fields_.Fields();
  request.expect = CurrentExpectation();
  if (request.expect) request.expect_fields = answer_fields_.Fields();
  return steps_.Add(request, SendData(), settings);
}

void TestSession::SetStepResult(std::size_t step, const CycleRecord& record) {
  if (step >= results_.size()) return;
  results_[step] = record;
  Changed();
}

void TestSession::SetRunState(bool running, bool allowed) {
  if (running == running_ && allowed == allowed_) return;
  running_ = running;
  allowed_ = allowed;
  Changed();
}

void TestSession::Judged(const Judgement& judgement) {
  // The cycle's own lines are written; its verdict follows them.
  WriteLog(intToolKind, VerdictLogLine(judgement));
  counts_.Add(judgement.verdict);
  last_time_ = NowDateTimeText();
  if (sink_) sink_(judgement.verdict);
  // A cycle that took an answer marks it where the grid still shows it; one without an
  // answer leaves the grid, and its marks, as they were.
  RunHandled("ShowVerdict", [&] {
    const std::vector<uint8_t>& answer = judge_.Answer();
    if (answer.empty()) return;
    ClearMarks();
    if (!judge_.CurrentExpectation() || !GridShows(grid_, answer)) return;
    // Offsets are distinct and ascending: the first 2048 hold every one the grid has.
    marked_ = DifferingOffsets(*judge_.CurrentExpectation(), answer, kGridByteCapacity);
    WithRedrawHeld(grid_, [&] { MarkGridCells(grid_, marked_); });
  });
  Changed();
}

void TestSession::ClearMarks() {
  if (marked_.empty()) return;
  const std::vector<std::size_t> marked = std::move(marked_);
  marked_.clear();
  WithRedrawHeld(grid_, [&] { ClearGridMarks(grid_, marked); });
}

void TestSession::Changed() {
  if (listener_) listener_();
}

}  // namespace ostrel
