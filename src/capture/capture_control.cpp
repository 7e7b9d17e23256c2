#include "capture_control.h"

#include <filesystem>

#include "logging/error_handler.h"
#include "transmission/observer_fan_out.h"

namespace ostrel {

std::string CaptureTitleSuffix(const std::string& path) {
  return " — キャプチャ中: " + std::filesystem::path(path).filename().string();
}

CaptureControl::CaptureControl(ObserverFanOut& observers,
                               CaptureRecorder::PlannedTransmissions planned)
    : observers_(observers), planned_(std::move(planned)) {}

CaptureControl::~CaptureControl() {
  listener_ = nullptr;
  Stop();
}

void CaptureControl::Start(const std::string& path) {
  Stop();
  auto recorder = std::make_unique<CaptureRecorder>(path, planned_);
  recorder->SetAnswerNote(answer_note_);
  recorder->SetFailure([this](const std::string& description) { Failed(description); });
  recorder_ = std::move(recorder);
  path_ = path;
  failure_.clear();
  observers_.Add(recorder_.get());
  if (listener_) listener_();
}

void CaptureControl::Stop() {
  retired_.reset();
  if (!recorder_) return;
  observers_.Remove(recorder_.get());
  // The recorder writes the transmission it still holds as it goes; a failure there is
  // logged (Failed), and the listener hears of it below.
  std::unique_ptr<CaptureRecorder> ending = std::move(recorder_);
  path_.clear();
  ending.reset();
  if (listener_) listener_();
}

// Runs inside the recorder's own report: the recorder leaves the observers now (the fan-out
// tells no one it has removed) and is destroyed later.
void CaptureControl::Failed(const std::string& description) {
  LogErrorText("WriteCapture", description);
  failure_ = description;
  if (!recorder_) return;  // the capture is ending (Stop)
  observers_.Remove(recorder_.get());
  retired_ = std::move(recorder_);
  path_.clear();
  if (listener_) listener_();
}

}  // namespace ostrel
