#pragma once
// What a right answer is: the pattern with its length rule, the senders allowed, and
// (where given) a check of computed fields in the answer.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "answer_pattern.h"
#include "sender_rule.h"

namespace ostrel {

// Checks the computed fields of an answer: the offsets of the bytes of every field whose
// value is wrong (or that the answer is too short to hold), empty when all are right.
using FieldCheck = std::function<std::vector<std::size_t>(std::span<const uint8_t> answer)>;

struct Expectation {
  AnswerPattern pattern;
  SenderRule from = SenderRule::kAddress;
  FieldCheck fields;  // none: the answer has no computed field
};

}  // namespace ostrel
