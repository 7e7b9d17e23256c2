#include "test_file.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <initializer_list>
#include <memory>

#include "common/atomic_file.h"
#include "common/display_text.h"
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

// ---- computed fields ----

// Whole numbers beyond this lose digits in a JSON number; larger CRC parameters are hex texts.
constexpr double kExactWhole = 9007199254740992.0;  // 2^53

std::string WholeNumberMessage(const std::string& path) {
  return Quoted(path) + " は整数で書いてください。";
}

bool IsWholeNumber(const QJsonValue& value) {
  if (!value.isDouble()) return false;
  const double number = value.toDouble();
  return std::isfinite(number) && number == std::floor(number) && std::fabs(number) <= kExactWhole;
}

// A position or width: out-of-range values stay out of range, so the field's own check
// names the range.
std::string ReadInt(const QJsonValue& value, const std::string& path, std::optional<int>& out) {
  if (!IsWholeNumber(value)) return WholeNumberMessage(path);
  out = static_cast<int>(std::clamp(value.toDouble(), -1e9, 1e9));
  return "";
}

std::string ReadInt64(const QJsonValue& value, const std::string& path,
                      std::optional<int64_t>& out) {
  if (!IsWholeNumber(value)) return WholeNumberMessage(path);
  out = static_cast<int64_t>(value.toDouble());
  return "";
}

// poly, init, xorout: a whole number from 0 (up to 2^53) or a text "0x" and 1 to 16 hex digits.
std::string ReadCrcValue(const QJsonValue& value, const std::string& path, uint64_t& out) {
  if (IsWholeNumber(value) && value.toDouble() >= 0) {
    out = static_cast<uint64_t>(value.toDouble());
    return "";
  }
  const std::string text = value.isString() ? value.toString().toStdString() : "";
  const bool hex = text.size() > 2 && text.size() <= 18 && text[0] == '0' &&
                   (text[1] == 'x' || text[1] == 'X') &&
                   text.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
  if (!hex)
    return Quoted(path) +
           " は 0 以上の整数か、\"0x\" で始まる 16 進数の文字列（\"0x8005\"、16 桁まで）で"
           "書いてください。";
  out = std::stoull(text.substr(2), nullptr, 16);
  return "";
}

std::string ReadCrcParams(const QJsonObject& object, const std::string& path, CrcParams& params) {
  if (const std::string unknown =
          UnknownKey(object, {"width", "poly", "init", "refin", "refout", "xorout"}, path + ".");
      !unknown.empty())
    return UnknownKeyMessage(unknown);
  if (object.contains("width")) {
    std::optional<int> width;
    if (std::string error = ReadInt(object["width"], path + ".width", width); !error.empty())
      return error;
    params.width = *width;
  }
  for (auto [key, out] : {std::pair{"poly", &params.poly}, std::pair{"init", &params.init},
                          std::pair{"xorout", &params.xorout}}) {
    if (!object.contains(key)) continue;
    if (std::string error = ReadCrcValue(object[key], path + "." + key, *out); !error.empty())
      return error;
  }
  for (auto [key, out] : {std::pair{"refin", &params.refin}, std::pair{"refout", &params.refout}}) {
    if (!object.contains(key)) continue;
    if (!object[key].isBool())
      return Quoted(path + "." + key) + " は true か false で書いてください。";
    *out = object[key].toBool();
  }
  return "";
}

std::string ReadField(const QJsonValue& value, const std::string& path, FieldUse use,
                      FieldDefinition& definition) {
  if (!value.isObject()) return Quoted(path) + " は {\"kind\": \"crc\", …} の形で書いてください。";
  const QJsonObject object = value.toObject();
  if (const std::string unknown = UnknownKey(
          object, {"kind", "model", "at", "from", "to", "order", "width", "start", "step"},
          path + ".");
      !unknown.empty())
    return UnknownKeyMessage(unknown);
  if (!object.contains("kind")) return Quoted(path) + " に \"kind\" がありません。";
  const std::optional<FieldKind> kind =
      object["kind"].isString() ? ParseFieldKind(object["kind"].toString().toStdString())
                                : std::nullopt;
  if (!kind) return FieldMessageAt(path, field_msg::kBadKind);
  definition.kind = *kind;
  if (object.contains("model")) {
    const QJsonValue model = object["model"];
    if (model.isObject()) {
      CrcParams params;
      if (std::string error = ReadCrcParams(model.toObject(), path + ".model", params);
          !error.empty())
        return error;
      definition.params = params;
    } else if (model.isString()) {
      definition.model = model.toString().toStdString();
    } else {
      return FieldMessageAt(path, field_msg::kNoModel);
    }
  }
  if (object.contains("at")) {
    const QJsonValue at = object["at"];
    if (at.isString() && at.toString() == QLatin1String("end")) {
      definition.at.reset();
    } else if (IsWholeNumber(at)) {
      ReadInt(at, path + ".at", definition.at);
    } else {
      return FieldMessageAt(path, field_msg::kBadAtText);
    }
  } else {
    return Quoted(path) + " に \"at\" がありません（位置か \"end\" を書いてください）。";
  }
  for (auto [key, out] : {std::pair{"from", &definition.from}, std::pair{"to", &definition.to},
                          std::pair{"width", &definition.width}}) {
    if (!object.contains(key)) continue;
    if (std::string error = ReadInt(object[key], path + "." + key, *out); !error.empty())
      return error;
  }
  for (auto [key, out] : {std::pair{"start", &definition.start}, std::pair{"step", &definition.step}}) {
    if (!object.contains(key)) continue;
    if (std::string error = ReadInt64(object[key], path + "." + key, *out); !error.empty())
      return error;
  }
  if (object.contains("order")) {
    const std::optional<ByteOrder> order =
        object["order"].isString() ? ParseByteOrder(object["order"].toString().toStdString())
                                   : std::nullopt;
    if (!order) return FieldMessageAt(path, field_msg::kBadOrder);
    definition.order = *order;
  }
  if (auto problem = CheckFieldDefinition(definition, use)) return FieldMessageAt(path, *problem);
  return "";
}

