#pragma once
// The program's start-up: prepare the working folders and the log, refuse a second
// running copy, load the settings into the (hidden) main window, rotate the log, check
// the stored communication settings, and show the main window, or the settings dialog
// when those settings are unusable. Start-up shows no message box of its own; what it
// has to report goes to the log.

#include <QPointer>
#include <functional>
#include <memory>

namespace ostrel {

class ComSettingDialog;
class InstanceLock;
class MainWindow;

// What start-up leaves behind for the event loop.
struct Startup {
  Startup();
  ~Startup();
  Startup(Startup&&) noexcept;
  Startup& operator=(Startup&&) noexcept;

  std::unique_ptr<InstanceLock> lock;       // held for the whole run
  std::unique_ptr<MainWindow> main_window;  // hidden until shown
  QPointer<ComSettingDialog> dialog;        // the first window when settings are unusable
  // True when a window is visible: run the event loop. False: the process ends at once.
  bool window_shown = false;
};

// Runs the start-up sequence (the program's Main). `end_program` ends the program: it
// runs when the operator confirms the exit question, or closes the start-up settings
// dialog by its close box while no other window is up.
Startup Main(std::function<void()> end_program);

}  // namespace ostrel
