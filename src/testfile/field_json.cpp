#include "field_json.h"

#include <QJsonArray>
#include <QJsonObject>
#include <cmath>
#include <limits>

#include "fields/field_messages.h"
#include "json_keys.h"

namespace ostrel {
namespace {

// The largest integer a JSON number (a double) holds exactly.
constexpr double kExactLimit = 9007199254740992.0;  // 2^53

std::optional<int64_t> Integer(const QJsonValue& value) {
  if (!value.isDouble()) return std::nullopt;
  const double number = value.toDouble();
  if (std::trunc(number) != number || std::fabs(number) > kExactLimit) return std::nullopt;
  return static_cast<int64_t>(number);
}

std::string NotInteger(const std::string& path) {
  return Quoted(path) + " は整数で書いてください。";
}

// An int key (positions, width) into `out`; "" when absent or read.
std::string ReadInt(const QJsonObject& object, const char* key, const std::string& prefix,
                    std::optional<int>& out) {
  if (!object.contains(key)) return "";
  const auto value = Integer(object[key]);
  if (!value || *value < std::numeric_limits<int>::min() ||
      *value > std::numeric_limits<int>::max())
    return NotInteger(prefix + key);
  out = static_cast<int>(*value);
  return "";
}

// A CRC parameter: a non-negative integer, or a text "0x…" of up to 16 hex digits.
std::string ReadParam(const QJsonObject& object, const char* key, const std::string& prefix,
                      uint64_t& out) {
  const std::string path = prefix + key;
  if (!object.contains(key)) return Quoted(path) + " がありません。";
  const QJsonValue value = object[key];
  if (value.isString()) {
    const std::string text = value.toString().toStdString();
    if (text.size() > 2 && text.size() <= 18 && text[0] == '0' &&
        (text[1] == 'x' || text[1] == 'X')) {
      bool ok = false;
      out = QString::fromStdString(text.substr(2)).toULongLong(&ok, 16);
      if (ok) return "";
    }
  } else if (const auto number = Integer(value); number && *number >= 0) {
    out = static_cast<uint64_t>(*number);
    return "";
  }
  return Quoted(path) + " は 0 以上の整数か \"0x\" で始まる 16 進数で書いてください。";
}

std::string ReadBool(const QJsonObject& object, const char* key, const std::string& prefix,
                     bool& out) {
  const std::string path = prefix + key;
  if (!object.contains(key)) return Quoted(path) + " がありません。";
  if (!object[key].isBool()) return Quoted(path) + " は true か false で書いてください。";
  out = object[key].toBool();
  return "";
}

std::string ReadModel(const QJsonValue& value, const std::string& prefix, FieldDefinition& definition) {
  if (value.isString()) {
    definition.model = value.toString().toStdString();
    if (definition.model.empty()) return prefix + FillMessage(field_msg::kUnknownModel, {""});
    return "";
  }
  const std::string path = prefix + "model";
  if (!value.isObject())
    return Quoted(path) + " は CRC モデルの名前か {\"width\", \"poly\", …} の形で書いてください。";
  const QJsonObject object = value.toObject();
  const std::string inner = path + ".";
  if (const std::string unknown =
          UnknownKey(object, {"width", "poly", "init", "refin", "refout", "xorout"}, inner);
      !unknown.empty())
    return UnknownKeyMessage(unknown);
  CrcParams params;
  std::optional<int> width;
  if (std::string error = ReadInt(object, "width", inner, width); !error.empty()) return error;
  if (!width) return Quoted(inner + "width") + " がありません。";
  params.width = *width;
  for (auto [key, out] : {std::pair{"poly", &params.poly}, std::pair{"init", &params.init},
                          std::pair{"xorout", &params.xorout}})
    if (std::string error = ReadParam(object, key, inner, *out); !error.empty()) return error;
  for (auto [key, out] : {std::pair{"refin", &params.refin}, std::pair{"refout", &params.refout}})
    if (std::string error = ReadBool(object, key, inner, *out); !error.empty()) return error;
  definition.params = params;
  return "";
}

std::string ReadField(const QJsonValue& value, const std::string& path, FieldUse use,
                      FieldDefinition& definition) {
  if (!value.isObject()) return Quoted(path) + " は {\"kind\": …} の形で書いてください。";
  const QJsonObject object = value.toObject();
  const std::string prefix = path + ".";
  if (const std::string unknown = UnknownKey(
          object, {"kind", "model", "at", "from", "to", "order", "width", "start", "step"}, prefix);
      !unknown.empty())
    return UnknownKeyMessage(unknown);
  if (!object.contains("kind")) return Quoted(prefix + "kind") + " がありません。";
  const auto kind = object["kind"].isString()
                        ? ParseFieldKind(object["kind"].toString().toStdString())
                        : std::nullopt;
  if (!kind) return prefix + field_msg::kBadKind;
  definition.kind = *kind;
  if (object.contains("model"))
    if (std::string error = ReadModel(object["model"], prefix, definition); !error.empty()) return error;
  if (object.contains("at")) {
    const QJsonValue at = object["at"];
    if (at.isString() && at.toString() == QLatin1String("end")) {
      definition.at.reset();
    } else if (const auto number = Integer(at); number &&
                                                *number >= std::numeric_limits<int>::min() &&
                                                *number <= std::numeric_limits<int>::max()) {
      definition.at = static_cast<int>(*number);
    } else {
      return prefix + field_msg::kBadAtText;
    }
  } else {
    return Quoted(prefix + "at") + " がありません。";
  }
  for (auto [key, out] :
       {std::pair{"from", &definition.from}, std::pair{"to", &definition.to}, std::pair{"width", &definition.width}})
    if (std::string error = ReadInt(object, key, prefix, *out); !error.empty()) return error;
  for (auto [key, out] : {std::pair{"start", &definition.start}, std::pair{"step", &definition.step}}) {
    if (!object.contains(key)) continue;
    *out = Integer(object[key]);
    if (!*out) return NotInteger(prefix + key);
  }
  if (object.contains("order")) {
    const auto order = object["order"].isString()
                           ? ParseByteOrder(object["order"].toString().toStdString())
                           : std::nullopt;
    if (!order) return prefix + field_msg::kBadOrder;
    definition.order = *order;
  }
  if (auto problem = CheckFieldDefinition(definition, use)) return prefix + *problem;
  return "";
}

}  // namespace

std::string ReadFieldList(const QJsonValue& value, const std::string& path, FieldUse use,
                          std::vector<FieldDefinition>& fields) {
  if (!value.isArray()) return Quoted(path) + " はフィールドのリスト [{…}, …] で書いてください。";
  const QJsonArray list = value.toArray();
  fields.clear();
  fields.reserve(static_cast<std::size_t>(list.size()));
  for (qsizetype i = 0; i < list.size(); ++i) {
    FieldDefinition definition;
    if (std::string error = ReadField(list[i], path + "[" + std::to_string(i) + "]", use, definition);
        !error.empty())
      return error;
    fields.push_back(std::move(definition));
  }
  return "";
}

}  // namespace ostrel
