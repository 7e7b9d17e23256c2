#pragma once
// The command line of ostrel-respond: where to listen, which rules (or --echo), how many
// requests, which seed, how to print. Checked before anything is opened.

#include <QStringList>
#include <cstdint>
#include <string>

#include "responder.h"

namespace ostrel {

struct RespondOptions {
  std::string address = "127.0.0.1";  // a dotted IPv4 address
  uint16_t port = 50000;              // 1..65535
  std::string rules_file;             // empty with `echo`
  bool echo = false;                  // answer every datagram with itself
  bool json = false;                  // one JSON object a line
  int64_t count = 0;                  // requests before the run ends; 0: until stopped
  uint64_t seed = kDefaultSeed;       // of the drop shares' generator
};

struct RespondCommandLine {
  enum class Action { kRun, kHelp, kVersion, kError };
  Action action = Action::kError;
  RespondOptions options;
  // The help or version text, or for kError the message, beginning "ostrel-respond: ".
  std::string text;
};

// Parses `arguments` (the program name first). Never raises.
RespondCommandLine ParseRespondCommandLine(const QStringList& arguments);

}  // namespace ostrel
