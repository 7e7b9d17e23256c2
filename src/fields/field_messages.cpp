#include "field_messages.h"

namespace ostrel {

std::string FillMessage(std::string_view text, std::initializer_list<std::string_view> values) {
  std::string out;
  const std::string_view* next = values.begin();
  for (size_t pos = 0;;) {
    const size_t mark = text.find("{}", pos);
    if (mark == std::string_view::npos || next == values.end()) {
      out += text.substr(pos);
      return out;
    }
    out += text.substr(pos, mark - pos);
    out += *next++;
    pos = mark + 2;
  }
}

std::string FieldMessageAt(std::string_view path, std::string_view message) {
  const size_t colon = message.find(": ");
  if (colon == std::string_view::npos)
    return "\"" + std::string(path) + "\": " + std::string(message);
  std::string out;
  std::string_view keys = message.substr(0, colon);
  for (;;) {
    const size_t comma = keys.find(", ");
    if (!out.empty()) out += "、";
    out += "\"" + std::string(path) + "." + std::string(keys.substr(0, comma)) + "\"";
    if (comma == std::string_view::npos) break;
    keys.remove_prefix(comma + 2);
  }
  return out + std::string(message.substr(colon));
}

}  // namespace ostrel
