#pragma once
// The test file: one JSON document (UTF-8) that says what to send and what a right answer
// is. The destination, the ports and the reachability check are not in it.
//
//   { "ostrel_test": 1,
//     "name": "read two registers",
//     "payload": { "hex": "01 03 00 00 00 02" },        or { "file": "request.bin" }
//     "fields": [ { "kind": "crc", "model": "CRC-16/MODBUS", "at": "end", "order": "little" } ],
//     "expect": { "pattern": "01 03 04 ?? ?? ?? ?? *", "from": "address",
//                 "fields": [ { "kind": "crc", "model": "CRC-16/MODBUS", "at": -2, "order":
//                 "little" } ] } }
//
// "ostrel_test" is required and must be 1; the other keys are optional. A "file" payload
// is named relative to the test file's folder and is not read here: the caller loads it
// as "入力" loads a file, so the same checks, log lines and messages apply; it then asks
// FieldsFitError whether the fields fit the loaded bytes. A "hex" payload is checked here.

#include <QJsonObject>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fields/field_definition.h"
#include "verification/expectation.h"

namespace ostrel {

struct TestPayload {
  std::vector<uint8_t> bytes;  // from "hex"
  std::string file;            // from "file", resolved against the test file's folder
  bool FromFile() const { return !file.empty(); }
};

// One request of a sequence ("steps[i]"), with how its answer is waited for.
struct TestStep {
  std::string name;                            // "" when the step has none
  TestPayload payload;                         // every step names one
  std::vector<FieldDefinition> fields;         // written into it before each transmission
  std::optional<Expectation> expect;           // none: any answer will do
  std::vector<FieldDefinition> expect_fields;  // "expect.fields", also in expect->fields
  std::optional<int32_t> timeout_ms;           // none: the settings' answer time-out
  std::optional<int16_t> retries;              // none: the settings' CommonSendRetry
  int32_t wait_ms = 0;                         // after the verdict, before the next step
  bool stop_on_fail = true;                    // "on_fail": "stop", or false for "next"
};

struct TestFile {
  std::string name;                            // "" when the file has none
  std::optional<TestPayload> payload;          // none: the file names no payload
  std::vector<FieldDefinition> fields;         // the payload's computed fields ("fields")
  std::optional<Expectation> expect;           // none: the file expects nothing
  std::vector<FieldDefinition> expect_fields;  // "expect.fields", also in expect->fields
  // A sequence instead of the single request above (which a file with steps has not).
  std::vector<TestStep> steps;
  int32_t repeat = 1;  // times the steps run in one run
};

struct TestFileRead {
  std::optional<TestFile> test;  // set when the file opened
  std::string error;             // otherwise why not, naming the key or token at fault
};

// The largest test file read, in bytes.
inline constexpr std::size_t kTestFileMaxBytes = 1 << 20;

// Reads the test file `path` (a regular file, links followed, at most kTestFileMaxBytes).
TestFileRead ReadTestFile(const std::string& path);

// Reads a test file's text; a "file" payload is resolved against `folder`.
TestFileRead ParseTestFile(std::string_view json, const std::string& folder);

// Reads "name", "payload", "fields" and "expect" of `object` (other keys are the caller's);
// a "file" payload is resolved against `folder`.
TestFileRead ReadTestParts(const QJsonObject& object, const std::string& folder);

// Why `fields` (the payload's, "fields") cannot be written into `length` bytes, naming
// the field's key: one falls outside them or grows them beyond 2048 bytes; "" when they fit.
std::string FieldsFitError(const std::vector<FieldDefinition>& fields, std::size_t length);

// The check of computed fields in an answer, for Expectation::fields; none for no fields.
// Every field must pass CheckFieldDefinition(field, FieldUse::kCheck).
FieldCheck AnswerFieldCheck(const std::vector<FieldDefinition>& fields);

// The text of a test file with `payload` as hex and, where given, the expectation
// (pattern as written, "from", `expect_fields`), the payload's `fields` and the name;
// two-space indents, one line per field, a line break at the end.
std::string TestFileText(const std::vector<uint8_t>& payload, const Expectation* expect,
                         const std::string& name = "",
                         const std::vector<FieldDefinition>& fields = {},
                         const std::vector<FieldDefinition>& expect_fields = {});

// Writes that text to `path`, replacing the file whole (atomic_file.h); raises
// RunTimeError when it cannot, the old file then as it was.
void WriteTestFile(const std::string& path, const std::vector<uint8_t>& payload,
                   const Expectation* expect, const std::string& name = "",
                   const std::vector<FieldDefinition>& fields = {},
                   const std::vector<FieldDefinition>& expect_fields = {});

// The text of a test file with `steps` (`payloads` holding each step's bytes, written as
// "hex") and "repeat", laid out as TestFileText lays out a request, each step's timing and
// "on_fail" after its request.
std::string TestStepsFileText(const std::string& name, const std::vector<TestStep>& steps,
                              const std::vector<std::vector<uint8_t>>& payloads, int32_t repeat);
// One step of it as an object, `indent` before each of its lines; its bytes are `payload`.
std::string TestStepText(const TestStep& step, const std::vector<uint8_t>& payload,
                         const std::string& indent = "");

// Writes that text to `path` as WriteTestFile writes a request.
void WriteTestStepsFile(const std::string& path, const std::string& name,
                        const std::vector<TestStep>& steps,
                        const std::vector<std::vector<uint8_t>>& payloads, int32_t repeat);

}  // namespace ostrel
