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

}  // namespace ostrel
