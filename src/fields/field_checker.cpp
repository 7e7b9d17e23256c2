#include "field_checker.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace ostrel {

FieldChecker::FieldChecker(const std::vector<FieldDefinition>& fields) {
  fields_.reserve(fields.size());
  for (const FieldDefinition& definition : fields) {
    if (auto problem = CheckFieldDefinition(definition, FieldUse::kCheck))
      throw std::invalid_argument(*problem);
    fields_.emplace_back(definition);
  }
}

FieldCheckResult FieldChecker::Check(std::span<const uint8_t> answer) const {
  FieldCheckResult check;
  auto mark_wrong = [&](int64_t first, size_t size) {
    check.match = false;
    for (int64_t offset = first; offset < first + static_cast<int64_t>(size); ++offset) {
      if (offset >= 0 && offset < static_cast<int64_t>(answer.size())) {
        check.offsets.push_back(static_cast<size_t>(offset));
      }
    }
  };
  for (const PreparedField& field : fields_) {
    const auto placed = PlaceField(field, answer.size());
    const Placement* place = std::get_if<Placement>(&placed);
    if (!place) {
      const int at = *field.definition.at;
      mark_wrong(at < 0 ? static_cast<int64_t>(answer.size()) + at : at, field.size);
      continue;
    }
    std::array<uint8_t, 8> expected{};
    const std::span<uint8_t> value(expected.data(), field.size);
    StoreValue(ChecksumOf(field, *place, answer), field.definition.order, value);
    if (!std::equal(value.begin(), value.end(),
                    answer.begin() + static_cast<ptrdiff_t>(place->at))) {
      mark_wrong(static_cast<int64_t>(place->at), field.size);
    }
  }
  std::sort(check.offsets.begin(), check.offsets.end());
  check.offsets.erase(std::unique(check.offsets.begin(), check.offsets.end()), check.offsets.end());
  return check;
}

}  // namespace ostrel
