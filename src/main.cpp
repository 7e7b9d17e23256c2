// Ostrel: the executable. Everything happens in the start-up sequence and the windows.

#include <QApplication>

#include "startup/qt_translation.h"
#include "startup/startup_sequence.h"
#include "ui/ui_support.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  ostrel::InstallQtJapanese(app);
  // The program ends through the exit question, or when start-up opens no window.
  QApplication::setQuitOnLastWindowClosed(false);
  app.setFont(ostrel::ProportionalFont(9));
  ostrel::Startup startup = ostrel::Main([] { QCoreApplication::exit(0); });
  if (!startup.window_shown) return 0;
  return app.exec();
}
