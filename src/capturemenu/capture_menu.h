#pragma once
// The window's capture items, in the menu given (the main window's "試験"):
//   "キャプチャ開始…"  asks for a file (.pcapng) and captures every datagram the send cycle
//                      sends and receives into it from now on;
//   "キャプチャ停止"   ends the capture (enabled only while one runs).
// While a capture runs the windows' titles say so. What happens lies in CaptureControl.

#include <QObject>
#include <QString>
#include <functional>
#include <string>

#include "capture/capture_control.h"

class QAction;
class QMenu;
class QWidget;

namespace ostrel {

class ObserverFanOut;

class CaptureMenu : public QObject {
  Q_OBJECT

 public:
  // Adds the items to `menu`; `window` parents the file dialog and the message boxes.
  // `observers` must outlive this.
  CaptureMenu(QMenu& menu, ObserverFanOut& observers, QWidget& window,
              CaptureRecorder::PlannedTransmissions planned);
  ~CaptureMenu() override;

  // Captures into `path`; a file that cannot be made is logged and shown. True when the
  // capture runs.
  bool StartCapture(const std::string& path);
  void StopCapture();

  // Hears the text to follow the windows' titles after every start and stop ("" when no
  // capture runs).
  void SetTitleListener(std::function<void(const QString& suffix)> listener) {
    title_listener_ = std::move(listener);
  }

  CaptureControl& control() { return control_; }
  QAction* CaptureStart() const { return CaptureStart_; }
  QAction* CaptureStop() const { return CaptureStop_; }

 private:
  void CaptureStart_Click();
  void Changed();

  QWidget& window_;
  CaptureControl control_;
  QAction* CaptureStart_ = nullptr;
  QAction* CaptureStop_ = nullptr;
  QString last_folder_;
  std::function<void(const QString&)> title_listener_;
};

}  // namespace ostrel
