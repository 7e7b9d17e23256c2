#include "json_keys.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdint>

namespace ostrel {

std::string JsonText(const QJsonValue& value) {
  const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
  return array.mid(1, array.size() - 2).toStdString();  // without the brackets
}

std::string Quoted(std::string_view key) { return "\"" + std::string(key) + "\""; }

std::string UnknownKey(const QJsonObject& object, std::initializer_list<const char*> known,
                       const std::string& prefix) {
  for (auto it = object.begin(); it != object.end(); ++it) {
    bool found = false;
    for (const char* key : known) found = found || it.key() == QLatin1String(key);
    if (!found) return prefix + it.key().toStdString();
  }
  return "";
}

std::string UnknownKeyMessage(const std::string& path, std::string_view file) {
  return Quoted(path) + " は" + std::string(file) + "のキーではありません。";
}

std::string ReadNumber(const QJsonObject& object, const char* key, const std::string& prefix,
                       double lower, double upper, bool integer, double& out) {
  if (!object.contains(key)) return "";
  const QJsonValue value = object[key];
  const double number = value.toDouble();
  if (!value.isDouble() || number < lower || number > upper ||
      (integer && number != static_cast<double>(static_cast<int64_t>(number))))
    return Quoted(prefix + key) + " の値 " + JsonText(value) + " は " + (integer ? "整数 " : "") +
           JsonText(QJsonValue(lower)) + "～" + JsonText(QJsonValue(upper)) +
           " の範囲で書いてください。";
  out = number;
  return "";
}

}  // namespace ostrel
