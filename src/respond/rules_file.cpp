#include "rules_file.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <filesystem>

#include "common/blank_tokens.h"
#include "fields/field_messages.h"
#include "senddata/hex_payload.h"
#include "testfile/field_json.h"
#include "testfile/json_keys.h"
#include "testfile/small_file.h"

namespace ostrel {
namespace {

constexpr int kVersion = 1;
constexpr std::size_t kRulesFileMaxBytes = 1 << 20;
constexpr std::size_t kMaxAnswer = kMaxFieldPayload;
constexpr const char* kFileKind = "応答ルールファイル";

RulesFileRead Refused(std::string error) { return {std::nullopt, std::move(error)}; }

std::string Unknown(const QJsonObject& object, std::initializer_list<const char*> known,
                    const std::string& prefix) {
  const std::string unknown = UnknownKey(object, known, prefix);
  return unknown.empty() ? "" : UnknownKeyMessage(unknown, kFileKind);
}

// "answer.hex": hexadecimal as --hex reads it, where a "??" token copies the request's byte.
std::string ReadAnswerHex(const QJsonValue& value, const std::string& path, AnswerTemplate& out) {
  if (!value.isString()) return Quoted(path) + " は文字列で書いてください。";
  const std::string text = value.toString().toStdString();
  const std::vector<std::string_view> tokens = BlankSeparatedTokens(text);
  if (tokens.empty()) return Quoted(path) + ": バイトがありません。";
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i] == "??") {
      out.bytes.push_back(0);
      out.copied.push_back(true);
    } else {
      PayloadResult hex = ParseHexPayload(tokens[i]);
      if (!hex.error.empty())
        return Quoted(path) + ": " + std::to_string(i + 1) + " 番目の \"" + std::string(tokens[i]) +
               "\": " + hex.error;
      out.bytes.insert(out.bytes.end(), hex.bytes.begin(), hex.bytes.end());
      out.copied.resize(out.bytes.size(), false);
    }
    if (out.bytes.size() > kMaxAnswer)
      return Quoted(path) + ": " + std::to_string(kMaxAnswer) + " バイトを超えています。";
  }
  return "";
}

std::string ReadAnswerFile(const QJsonValue& value, const std::string& path,
                           const std::string& folder, AnswerTemplate& out) {
  if (!value.isString()) return Quoted(path) + " は文字列で書いてください。";
  const std::string file = value.toString().toStdString();
  if (file.empty()) return Quoted(path) + " が空です。";
  const std::filesystem::path named(file);
  const std::string full =
      named.is_absolute() ? file : (std::filesystem::path(folder) / named).string();
  std::string bytes;
  const std::string where = Quoted(path) + ": \"" + full + "\" ";
  // Only its first bytes are read, as 入力 reads a send-data file.
  if (std::string problem =
          SmallFileProblem(ReadSmallFile(full, kMaxAnswer, bytes, true), where, kMaxAnswer);
      !problem.empty())
    return problem;
  if (bytes.empty()) return where + "にバイトがありません。";
  out.bytes.assign(bytes.begin(), bytes.end());
  out.copied.assign(out.bytes.size(), false);
  return "";
}

std::string ReadWhen(const QJsonValue& value, const std::string& path, ResponderRule& rule) {
  if (!value.isObject()) return Quoted(path) + " は {\"pattern\": \"…\"} の形で書いてください。";
  const QJsonObject object = value.toObject();
  const std::string prefix = path + ".";
  if (std::string error = Unknown(object, {"pattern", "fields"}, prefix); !error.empty())
    return error;
  if (!object.contains("pattern")) return Quoted(prefix + "pattern") + " がありません。";
  if (!object["pattern"].isString())
    return Quoted(prefix + "pattern") + " は文字列で書いてください。";
  PatternParse parse = AnswerPattern::Parse(object["pattern"].toString().toStdString());
  if (!parse.Ok()) return Quoted(prefix + "pattern") + ": " + parse.error.message;
  rule.pattern = std::move(*parse.pattern);
  if (object.contains("fields"))
    return ReadFieldList(object["fields"], prefix + "fields", FieldUse::kCheck, rule.request_fields,
                         kFileKind);
  return "";
}

