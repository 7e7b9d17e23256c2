// ostrel-send: the send cycle from a terminal. Parses the command line, then runs.

#include <QCoreApplication>
#include <csignal>
#include <iostream>

#include "cli/command_line.h"
#include "cli/cycle_report.h"
#include "cli/terminal_send.h"

int main(int argc, char* argv[]) {
  // A reader that closes the pipe (`| head -1`) must not kill the run: the write fails
  // instead, the run ends after its cycle, and the answer file is still written.
  std::signal(SIGPIPE, SIG_IGN);
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("ostrel-send"));
  QCoreApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION));
  const ostrel::CommandLine command = ostrel::ParseCommandLine(QCoreApplication::arguments());
  switch (command.action) {
    case ostrel::CommandLine::Action::kHelp:
    case ostrel::CommandLine::Action::kVersion:
      std::cout << command.text << std::flush;
      return 0;
    case ostrel::CommandLine::Action::kError:
      std::cerr << command.text << "ostrel-send: 使い方は --help で表示されます。" << std::endl;
      return ostrel::kExitUsage;
    case ostrel::CommandLine::Action::kRun:
      break;
  }
  ostrel::TerminalSend send(command.options, std::cout, std::cerr);
  return send.Run();
}
