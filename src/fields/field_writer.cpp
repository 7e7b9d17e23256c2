#include "field_writer.h"

#include <stdexcept>

namespace ostrel {

namespace {

uint64_t WidthMask(size_t bytes) {
  return bytes >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1;
}

// Places every field, in order, into `places`; the grown length, or the first problem.
FieldLayout PlaceAll(const std::vector<PreparedField>& fields, size_t length,
                     std::vector<Placement>& places) {
  places.clear();
  for (size_t i = 0; i < fields.size(); ++i) {
    auto placed = PlaceField(fields[i], length);
    if (auto* problem = std::get_if<std::string>(&placed)) {
      return {length, FieldProblem{i, std::move(*problem)}};
    }
    places.push_back(std::get<Placement>(placed));
    length = places.back().length;
  }
  return {length, std::nullopt};
}

}  // namespace

FieldWriter::FieldWriter(const std::vector<FieldDefinition>& fields, WallClock clock)
    : clock_(std::move(clock)) {
  fields_.reserve(fields.size());
  for (const FieldDefinition& definition : fields) {
    if (auto problem = CheckFieldDefinition(definition, FieldUse::kWrite))
      throw std::invalid_argument(*problem);
    fields_.emplace_back(definition);
  }
  places_.reserve(fields.size());
  Reset();
}

FieldLayout FieldWriter::Layout(size_t length) const {
  std::vector<Placement> places;
  return PlaceAll(fields_, length, places);
}

void FieldWriter::Reset() {
  counters_.assign(fields_.size(), 0);
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i].definition.kind == FieldKind::kCounter)
      counters_[i] = fields_[i].definition.start.value_or(0);
  }
  started_ = false;
}

void FieldWriter::StartCycle() {
  if (started_) {
    for (size_t i = 0; i < fields_.size(); ++i) {
      const PreparedField& field = fields_[i];
      if (field.definition.kind != FieldKind::kCounter) continue;
      const uint64_t step = static_cast<uint64_t>(field.definition.step.value_or(1));
      counters_[i] = (counters_[i] + step) & WidthMask(field.size);
    }
  }
  started_ = true;
  const auto since_1970 = clock_().time_since_epoch();
  seconds_ = static_cast<uint64_t>(std::chrono::floor<std::chrono::seconds>(since_1970).count());
  milliseconds_ =
      static_cast<uint64_t>(std::chrono::floor<std::chrono::milliseconds>(since_1970).count());
}

std::optional<FieldProblem> FieldWriter::Write(std::vector<uint8_t>& payload) {
  if (fields_.empty()) return std::nullopt;
  FieldLayout layout = PlaceAll(fields_, payload.size(), places_);
  if (layout.problem) return std::move(layout.problem);
  if (!started_) StartCycle();
  payload.resize(layout.length, 0);
  for (size_t i = 0; i < fields_.size(); ++i) {
    const PreparedField& field = fields_[i];
    const Placement& place = places_[i];
    uint64_t value = 0;
    switch (field.definition.kind) {
      case FieldKind::kCounter:
        value = counters_[i];
        break;
      case FieldKind::kTime:
        value = field.size == 4 ? seconds_ : milliseconds_;
        break;
      default:
        value = ChecksumOf(field, place, payload);
    }
    StoreValue(value, field.definition.order, std::span(payload).subspan(place.at, field.size));
  }
  return std::nullopt;
}

}  // namespace ostrel
