#include "field_form.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <optional>

#include "fields/crc.h"

namespace ostrel {
namespace {

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A whole number as a JSON number, anything else as the text it is.
QJsonValue Value(const std::string& text) {
  int64_t number = 0;
  const char* end = text.data() + text.size();
  const auto [last, error] = std::from_chars(text.data(), end, number);
  if (error == std::errc() && last == end) return QJsonValue(static_cast<double>(number));
  return QJsonValue(QString::fromStdString(text));
}

std::string Hex(uint64_t value) {
  char digits[17] = {};
  const auto [end, error] = std::to_chars(digits, digits + 16, value, 16);
  (void)error;
  std::string text(digits, end);
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return "0x" + text;
}

std::string Text(const std::optional<int64_t>& value) {
  return value ? std::to_string(*value) : std::string();
}

}  // namespace

void PutFormText(QJsonObject& object, const char* key, const std::string& text) {
  const std::string trimmed = Trimmed(text);
  if (!trimmed.empty()) object[QLatin1String(key)] = Value(trimmed);
}

bool KindTakesModel(std::string_view kind) { return kind == "crc"; }
bool KindTakesRange(std::string_view kind) { return kind != "counter" && kind != "time"; }
bool KindTakesWidth(std::string_view kind) { return !KindTakesRange(kind); }
bool KindTakesCounter(std::string_view kind) { return kind == "counter"; }

QJsonObject FieldObject(const FieldForm& form) {
  QJsonObject object;
  object[QLatin1String("kind")] = QString::fromStdString(form.kind);
  if (KindTakesModel(form.kind)) {
    if (form.custom) {
      QJsonObject params;
      PutFormText(params, "width", form.crc_width);
      PutFormText(params, "poly", form.poly);
      PutFormText(params, "init", form.init);
      PutFormText(params, "xorout", form.xorout);
      params[QLatin1String("refin")] = form.refin;
      params[QLatin1String("refout")] = form.refout;
      object[QLatin1String("model")] = params;
    } else {
      object[QLatin1String("model")] = QString::fromStdString(form.model);
    }
  }
  PutFormText(object, "at", form.at);
  if (KindTakesRange(form.kind)) {
    PutFormText(object, "from", form.from);
    PutFormText(object, "to", form.to);
  }
  PutFormText(object, "order", form.order);
  if (KindTakesWidth(form.kind)) PutFormText(object, "width", form.width);
  if (KindTakesCounter(form.kind)) {
    PutFormText(object, "start", form.start);
    PutFormText(object, "step", form.step);
  }
  return object;
}

FieldForm FormOf(const FieldDefinition& definition) {
  FieldForm form;
  form.kind = std::string(FieldKindName(definition.kind));
  if (definition.params) {
    const CrcParams& p = *definition.params;
    form.custom = true;
    form.crc_width = std::to_string(p.width);
    form.poly = Hex(p.poly);
    form.init = Hex(p.init);
    form.xorout = Hex(p.xorout);
    form.refin = p.refin;
    form.refout = p.refout;
  } else if (const CrcModel* model = FindCrcModel(definition.model)) {
    form.model = std::string(model->name);
  }
  form.at = definition.at ? std::to_string(*definition.at) : "end";
  form.from = definition.from ? std::to_string(*definition.from) : "";
  form.to = definition.to ? std::to_string(*definition.to) : "";
  form.order = std::string(ByteOrderName(definition.order));
  form.width = definition.width ? std::to_string(*definition.width) : "";
  form.start = Text(definition.start);
  form.step = Text(definition.step);
  return form;
}

}  // namespace ostrel
