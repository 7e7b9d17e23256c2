#pragma once
// The sequence of a test file: "steps" (each a request with its expected answer and how it
// is waited for) and "repeat".
//
//   { "ostrel_test": 1, "name": "register test",
//     "steps": [ { "name": "wake", "payload": {"hex": "AA 01"}, "expect": {"pattern": "AA 81 *"},
//                  "timeout_ms": 500, "retries": 3, "wait_ms": 100, "on_fail": "next" }, … ],
//     "repeat": 10 }
//
// A step has the request keys of a file without steps ("name", "payload", "fields",
// "expect"), read by the same readers; such a file has none of them at the top.

#include <QJsonObject>
#include <string>

#include "test_file.h"

namespace ostrel {

// Reads a test file's root `root` whose version is checked and which has "steps" or "repeat";
// a "file" payload is resolved against `folder`. A refusal names the key ("steps[2].timeout_ms").
TestFileRead ReadTestSteps(const QJsonObject& root, const std::string& folder);

// Reads the step `value` found at `path` ("steps[2]") into `step` (which starts with the
// defaults); the refusal's text naming the key, or "" when it was read.
std::string ReadTestStep(const QJsonValue& value, const std::string& path,
                         const std::string& folder, TestStep& step);

}  // namespace ostrel
