#include "blank_tokens.h"

namespace ostrel {

bool IsTokenBlank(char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; }

std::vector<std::string_view> BlankSeparatedTokens(std::string_view text) {
  std::vector<std::string_view> tokens;
  std::size_t i = 0;
  while (i < text.size()) {
    if (IsTokenBlank(text[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && !IsTokenBlank(text[end])) ++end;
    tokens.push_back(text.substr(i, end - i));
    i = end;
  }
  return tokens;
}

}  // namespace ostrel
