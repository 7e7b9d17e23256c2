#pragma once
// The responder's rules file: one JSON document (UTF-8) in the family of test files.
//
//   { "ostrel_responder": 1, "default": "silent",
//     "rules": [
//       { "when": { "pattern": "01 03 00 00 00 02 ?? ??",
//                   "fields": [{ "kind": "crc", "model": "CRC-16/MODBUS", "at": -2,
//                                "order": "little" }] },
//         "answer": { "hex": "01 03 04 00 0A 00 0B",
//                     "fields": [{ "kind": "crc", "model": "CRC-16/MODBUS", "at": "end",
//                                  "order": "little" }] },
//         "delay_ms": 5 },
//       { "when": { "pattern": "?? ?? 01 00 *" },
//         "answer": { "hex": "?? ?? 81 80 00 00" } },
//       { "when": { "pattern": "FF *" }, "answer": null, "drop_percent": 0 } ] }
//
// "ostrel_responder" must be 1; "default" is "silent" (when absent) or "echo"; "rules" is
// required (it may be empty). In a rule, "when.pattern" is required; "answer" is required
// and is null (silence), {"hex": …} (where "??" copies the request's byte at that offset)
// or {"file": …} (relative to the rules file's folder, its first 2048 bytes); "delay_ms"
// 0..3600000 and "drop_percent" 0..100 are optional. Any other key, a wrong type or a
// value out of range refuses the file with a message naming the key's path
// ("rules[2].answer.hex: …").

#include <string>
#include <string_view>

#include "responder.h"

namespace ostrel {

struct RulesFileRead {
  std::optional<ResponderRules> rules;  // set when the file opened
  std::string error;                    // otherwise why not, naming the key or token at fault
};

// Reads the rules file `path` (a regular file, links followed, at most 1 MiB).
RulesFileRead ReadRulesFile(const std::string& path);

// Reads a rules file's text; "file" answers are read from `folder`.
RulesFileRead ParseRulesFile(std::string_view json, const std::string& folder);

}  // namespace ostrel
