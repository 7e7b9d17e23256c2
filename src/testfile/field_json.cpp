#include "field_json.h"

#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

#include "fields/field_messages.h"
#include "json_keys.h"

namespace ostrel {
namespace {

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

std::string ReadCrcParams(const QJsonObject& object, const std::string& path, CrcParams& params,
                          std::string_view file) {
  if (const std::string unknown =
          UnknownKey(object, {"width", "poly", "init", "refin", "refout", "xorout"}, path + ".");
      !unknown.empty())
    return UnknownKeyMessage(unknown, file);
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

// "0x" and the value in as many hex digits as `width` bits fill whole bytes.
std::string HexText(uint64_t value, int width) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string digits = "0x";
  for (int i = 2 * CrcBytes(width) - 1; i >= 0; --i) digits += kDigits[(value >> (4 * i)) & 0xF];
  return digits;
}

}  // namespace

std::string ReadField(const QJsonValue& value, const std::string& path, FieldUse use,
                      FieldDefinition& definition, std::string_view file) {
  if (!value.isObject()) return Quoted(path) + " は {\"kind\": \"crc\", …} の形で書いてください。";
  const QJsonObject object = value.toObject();
  if (const std::string unknown = UnknownKey(
          object, {"kind", "model", "at", "from", "to", "order", "width", "start", "step"},
          path + ".");
      !unknown.empty())
    return UnknownKeyMessage(unknown, file);
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
      if (std::string error = ReadCrcParams(model.toObject(), path + ".model", params, file);
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
  for (auto [key, out] :
       {std::pair{"start", &definition.start}, std::pair{"step", &definition.step}}) {
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

std::string ReadFieldList(const QJsonValue& value, const std::string& path, FieldUse use,
                          std::vector<FieldDefinition>& fields, std::string_view file) {
  if (!value.isArray())
    return Quoted(path) + " はフィールドの配列 [{\"kind\": …}, …] で書いてください。";
  const QJsonArray array = value.toArray();
  fields.clear();
  fields.reserve(static_cast<std::size_t>(array.size()));
  for (qsizetype i = 0; i < array.size(); ++i) {
    FieldDefinition definition;
    const std::string at = path + "[" + std::to_string(i) + "]";
    if (std::string error = ReadField(array[i], at, use, definition, file); !error.empty())
      return error;
    fields.push_back(std::move(definition));
  }
  return "";
}

std::string FieldJsonText(const FieldDefinition& definition) {
  const auto string = [](std::string_view text) {
    return JsonText(
        QJsonValue(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))));
  };
  std::string text = "{\"kind\": " + string(FieldKindName(definition.kind));
  if (!definition.model.empty()) text += ", \"model\": " + string(definition.model);
  if (definition.params) {
    const CrcParams& p = *definition.params;
    const auto flag = [](bool value) { return value ? "true" : "false"; };
    text += ", \"model\": {\"width\": " + std::to_string(p.width) + ", \"poly\": \"" +
            HexText(p.poly, p.width) + "\", \"init\": \"" + HexText(p.init, p.width) +
            "\", \"refin\": " + flag(p.refin) + ", \"refout\": " + flag(p.refout) +
            ", \"xorout\": \"" + HexText(p.xorout, p.width) + "\"}";
  }
  text += ", \"at\": " + (definition.at ? std::to_string(*definition.at) : std::string("\"end\""));
  for (auto [key, value] : {std::pair{"from", definition.from}, std::pair{"to", definition.to}}) {
    if (value) text += std::string(", \"") + key + "\": " + std::to_string(*value);
  }
  if (definition.width) text += ", \"width\": " + std::to_string(*definition.width);
  if (FieldSize(definition) > 1) text += ", \"order\": " + string(ByteOrderName(definition.order));
  for (auto [key, value] :
       {std::pair{"start", definition.start}, std::pair{"step", definition.step}}) {
    if (value) text += std::string(", \"") + key + "\": " + std::to_string(*value);
  }
  return text + "}";
}

}  // namespace ostrel
