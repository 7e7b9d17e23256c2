#pragma once
// A capture that the window or ostrel-send starts and stops. While it runs its recorder is
// on the send cycle's observers; while none runs nothing of it is there, so it costs
// nothing. A write that fails (a full disk) ends the capture with one log line
// "description(WriteCapture)"; sending goes on.

#include <functional>
#include <memory>
#include <string>

#include "capture/capture_recorder.h"

namespace ostrel {

class ObserverFanOut;

// " — キャプチャ中: name.pcapng" for a capture into `path`, to follow a window's title.
std::string CaptureTitleSuffix(const std::string& path);

class CaptureControl {
 public:
  // `observers` must outlive the control.
  CaptureControl(ObserverFanOut& observers, CaptureRecorder::PlannedTransmissions planned);
  ~CaptureControl();  // stops a running capture
  CaptureControl(const CaptureControl&) = delete;
  CaptureControl& operator=(const CaptureControl&) = delete;

  // Captures into `path` from now on, after stopping a capture that runs. Raises
  // RunTimeError when the file cannot be made (a link or anything but a regular file in
  // its place is refused); no capture runs then.
  void Start(const std::string& path);
  // Ends the running capture; the file keeps what it has. Harmless when none runs.
  void Stop();

  bool Capturing() const { return recorder_ != nullptr; }
  // The file of the running capture ("" when none runs).
  const std::string& Path() const { return path_; }
  // The description of the write that ended the latest capture; "" when it has not failed.
  const std::string& FailureText() const { return failure_; }

  // The verdict's note for each answer (see CaptureRecorder::SetAnswerNote).
  void SetAnswerNote(CaptureRecorder::AnswerNote note) { answer_note_ = std::move(note); }
  // Runs after every start and stop, also when a failed write ended the capture.
  void SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

 private:
  void Failed(const std::string& description);

  ObserverFanOut& observers_;
  CaptureRecorder::PlannedTransmissions planned_;
  CaptureRecorder::AnswerNote answer_note_;
  std::function<void()> listener_;
  std::unique_ptr<CaptureRecorder> recorder_;
  // A recorder that failed while it reported: it goes at the next start or stop.
  std::unique_ptr<CaptureRecorder> retired_;
  std::string path_;
  std::string failure_;
};

}  // namespace ostrel
