#pragma once
// Checks computed fields in bytes that came in (an answer, a responder's request).
//
// Each field's value is computed from the bytes it covers and compared with the bytes at
// its place; negative positions count from the end of the answer. Only checksums and CRCs
// are checked: counter, time and "end" are refused for answers by CheckFieldDefinition.

#include <cstdint>
#include <span>
#include <vector>

#include "field_placement.h"
#include "field_definition.h"

namespace ostrel {

struct FieldCheckResult {
  // Every field fits in the answer and holds the right value.
  bool match = true;
  // The offsets of the bytes of every wrong field, ascending, each once. A field that does
  // not fit in the answer is wrong with those of its bytes that lie in it (maybe none).
  std::vector<size_t> offsets;
};

class FieldChecker {
 public:
  // Every field must pass CheckFieldDefinition(field, FieldUse::kCheck); one that does not
  // raises std::invalid_argument with its text.
  explicit FieldChecker(const std::vector<FieldDefinition>& fields);

  bool Empty() const { return fields_.empty(); }

  FieldCheckResult Check(std::span<const uint8_t> answer) const;

 private:
  std::vector<PreparedField> fields_;
};

}  // namespace ostrel
