#include "test_file.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <initializer_list>
#include <memory>

#include "common/atomic_file.h"
#include "common/display_text.h"
#include "field_json.h"
#include "fields/field_checker.h"
#include "fields/field_messages.h"
#include "fields/field_writer.h"
#include "json_keys.h"
#include "senddata/hex_payload.h"
#include "small_file.h"
#include "test_steps.h"

namespace ostrel {
namespace {

constexpr int kVersion = 1;

TestFileRead Refused(std::string error) { return {std::nullopt, std::move(error)}; }

// Reads "payload" into `payload`; the refusal's text, or "" when it was read.
std::string ReadPayload(const QJsonValue& value, const std::string& folder, TestPayload& payload) {
  if (!value.isObject())
    return "\"payload\" は {\"hex\": \"01 02\"} か {\"file\": \"名前\"} の形で書いてください。";
  const QJsonObject object = value.toObject();
  if (const std::string unknown = UnknownKey(object, {"hex", "file"}, "payload."); !unknown.empty())
    return UnknownKeyMessage(unknown);
  if (object.contains("hex") == object.contains("file"))
    return "\"payload\" には \"hex\" か \"file\" のどちらか一つを書いてください。";
  if (object.contains("hex")) {
    if (!object["hex"].isString()) return "\"payload.hex\" は文字列で書いてください。";
    PayloadResult hex = ParseHexPayload(object["hex"].toString().toStdString());
    if (!hex.error.empty()) return "\"payload.hex\": " + hex.error;
    payload.bytes = std::move(hex.bytes);
    return "";
  }
  if (!object["file"].isString()) return "\"payload.file\" は文字列で書いてください。";
  const std::string file = object["file"].toString().toStdString();
  if (file.empty()) return "\"payload.file\" が空です。";
  const std::filesystem::path named(file);
  payload.file = named.is_absolute() ? file : (std::filesystem::path(folder) / named).string();
  return "";
}

// Reads "expect" into `expect` and its fields into `fields`; the refusal's text, or "" when it was
// read.
std::string ReadExpect(const QJsonValue& value, Expectation& expect,
                       std::vector<FieldDefinition>& fields) {
  if (!value.isObject()) return "\"expect\" は {\"pattern\": \"…\"} の形で書いてください。";
  const QJsonObject object = value.toObject();
  if (const std::string unknown = UnknownKey(object, {"pattern", "from", "fields"}, "expect.");
      !unknown.empty())
    return UnknownKeyMessage(unknown);
  if (!object.contains("pattern")) return "\"expect\" に \"pattern\" がありません。";
  if (!object["pattern"].isString()) return "\"expect.pattern\" は文字列で書いてください。";
  PatternParse parse = AnswerPattern::Parse(object["pattern"].toString().toStdString());
  if (!parse.Ok()) return "\"expect.pattern\": " + parse.error.message;
  expect.pattern = std::move(*parse.pattern);
  if (object.contains("from")) {
    const QJsonValue from = object["from"];
    const std::optional<SenderRule> rule =
        from.isString() ? SenderRuleFromName(from.toString().toStdString()) : std::nullopt;
    if (!rule)
      return "\"expect.from\" の値 " + JsonText(from) +
             " は \"address\"、\"address-and-port\"、\"any\" のどれでもありません。";
    expect.from = *rule;
  }
  if (object.contains("fields")) {
    if (std::string error =
            ReadFieldList(object["fields"], "expect.fields", FieldUse::kCheck, fields);
        !error.empty())
      return error;
    expect.fields = AnswerFieldCheck(fields);
  }
  return "";
}

// `key` and its list of fields, each on a line of its own, indented by `indent`.
std::string FieldsText(const char* key, const std::vector<FieldDefinition>& fields,
                       const std::string& indent) {
  std::string text = ",\n" + indent + "\"" + key + "\": [";
  for (size_t i = 0; i < fields.size(); ++i)
    text += (i ? ",\n" : "\n") + indent + "  " + FieldJsonText(fields[i]);
  return text + "\n" + indent + "]";
}

}  // namespace

std::string FieldsFitError(const std::vector<FieldDefinition>& fields, std::size_t length) {
  const FieldLayout layout = FieldWriter(fields).Layout(length);
  if (!layout.problem) return "";
  return FieldMessageAt("fields[" + std::to_string(layout.problem->field) + "]",
                        layout.problem->message);
}

FieldCheck AnswerFieldCheck(const std::vector<FieldDefinition>& fields) {
  if (fields.empty()) return {};
  auto checker = std::make_shared<const FieldChecker>(fields);
  return [checker](std::span<const uint8_t> answer) { return checker->Check(answer).offsets; };
}

TestFileRead ParseTestFile(std::string_view json, const std::string& folder) {
  QJsonParseError parse_error{};
  const QJsonDocument document = QJsonDocument::fromJson(
      QByteArray(json.data(), static_cast<qsizetype>(json.size())), &parse_error);
  if (parse_error.error != QJsonParseError::NoError)
    return Refused("試験ファイルを JSON として読めません（" +
                   std::to_string(parse_error.offset + 1) + " バイト目あたり）。");
  if (!document.isObject())
    return Refused("試験ファイルの中身が JSON のオブジェクトではありません。");
  const QJsonObject root = document.object();

  // The version first: a later version may have keys this one does not know.
  if (!root.contains("ostrel_test"))
    return Refused(
        "\"ostrel_test\" がありません（試験ファイルには \"ostrel_test\": 1 が要ります）。");
  const QJsonValue version = root["ostrel_test"];
  if (!version.isDouble() || version.toDouble() != kVersion)
    return Refused("\"ostrel_test\" の値 " + JsonText(version) +
                   " は読めません（この版が読めるのは 1 です）。");
  if (root.contains("steps") || root.contains("repeat")) return ReadTestSteps(root, folder);
  if (const std::string unknown =
          UnknownKey(root, {"ostrel_test", "name", "payload", "fields", "expect"}, "");
      !unknown.empty())
    return Refused(UnknownKeyMessage(unknown));
  return ReadTestParts(root, folder);
}

TestFileRead ReadTestParts(const QJsonObject& root, const std::string& folder) {
  TestFile test;
  if (root.contains("name")) {
    if (!root["name"].isString()) return Refused("\"name\" は文字列で書いてください。");
    test.name = root["name"].toString().toStdString();
  }
  if (root.contains("payload")) {
    TestPayload payload;
    if (std::string error = ReadPayload(root["payload"], folder, payload); !error.empty())
      return Refused(std::move(error));
    test.payload = std::move(payload);
  }
  if (root.contains("fields")) {
    if (std::string error = ReadFieldList(root["fields"], "fields", FieldUse::kWrite, test.fields);
        !error.empty())
      return Refused(std::move(error));
    // A file payload is checked once it is loaded.
    if (test.payload && !test.payload->FromFile()) {
      if (std::string error = FieldsFitError(test.fields, test.payload->bytes.size());
          !error.empty())
        return Refused(std::move(error));
    }
  }
  if (root.contains("expect")) {
    Expectation expect;
    if (std::string error = ReadExpect(root["expect"], expect, test.expect_fields); !error.empty())
      return Refused(std::move(error));
    test.expect = std::move(expect);
  }
  return {std::move(test), ""};
}

TestFileRead ReadTestFile(const std::string& path) {
  const std::string named = "試験ファイル \"" + path + "\" ";
  std::string text;
  if (std::string problem =
          SmallFileProblem(ReadSmallFile(path, kTestFileMaxBytes, text), named, kTestFileMaxBytes);
      !problem.empty())
    return Refused(std::move(problem));
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  return ParseTestFile(text, folder.empty() ? "." : folder.string());
}

namespace {

std::string JsonString(const std::string& text) {
  return JsonText(QJsonValue(QString::fromStdString(text)));
}

// The members of a request after the object's first, each line indented by `indent`: the
// payload as hex (none for no bytes: a hex text without bytes would not read back), its
// fields and the expectation (pattern as written, "from", `expect_fields`).
std::string RequestMembers(const std::vector<uint8_t>& payload, const Expectation* expect,
                           const std::vector<FieldDefinition>& fields,
                           const std::vector<FieldDefinition>& expect_fields,
                           const std::string& indent) {
  std::string text;
  if (!payload.empty()) {
    std::string hex;
    for (const uint8_t byte : payload) {
      if (!hex.empty()) hex += ' ';
      hex += HexText2(byte);
    }
    text += ",\n" + indent + "\"payload\": {\n" + indent + "  \"hex\": " + JsonString(hex) + "\n" +
            indent + "}";
  }
  if (!fields.empty()) text += FieldsText("fields", fields, indent);
  if (expect != nullptr) {
    text += ",\n" + indent + "\"expect\": {\n" + indent +
            "  \"pattern\": " + JsonString(expect->pattern.Text()) + ",\n" + indent +
            "  \"from\": " + JsonString(SenderRuleName(expect->from));
    if (!expect_fields.empty()) text += FieldsText("fields", expect_fields, indent + "  ");
    text += "\n" + indent + "}";
  }
  return text;
}

}  // namespace

std::string TestFileText(const std::vector<uint8_t>& payload, const Expectation* expect,
                         const std::string& name, const std::vector<FieldDefinition>& fields,
                         const std::vector<FieldDefinition>& expect_fields) {
  std::string text = "{\n  \"ostrel_test\": " + std::to_string(kVersion);
  if (!name.empty()) text += ",\n  \"name\": " + JsonString(name);
  text += RequestMembers(payload, expect, fields, expect_fields, "  ");
  return text + "\n}\n";
}

std::string TestStepText(const TestStep& step, const std::vector<uint8_t>& payload,
                         const std::string& indent) {
  const std::string inner = indent + "  ";
  std::string text;
  if (!step.name.empty()) text += ",\n" + inner + "\"name\": " + JsonString(step.name);
  text += RequestMembers(payload, step.expect ? &*step.expect : nullptr, step.fields,
                         step.expect_fields, inner);
  const auto number = [&](const char* key, int64_t value) {
    text += ",\n" + inner + "\"" + key + "\": " + std::to_string(value);
  };
  if (step.timeout_ms) number("timeout_ms", *step.timeout_ms);
  if (step.retries) number("retries", *step.retries);
  if (step.wait_ms != 0) number("wait_ms", step.wait_ms);
  text += ",\n" + inner + "\"on_fail\": " + (step.stop_on_fail ? "\"stop\"" : "\"next\"");
  // The first member follows the brace without its comma.
  return indent + "{" + text.substr(1) + "\n" + indent + "}";
}

std::string TestStepsFileText(const std::string& name, const std::vector<TestStep>& steps,
                              const std::vector<std::vector<uint8_t>>& payloads, int32_t repeat) {
  std::string text = "{\n  \"ostrel_test\": " + std::to_string(kVersion);
  if (!name.empty()) text += ",\n  \"name\": " + JsonString(name);
  text += ",\n  \"steps\": [";
  for (std::size_t i = 0; i < steps.size(); ++i)
    text +=
        (i ? ",\n" : "\n") +
        TestStepText(steps[i], i < payloads.size() ? payloads[i] : steps[i].payload.bytes, "    ");
  return text + "\n  ],\n  \"repeat\": " + std::to_string(repeat) + "\n}\n";
}

void WriteTestFile(const std::string& path, const std::vector<uint8_t>& payload,
                   const Expectation* expect, const std::string& name,
                   const std::vector<FieldDefinition>& fields,
                   const std::vector<FieldDefinition>& expect_fields) {
  ReplaceFileAtomically(path, TestFileText(payload, expect, name, fields, expect_fields));
}

void WriteTestStepsFile(const std::string& path, const std::string& name,
                        const std::vector<TestStep>& steps,
                        const std::vector<std::vector<uint8_t>>& payloads, int32_t repeat) {
  ReplaceFileAtomically(path, TestStepsFileText(name, steps, payloads, repeat));
}

}  // namespace ostrel
