#pragma once
// The expected answer's pattern: one token per byte, separated by blanks (spaces, tabs,
// line breaks), letters in either case:
//   "3F"          that byte; either digit may be "?", any value of that half ("?F", "3?", "??");
//   "b1xxx0000"   "b" and eight of 0, 1, x, bit 7 first; x is either value;
//   "*"           as the last token only: any number (also none) of further bytes.
// Without "*" an answer's length must be exactly the number of byte tokens; with it, at
// least that number.
//
// Each byte token is kept as a mask and a value: a byte fits when (byte & mask) == value.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// One byte token: the bits that must have a given value, and those values.
struct PatternByte {
  uint8_t mask = 0;
  uint8_t value = 0;
  bool Fits(uint8_t byte) const { return (byte & mask) == value; }
};

// Why a pattern text was refused. `position` counts the tokens from 1 (0 when the text has
// none); `message` is the text the window and the terminal show, naming token and position.
struct PatternError {
  std::size_t position = 0;
  std::string token;
  std::string message;
};

class AnswerPattern;
struct PatternParse;

class AnswerPattern {
 public:
  // Reads a pattern text; a text without any token, a token of no form above, or a "*"
  // before the last token is refused.
  static PatternParse Parse(std::string_view text);

  // The byte tokens, compiled; and whether a last "*" lets further bytes follow.
  const std::vector<PatternByte>& Bytes() const { return bytes_; }
  bool OpenEnded() const { return open_ended_; }
  // The byte tokens as written (case kept), for showing the pattern byte by byte.
  const std::vector<std::string>& Tokens() const { return tokens_; }
  // The tokens as written, joined by single spaces, with the "*" where there is one; reads
  // back to the same pattern.
  std::string Text() const;

  // Whether an answer of `length` bytes keeps the length rule.
  bool LengthFits(std::size_t length) const {
    return open_ended_ ? length >= bytes_.size() : length == bytes_.size();
  }
  // Whether `answer` fits every token and the length rule.
  bool Fits(std::span<const uint8_t> answer) const;

  // The offsets, ascending, of the answer's bytes that do not fit, at most `limit` of them.
  // A byte that fails its token differs; so does every byte past the last token when there
  // is no "*". When the answer is shorter than the byte tokens, each missing byte's offset
  // (from the answer's length to the last token) differs too, so a short answer reports
  // where it ended.
  std::vector<std::size_t> DifferingOffsets(std::span<const uint8_t> answer,
                                            std::size_t limit) const;

 private:
  std::vector<PatternByte> bytes_;
  std::vector<std::string> tokens_;
  bool open_ended_ = false;
};

struct PatternParse {
  std::optional<AnswerPattern> pattern;  // set on success
  PatternError error;                    // set on failure
  bool Ok() const { return pattern.has_value(); }
};

// The mask and value of one byte token ("3F", "?f", "b10x1xxxx"); none for any other text.
std::optional<PatternByte> ByteToken(std::string_view token);

}  // namespace ostrel
