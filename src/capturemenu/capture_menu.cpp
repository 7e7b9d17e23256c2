#include "capture_menu.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>

#include "common/run_time_error.h"
#include "logging/error_handler.h"
#include "ui/ui_support.h"

namespace ostrel {
namespace {

constexpr const char* kStartFailed = "キャプチャファイルを作成できませんでした。";
constexpr const char* kFilter = "キャプチャファイル (*.pcapng);;すべてのファイル (*)";

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

CaptureMenu::CaptureMenu(QMenu& menu, ObserverFanOut& observers, QWidget& window,
                         CaptureRecorder::PlannedTransmissions planned)
    : window_(window), control_(observers, std::move(planned)), last_folder_(QDir::currentPath()) {
  menu.addSeparator();
  CaptureStart_ = menu.addAction(Q("キャプチャ開始…"));
  CaptureStop_ = menu.addAction(Q("キャプチャ停止"));
  CaptureStop_->setEnabled(false);
  connect(CaptureStart_, &QAction::triggered, this, &CaptureMenu::CaptureStart_Click);
  connect(CaptureStop_, &QAction::triggered, this, &CaptureMenu::StopCapture);
  control_.SetChangeListener([this] { Changed(); });
}

CaptureMenu::~CaptureMenu() { control_.SetChangeListener({}); }

void CaptureMenu::CaptureStart_Click() {
  RunHandled("CaptureStart_Click", [&] {
    QString path =
        QFileDialog::getSaveFileName(&window_, Q("キャプチャ開始"), last_folder_, Q(kFilter));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".pcapng");
    last_folder_ = QFileInfo(path).absolutePath();
    StartCapture(QFile::encodeName(path).toStdString());
  });
}

bool CaptureMenu::StartCapture(const std::string& path) {
  return RunHandled("CaptureStart_Click", [&] {
    try {
      control_.Start(path);
    } catch (const std::exception& error) {
      ShowMessage(&window_,
                  std::string(kStartFailed) + "\r\n" + path + "\r\n" + DescriptionOf(error),
                  MsgIcon::Critical);
      throw;
    }
  });
}

void CaptureMenu::StopCapture() { control_.Stop(); }

void CaptureMenu::Changed() {
  CaptureStop_->setEnabled(control_.Capturing());
  if (title_listener_) {
    title_listener_(control_.Capturing()
                        ? QString::fromStdString(CaptureTitleSuffix(control_.Path()))
                        : QString());
  }
}

}  // namespace ostrel