std::string ReadAnswer(const QJsonValue& value, const std::string& path, const std::string& folder,
                       ResponderRule& rule) {
  if (value.isNull()) return "";
  if (!value.isObject())
    return Quoted(path) +
           " は null か {\"hex\": \"01 ?? 02\"}、{\"file\": \"名前\"} の形で書いてください。";
  const QJsonObject object = value.toObject();
  const std::string prefix = path + ".";
  if (std::string error = Unknown(object, {"hex", "file", "fields"}, prefix); !error.empty())
    return error;
  if (object.contains("hex") == object.contains("file"))
    return Quoted(path) + " には \"hex\" か \"file\" のどちらか一つを書いてください。";
  AnswerTemplate answer;
  std::string error = object.contains("hex")
                          ? ReadAnswerHex(object["hex"], prefix + "hex", answer)
                          : ReadAnswerFile(object["file"], prefix + "file", folder, answer);
  if (!error.empty()) return error;
  if (object.contains("fields")) {
    if (error = ReadFieldList(object["fields"], prefix + "fields", FieldUse::kWrite,
                              rule.answer_fields, kFileKind);
        !error.empty())
      return error;
    // The answer's length is fixed, so where its fields fall is known now.
    const FieldLayout layout = FieldWriter(rule.answer_fields).Layout(answer.bytes.size());
    if (layout.problem)
      return FieldMessageAt(prefix + "fields[" + std::to_string(layout.problem->field) + "]",
                            layout.problem->message);
  }
  rule.answer = std::move(answer);
  return "";
}

std::string ReadRule(const QJsonValue& value, const std::string& path, const std::string& folder,
                     ResponderRule& rule) {
  if (!value.isObject())
    return Quoted(path) + " は {\"when\": {…}, \"answer\": {…}} の形で書いてください。";
  const QJsonObject object = value.toObject();
  const std::string prefix = path + ".";
  if (std::string error = Unknown(object, {"when", "answer", "delay_ms", "drop_percent"}, prefix);
      !error.empty())
    return error;
  if (!object.contains("when")) return Quoted(prefix + "when") + " がありません。";
  if (!object.contains("answer"))
    return Quoted(prefix + "answer") + " がありません（黙るルールは \"answer\": null）。";
  if (std::string error = ReadWhen(object["when"], prefix + "when", rule); !error.empty())
    return error;
  if (std::string error = ReadAnswer(object["answer"], prefix + "answer", folder, rule);
      !error.empty())
    return error;
  double delay = 0;
  if (std::string error = ReadNumber(object, "delay_ms", prefix, 0, kMaxDelayMs, true, delay);
      !error.empty())
    return error;
  rule.delay_ms = static_cast<int>(delay);
  return ReadNumber(object, "drop_percent", prefix, 0, 100, false, rule.drop_percent);
}

}  // namespace

RulesFileRead ParseRulesFile(std::string_view json, const std::string& folder) {
  QJsonParseError parse_error{};
  const QJsonDocument document = QJsonDocument::fromJson(
      QByteArray(json.data(), static_cast<qsizetype>(json.size())), &parse_error);
  if (parse_error.error != QJsonParseError::NoError)
    return Refused("応答ルールファイルを JSON として読めません（" +
                   std::to_string(parse_error.offset + 1) + " バイト目あたり）。");
  if (!document.isObject())
    return Refused("応答ルールファイルの中身が JSON のオブジェクトではありません。");
  const QJsonObject root = document.object();
  if (!root.contains("ostrel_responder"))
    return Refused(
        "\"ostrel_responder\" がありません（応答ルールファイルには "
        "\"ostrel_responder\": 1 が要ります）。");
  const QJsonValue version = root["ostrel_responder"];
  if (!version.isDouble() || version.toDouble() != kVersion)
    return Refused("\"ostrel_responder\" の値 " + JsonText(version) +
                   " は読めません（この版が読めるのは 1 です）。");
  if (std::string error = Unknown(root, {"ostrel_responder", "name", "default", "rules"}, "");
      !error.empty())
    return Refused(std::move(error));
  if (root.contains("name") && !root["name"].isString())
    return Refused("\"name\" は文字列で書いてください。");

  ResponderRules rules;
  if (root.contains("default")) {
    const QJsonValue fallback = root["default"];
    if (fallback == QJsonValue(QStringLiteral("echo")))
      rules.fallback = DefaultAnswer::kEcho;
    else if (fallback != QJsonValue(QStringLiteral("silent")))
      return Refused("\"default\" の値 " + JsonText(fallback) +
                     " は \"silent\"、\"echo\" のどちらでもありません。");
  }
  if (!root.contains("rules")) return Refused("\"rules\" がありません。");
  if (!root["rules"].isArray())
    return Refused("\"rules\" はルールのリスト [{…}, …] で書いてください。");
  const QJsonArray list = root["rules"].toArray();
  for (qsizetype i = 0; i < list.size(); ++i) {
    ResponderRule rule;
    if (std::string error = ReadRule(list[i], "rules[" + std::to_string(i) + "]", folder, rule);
        !error.empty())
      return Refused(std::move(error));
    rules.rules.push_back(std::move(rule));
  }
  return {std::move(rules), ""};
}

RulesFileRead ReadRulesFile(const std::string& path) {
  const std::string named = "応答ルールファイル \"" + path + "\" ";
  std::string text;
  if (std::string problem = SmallFileProblem(ReadSmallFile(path, kRulesFileMaxBytes, text), named,
                                             kRulesFileMaxBytes);
      !problem.empty())
    return Refused(std::move(problem));
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  return ParseRulesFile(text, folder.empty() ? "." : folder.string());
}

}  // namespace ostrel
