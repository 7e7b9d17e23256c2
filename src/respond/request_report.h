#pragma once
// What ostrel-respond prints for each request: one line, or one JSON object a line.
//
//   12:00:00.123 127.0.0.1:50001 8 bytes rule 1: answered 9 bytes
//   12:00:00.124 127.0.0.1:50001 8 bytes rule 1: answered 9 bytes after 5 ms
//   12:00:00.125 127.0.0.1:50001 2 bytes rule 3: silent
//   12:00:00.126 127.0.0.1:50001 2 bytes rule 2: dropped
//   12:00:00.127 127.0.0.1:50001 4 bytes default: echoed 4 bytes
//   12:00:00.128 127.0.0.1:50001 4 bytes default: silent
//
//   {"type":"request","time":"2026-12-08T12:00:00.123","from":"127.0.0.1:50001","bytes":8,
//    "rule":1,"action":"answered","answer_bytes":9,"delay_ms":0}
//
// Rules are numbered from 1 in their file's order; "rule" is null for the default. Plain
// C++, no Qt.

#include <chrono>
#include <cstddef>
#include <string>

#include "responder.h"

namespace ostrel {

struct RequestRecord {
  std::chrono::system_clock::time_point time;
  std::string sender;  // "address:port"
  std::size_t bytes = 0;
  Response response;
  std::size_t answer_bytes = 0;  // answered and echoed only
};

// Appends the line (with its line break) to `out`.
void AppendRequestText(const RequestRecord& record, std::string& out);
void AppendRequestJson(const RequestRecord& record, std::string& out);

// "answered", "echoed", "silent", "dropped".
const char* ActionName(ResponseAction action);

}  // namespace ostrel
