// ostrel-respond: a device on a UDP port that answers by rules. Parses the command line,
// reads the rules, then runs.

#include <QCoreApplication>
#include <csignal>
#include <iostream>

#include "cli/signal_watch.h"
#include "respond/respond_command_line.h"
#include "respond/respond_server.h"
#include "respond/rules_file.h"

namespace {
constexpr int kExitUsage = 2;
constexpr int kExitRunTimeError = 3;
}  // namespace

int main(int argc, char* argv[]) {
  // A reader that closes the pipe must not kill the run: the write fails and it ends.
  std::signal(SIGPIPE, SIG_IGN);
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("ostrel-respond"));
  QCoreApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION));
  const ostrel::RespondCommandLine command =
      ostrel::ParseRespondCommandLine(QCoreApplication::arguments());
  switch (command.action) {
    case ostrel::RespondCommandLine::Action::kHelp:
    case ostrel::RespondCommandLine::Action::kVersion:
      std::cout << command.text << std::flush;
      return 0;
    case ostrel::RespondCommandLine::Action::kError:
      std::cerr << command.text << "ostrel-respond: 使い方は --help で表示されます。" << std::endl;
      return kExitUsage;
    case ostrel::RespondCommandLine::Action::kRun:
      break;
  }
  const ostrel::RespondOptions& options = command.options;
  ostrel::ResponderRules rules;
  if (options.echo) {
    rules.fallback = ostrel::DefaultAnswer::kEcho;
  } else {
    ostrel::RulesFileRead read = ostrel::ReadRulesFile(options.rules_file);
    if (!read.rules) {
      std::cerr << "ostrel-respond: " << read.error << std::endl;
      return kExitUsage;
    }
    rules = std::move(*read.rules);
  }
  ostrel::RespondServer server(options, std::move(rules), std::cout, std::cerr);
  ostrel::SignalWatch watch({SIGINT, SIGTERM});
  QObject::connect(&watch, &ostrel::SignalWatch::Received, &server, &ostrel::RespondServer::Stop);
  if (!server.Open()) return kExitRunTimeError;
  return server.Run();
}
