// The expected-answer pattern on arbitrary texts and answers. The input is the pattern
// text, a zero byte, then the answer's bytes (all of it is the text when it has no zero).
//
// Properties:
// - Parse accepts exactly the grammar of answer_pattern.h (checked against a regular
//   expression written from it, for texts short enough for it); a refusal names a token
//   of the text at its position, and only a text of blanks has position 0;
// - an accepted pattern's Text() reads back to the same masks, values and "*";
// - DifferingOffsets lists, ascending, exactly the offsets a byte-by-byte reading of the
//   rules finds (a failed token, a byte missing from the answer, a byte past the last
//   token without "*"), limited to the first ones; Fits holds exactly when there is none.

#include <algorithm>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "common/blank_tokens.h"
#include "fuzz_support.h"
#include "verification/answer_pattern.h"

namespace ostrel {
namespace {

bool MatchesGrammar(const std::string& text) {
  static const std::regex grammar(
      "[ \\t\\r\\n]*"
      "((([0-9A-Fa-f?]{2}|[bB][01xX]{8})([ \\t\\r\\n]+([0-9A-Fa-f?]{2}|[bB][01xX]{8}))*"
      "([ \\t\\r\\n]+\\*)?)|\\*)"
      "[ \\t\\r\\n]*");
  return std::regex_match(text, grammar);
}

bool Differs(const AnswerPattern& pattern, std::span<const uint8_t> answer, std::size_t i) {
  const std::size_t tokens = pattern.Bytes().size();
  if (i < tokens && i < answer.size()) return !pattern.Bytes()[i].Fits(answer[i]);
  if (i < tokens) return true;  // missing from the answer
  return i < answer.size() && !pattern.OpenEnded();
}

}  // namespace
}  // namespace ostrel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ostrel;
  const std::string_view input = fuzz::AsText(data, size);
  const std::size_t zero = input.find('\0');
  const std::string text(input.substr(0, zero));
  const std::span<const uint8_t> answer =
      zero == std::string_view::npos ? std::span<const uint8_t>{}
                                     : std::span<const uint8_t>(data + zero + 1, size - zero - 1);

  const PatternParse parse = AnswerPattern::Parse(text);
  if (text.size() <= 256) FUZZ_CHECK(parse.Ok() == MatchesGrammar(text));
  if (!parse.Ok()) {
    FUZZ_CHECK(!parse.error.message.empty());
    const std::vector<std::string_view> tokens = BlankSeparatedTokens(text);
    FUZZ_CHECK((parse.error.position == 0) == tokens.empty());
    if (!tokens.empty()) {
      FUZZ_CHECK(parse.error.position <= tokens.size());
      FUZZ_CHECK(tokens[parse.error.position - 1] == parse.error.token);
    }
    return 0;
  }
  const AnswerPattern& pattern = *parse.pattern;
  FUZZ_CHECK(pattern.Tokens().size() == pattern.Bytes().size());
  const PatternParse again = AnswerPattern::Parse(pattern.Text());
  FUZZ_CHECK(again.Ok());
  FUZZ_CHECK(again.pattern->OpenEnded() == pattern.OpenEnded());
  FUZZ_CHECK(again.pattern->Bytes().size() == pattern.Bytes().size());
  for (std::size_t i = 0; i < pattern.Bytes().size(); ++i) {
    FUZZ_CHECK(again.pattern->Bytes()[i].mask == pattern.Bytes()[i].mask);
    FUZZ_CHECK(again.pattern->Bytes()[i].value == pattern.Bytes()[i].value);
  }

  std::vector<std::size_t> expected;
  const std::size_t end = std::max(answer.size(), pattern.Bytes().size());
  for (std::size_t i = 0; i < end; ++i)
    if (Differs(pattern, answer, i)) expected.push_back(i);
  FUZZ_CHECK(pattern.DifferingOffsets(answer, SIZE_MAX) == expected);
  const std::vector<std::size_t> first = pattern.DifferingOffsets(answer, 16);
  FUZZ_CHECK(first.size() == std::min<std::size_t>(16, expected.size()));
  FUZZ_CHECK(std::equal(first.begin(), first.end(), expected.begin()));
  FUZZ_CHECK(pattern.Fits(answer) == expected.empty());
  return 0;
}
