#include "answer_pattern.h"

#include <algorithm>

#include "common/blank_tokens.h"
#include "common/text_scan.h"

namespace ostrel {
namespace {

// One half of a hex token at `shift` (4: the high half) into `byte`; false for a bad digit.
bool AddHalf(char ch, int shift, PatternByte& byte) {
  if (ch == '?') return true;
  const int value = HexDigitValue(ch);
  if (value < 0) return false;
  byte.mask |= static_cast<uint8_t>(0xF << shift);
  byte.value |= static_cast<uint8_t>(value << shift);
  return true;
}

PatternParse Refused(std::size_t position, std::string_view token, std::string reason) {
  PatternParse parse;
  parse.error.position = position;
  parse.error.token = std::string(token);
  parse.error.message = "期待応答の " + std::to_string(position) + " 番目の語 \"" +
                        std::string(token) + "\" は" + std::move(reason);
  return parse;
}

}  // namespace

std::optional<PatternByte> ByteToken(std::string_view token) {
  PatternByte byte;
  if (token.size() == 2) {
    if (AddHalf(token[0], 4, byte) && AddHalf(token[1], 0, byte)) return byte;
    return std::nullopt;
  }
  if (token.size() != 9 || (token[0] != 'b' && token[0] != 'B')) return std::nullopt;
  for (int i = 0; i < 8; ++i) {
    const auto bit = static_cast<uint8_t>(0x80 >> i);
    switch (token[1 + i]) {
      case '1':
        byte.value |= bit;
        [[fallthrough]];
      case '0':
        byte.mask |= bit;
        break;
      case 'x':
      case 'X':
        break;
      default:
        return std::nullopt;
    }
  }
  return byte;
}

PatternParse AnswerPattern::Parse(std::string_view text) {
  AnswerPattern pattern;
  std::size_t position = 0;
  for (const std::string_view token : BlankSeparatedTokens(text)) {
    ++position;
    if (pattern.open_ended_)  // a token after "*"
      return Refused(position - 1, "*", "最後の語にしか書けません。");
    if (token == "*") {
      pattern.open_ended_ = true;
      continue;
    }
    const std::optional<PatternByte> byte = ByteToken(token);
    if (!byte)
      return Refused(
          position, token,
          " 2 桁の 16 進数（どちらの桁も ? 可）でも、b と 0・1・x の 8 文字でもありません。");
    pattern.bytes_.push_back(*byte);
    pattern.tokens_.emplace_back(token);
  }
  PatternParse parse;
  if (position == 0) {
    parse.error.message = "期待応答に語がありません。";
    return parse;
  }
  parse.pattern = std::move(pattern);
  return parse;
}

std::string AnswerPattern::Text() const {
  std::string text;
  for (const std::string& token : tokens_) {
    if (!text.empty()) text += ' ';
    text += token;
  }
  if (open_ended_) text += text.empty() ? "*" : " *";
  return text;
}

bool AnswerPattern::Fits(std::span<const uint8_t> answer) const {
  if (!LengthFits(answer.size())) return false;
  for (std::size_t i = 0; i < bytes_.size(); ++i)
    if (!bytes_[i].Fits(answer[i])) return false;
  return true;
}

std::vector<std::size_t> AnswerPattern::DifferingOffsets(std::span<const uint8_t> answer,
                                                         std::size_t limit) const {
  std::vector<std::size_t> offsets;
  const std::size_t common = std::min(answer.size(), bytes_.size());
  for (std::size_t i = 0; i < common && offsets.size() < limit; ++i)
    if (!bytes_[i].Fits(answer[i])) offsets.push_back(i);
  // Past the shorter of the two: the missing bytes, or the extra ones without "*".
  const std::size_t end = answer.size() < bytes_.size() ? bytes_.size()
                          : open_ended_                 ? common
                                                        : answer.size();
  for (std::size_t i = common; i < end && offsets.size() < limit; ++i) offsets.push_back(i);
  return offsets;
}

}  // namespace ostrel
