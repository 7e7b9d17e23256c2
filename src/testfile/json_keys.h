#pragma once
// What the readers of the JSON files (test files, responder rules) share: a value shown
// as it was written, keys named with their path, and the texts that refuse an unknown key.

#include <QJsonObject>
#include <QJsonValue>
#include <initializer_list>
#include <string>
#include <string_view>

namespace ostrel {

// A JSON value as it would be written, compact: "text" with its quotes, 2, true, {...}.
std::string JsonText(const QJsonValue& value);

// `key` in double quotes.
std::string Quoted(std::string_view key);

// The first key of `object` not in `known`, named with its path (`prefix` in front); ""
// when all are known.
std::string UnknownKey(const QJsonObject& object, std::initializer_list<const char*> known,
                       const std::string& prefix);

// "\"payload.size\" は試験ファイルのキーではありません。"; `file` names the kind of file.
std::string UnknownKeyMessage(const std::string& path, std::string_view file = "試験ファイル");

// The number `key` of `object`, when it is there, into `out`: it must lie in lower..upper
// and, with `integer`, be whole; the refusal names the key with `prefix` in front and the
// range. "" when it is missing or was read.
std::string ReadNumber(const QJsonObject& object, const char* key, const std::string& prefix,
                       double lower, double upper, bool integer, double& out);

}  // namespace ostrel
