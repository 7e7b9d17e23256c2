#include "test_steps.h"

#include <QJsonArray>

#include "json_keys.h"

namespace ostrel {
namespace {

constexpr double kLongestWaitMs = 3600000;  // an hour, as the longest send interval
constexpr double kMostRetries = 32767;      // CommonSendRetry's largest value
constexpr double kMostRepeats = 1000000;

TestFileRead Refused(std::string error) { return {std::nullopt, std::move(error)}; }

// The request readers name their keys from the top ("\"payload.hex\": …"): the step's path
// goes in front of the first key named.
std::string AtStep(const std::string& error, const std::string& step) {
  if (error.empty() || error[0] != '"') return Quoted(step) + ": " + error;
  return "\"" + step + "." + error.substr(1);
}

}  // namespace

std::string ReadTestStep(const QJsonValue& value, const std::string& path,
                         const std::string& folder, TestStep& step) {
  if (!value.isObject())
    return Quoted(path) + " は {\"payload\": {…}, \"expect\": {…}} の形で書いてください。";
  const QJsonObject object = value.toObject();
  const std::string prefix = path + ".";
  if (const std::string unknown = UnknownKey(
          object,
          {"name", "payload", "fields", "expect", "timeout_ms", "retries", "wait_ms", "on_fail"},
          prefix);
      !unknown.empty())
    return UnknownKeyMessage(unknown);
  if (!object.contains("payload")) return Quoted(path) + " に \"payload\" がありません。";
  QJsonObject request;
  for (const char* key : {"name", "payload", "fields", "expect"})
    if (object.contains(key)) request.insert(QLatin1String(key), object[key]);
  TestFileRead read = ReadTestParts(request, folder);
  if (!read.test) return AtStep(read.error, path);
  TestFile& parts = *read.test;
  step.name = std::move(parts.name);
  step.payload = std::move(*parts.payload);
  step.fields = std::move(parts.fields);
  step.expect = std::move(parts.expect);
  step.expect_fields = std::move(parts.expect_fields);

  double number = -1;
  if (std::string error = ReadNumber(object, "timeout_ms", prefix, 0, kLongestWaitMs, true, number);
      !error.empty())
    return error;
  if (number >= 0) step.timeout_ms = static_cast<int32_t>(number);
  number = -1;
  if (std::string error = ReadNumber(object, "retries", prefix, 0, kMostRetries, true, number);
      !error.empty())
    return error;
  if (number >= 0) step.retries = static_cast<int16_t>(number);
  number = 0;
  if (std::string error = ReadNumber(object, "wait_ms", prefix, 0, kLongestWaitMs, true, number);
      !error.empty())
    return error;
  step.wait_ms = static_cast<int32_t>(number);
  if (object.contains("on_fail")) {
    const QJsonValue on_fail = object["on_fail"];
    if (on_fail != QJsonValue(QStringLiteral("stop")) &&
        on_fail != QJsonValue(QStringLiteral("next")))
      return Quoted(prefix + "on_fail") + " の値 " + JsonText(on_fail) +
             " は \"stop\"、\"next\" のどちらでもありません。";
    step.stop_on_fail = on_fail == QJsonValue(QStringLiteral("stop"));
  }
  return "";
}

TestFileRead ReadTestSteps(const QJsonObject& root, const std::string& folder) {
  for (const char* single : {"payload", "fields", "expect"})
    if (root.contains(single))
      return Refused(
          Quoted(single) +
          " は \"steps\" のある試験ファイルには書けません（手順ごとに書いてください）。");
  if (const std::string unknown = UnknownKey(root, {"ostrel_test", "name", "steps", "repeat"}, "");
      !unknown.empty())
    return Refused(UnknownKeyMessage(unknown));
  if (!root.contains("steps")) return Refused("\"repeat\" には \"steps\" が要ります。");
  if (!root["steps"].isArray() || root["steps"].toArray().isEmpty())
    return Refused("\"steps\" は手順の配列 [{\"payload\": …}, …] で書いてください（一つ以上）。");

  TestFile test;
  if (root.contains("name")) {
    if (!root["name"].isString()) return Refused("\"name\" は文字列で書いてください。");
    test.name = root["name"].toString().toStdString();
  }
  double repeat = 1;
  if (std::string error = ReadNumber(root, "repeat", "", 1, kMostRepeats, true, repeat);
      !error.empty())
    return Refused(std::move(error));
  test.repeat = static_cast<int32_t>(repeat);
  const QJsonArray steps = root["steps"].toArray();
  for (qsizetype i = 0; i < steps.size(); ++i) {
    TestStep step;
    if (std::string error =
            ReadTestStep(steps[i], "steps[" + std::to_string(i) + "]", folder, step);
        !error.empty())
      return Refused(std::move(error));
    test.steps.push_back(std::move(step));
  }
  return {std::move(test), ""};
}

}  // namespace ostrel