// Reads a list of fields at `path` ("fields", "expect.fields"); the refusal, or "".
std::string ReadFields(const QJsonValue& value, const std::string& path, FieldUse use,
                       std::vector<FieldDefinition>& fields) {
  if (!value.isArray())
    return Quoted(path) + " はフィールドの配列 [{\"kind\": …}, …] で書いてください。";
  const QJsonArray array = value.toArray();
  for (qsizetype i = 0; i < array.size(); ++i) {
    FieldDefinition definition;
    const std::string at = path + "[" + std::to_string(i) + "]";
    if (std::string error = ReadField(array[i], at, use, definition); !error.empty()) return error;
    fields.push_back(std::move(definition));
  }
  return "";
}

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
    if (std::string error = ReadFields(object["fields"], "expect.fields", FieldUse::kCheck, fields);
        !error.empty())
      return error;
    expect.fields = AnswerFieldCheck(fields);
  }
  return "";
}

// One field as the file writes it, on one line: {"kind": "crc", "model": …, "at": "end", …}.
std::string FieldText(const FieldDefinition& definition) {
  const auto string = [](std::string_view text) {
    return JsonText(
        QJsonValue(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))));
  };
  std::string text = "{\"kind\": " + string(FieldKindName(definition.kind));
  if (!definition.model.empty()) text += ", \"model\": " + string(definition.model);
  if (definition.params) {
    const CrcParams& p = *definition.params;
    const auto hex = [&p](uint64_t value) {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      std::string digits;
      for (int i = 2 * CrcBytes(p.width) - 1; i >= 0; --i)
        digits += kDigits[(value >> (4 * i)) & 0xF];
      return "\"0x" + digits + "\"";
    };
    const auto flag = [](bool value) { return value ? "true" : "false"; };
    text += ", \"model\": {\"width\": " + std::to_string(p.width) + ", \"poly\": " + hex(p.poly) +
            ", \"init\": " + hex(p.init) + ", \"refin\": " + flag(p.refin) +
            ", \"refout\": " + flag(p.refout) + ", \"xorout\": " + hex(p.xorout) + "}";
  }
  text += ", \"at\": " + (definition.at ? std::to_string(*definition.at) : std::string("\"end\""));
  for (auto [key, value] : {std::pair{"from", definition.from}, std::pair{"to", definition.to}}) {
    if (value) text += std::string(", \"") + key + "\": " + std::to_string(*value);
  }
  if (definition.width) text += ", \"width\": " + std::to_string(*definition.width);
  if (FieldSize(definition) > 1) text += ", \"order\": " + string(ByteOrderName(definition.order));
  for (auto [key, value] : {std::pair{"start", definition.start}, std::pair{"step", definition.step}}) {
    if (value) text += std::string(", \"") + key + "\": " + std::to_string(*value);
  }
  return text + "}";
}

// `key` and its list of fields, each on a line of its own, indented by `indent`.
std::string FieldsText(const char* key, const std::vector<FieldDefinition>& fields,
                       const std::string& indent) {
  std::string text = ",\n" + indent + "\"" + key + "\": [";
  for (size_t i = 0; i < fields.size(); ++i)
    text += (i ? ",\n" : "\n") + indent + "  " + FieldText(fields[i]);
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
    if (std::string error = ReadFields(root["fields"], "fields", FieldUse::kWrite, test.fields);
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

std::string TestFileText(const std::vector<uint8_t>& payload, const Expectation* expect,
                         const std::string& name, const std::vector<FieldDefinition>& fields,
                         const std::vector<FieldDefinition>& expect_fields) {
  const auto string = [](const std::string& text) {
    return JsonText(QJsonValue(QString::fromStdString(text)));
  };
  std::string text = "{\n  \"ostrel_test\": " + std::to_string(kVersion);
  if (!name.empty()) text += ",\n  \"name\": " + string(name);
  // An empty send grid gives no payload: a hex text without bytes would not read back.
  if (!payload.empty()) {
    std::string hex;
    for (const uint8_t byte : payload) {
      if (!hex.empty()) hex += ' ';
      hex += HexText2(byte);
    }
    text += ",\n  \"payload\": {\n    \"hex\": " + string(hex) + "\n  }";
  }
  if (!fields.empty()) text += FieldsText("fields", fields, "  ");
  if (expect != nullptr) {
    text += ",\n  \"expect\": {\n    \"pattern\": " + string(expect->pattern.Text()) +
            ",\n    \"from\": " + string(SenderRuleName(expect->from));
    if (!expect_fields.empty()) text += FieldsText("fields", expect_fields, "    ");
    text += "\n  }";
  }
  return text + "\n}\n";
}

void WriteTestFile(const std::string& path, const std::vector<uint8_t>& payload,
                   const Expectation* expect, const std::string& name,
                   const std::vector<FieldDefinition>& fields,
                   const std::vector<FieldDefinition>& expect_fields) {
  ReplaceFileAtomically(path, TestFileText(payload, expect, name, fields, expect_fields));
}

}  // namespace ostrel
