#include "startup_sequence.h"

#include "common/tool_kind.h"
#include "instance_lock.h"
#include "logging/error_handler.h"
#include "logging/operation_log.h"
#include "mainwindow/main_window.h"
#include "settings/com_setting_dialog.h"
#include "settings/ini_file.h"
#include "settings_check.h"
#include "working_folders.h"

namespace ostrel {

Startup::Startup() = default;
Startup::~Startup() = default;
Startup::Startup(Startup&&) noexcept = default;
Startup& Startup::operator=(Startup&&) noexcept = default;

namespace {

constexpr const char* kSecondCopy = "二重起動の為、起動を中止しました。";

void ShowSettingsDialog(Startup& s, const std::function<void()>& end_program) {
  MainWindow* main_window = s.main_window.get();
  auto* dialog = new ComSettingDialog(strSettingFile[Kiv_UdpSnd]);
  s.dialog = dialog;
  QObject::connect(dialog, &ComSettingDialog::Finished, main_window, &QWidget::show);
  // Closing the dialog with its close box while no other window is up ends the program,
  // so it never runs on without a visible window.
  QObject::connect(dialog, &ComSettingDialog::ClosedWithoutButtons, main_window,
                   [main_window, end_program] {
                     if (!main_window->isVisible()) end_program();
                   });
  dialog->show();
}

}  // namespace

Startup Main(std::function<void()> end_program) {
  Startup s;
  if (!InitEnvironment(Kiv_UdpSnd)) {
    // Only when the log has started can the failure be recorded.
    if (!strLogFile[Kiv_UdpSnd].empty()) LogErrorText("Main", "");
    return s;
  }
  try {
    s.lock = std::make_unique<InstanceLock>(ExecutablePath());
    if (s.lock->AnotherCopyRunning()) {
      WriteLog(intToolKind, kSecondCopy);
      s.lock.reset();
      return s;
    }
    // Only one copy writes the settings file, so what a killed copy left is stale.
    RemoveStaleTemporaries(strSettingFile[Kiv_UdpSnd]);
    s.main_window = std::make_unique<MainWindow>();
    s.main_window->EnableStatistics();
    s.main_window->EnableTests();
    s.main_window->EnableCapture();
    QObject::connect(s.main_window.get(), &MainWindow::ExitConfirmed, s.main_window.get(),
                     end_program);
    s.main_window->ReadSetting(strSettingFile[Kiv_UdpSnd]);
    RotateLog(strLogFile[Kiv_UdpSnd], intLogMaxSize, intLogGenerations);
    if (StoredCommSettingsUsable(strSettingFile[Kiv_UdpSnd])) {
      s.main_window->show();
    } else {
      ShowSettingsDialog(s, end_program);
    }
  } catch (const std::exception& error) {
    LogError("Main", error);
  } catch (...) {
    LogErrorText("Main", "");
  }
  s.window_shown =
      (s.main_window && s.main_window->isVisible()) || (s.dialog && s.dialog->isVisible());
  return s;
}

}  // namespace ostrel
