#include "field_definition.h"

#include <array>
#include <utility>

#include "field_messages.h"

namespace ostrel {

namespace {

constexpr std::array<std::pair<FieldKind, std::string_view>, 8> kKindNames{{
    {FieldKind::kCrc, "crc"},
    {FieldKind::kSum8, "sum8"},
    {FieldKind::kSum16, "sum16"},
    {FieldKind::kXor8, "xor8"},
    {FieldKind::kLrc8, "lrc8"},
    {FieldKind::kInet16, "inet16"},
    {FieldKind::kCounter, "counter"},
    {FieldKind::kTime, "time"},
}};

constexpr int kLowestPosition = -static_cast<int>(kMaxFieldPayload);
constexpr int kHighestPosition = static_cast<int>(kMaxFieldPayload) - 1;

bool InPayload(int position) { return position >= kLowestPosition && position <= kHighestPosition; }

std::optional<std::string> CheckCounter(const FieldDefinition& definition) {
  const int width = *definition.width;
  if (width != 1 && width != 2 && width != 4) return field_msg::kCounterWidth;
  const int64_t top = (int64_t{1} << (8 * width)) - 1;
  const std::string top_text = std::to_string(top);
  if (definition.start && (*definition.start < 0 || *definition.start > top)) {
    return FillMessage(field_msg::kStartRange, {top_text});
  }
  if (definition.step && (*definition.step < -top || *definition.step > top)) {
    return FillMessage(field_msg::kStepRange, {top_text, top_text});
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> CheckFieldDefinition(const FieldDefinition& definition, FieldUse use) {
  const bool is_counter = definition.kind == FieldKind::kCounter;
  const bool stamps = is_counter || definition.kind == FieldKind::kTime;
  const std::string kind_name(FieldKindName(definition.kind));

  if (use == FieldUse::kCheck && stamps) return FillMessage(field_msg::kNotInAnswer, {kind_name});
  if (definition.kind == FieldKind::kCrc) {
    if (definition.model.empty() && !definition.params) return field_msg::kNoModel;
    if (!definition.model.empty() && definition.params) return field_msg::kModelAndParams;
    if (definition.params) {
      if (auto problem = CheckCrcParams(*definition.params)) return problem;
    } else if (!FindCrcModel(definition.model)) {
      return FillMessage(field_msg::kUnknownModel, {definition.model});
    }
  } else if (!definition.model.empty() || definition.params) {
    return field_msg::kOnlyForCrc;
  }

  if (!definition.at) {
    if (use == FieldUse::kCheck) return field_msg::kEndInAnswer;
  } else if (!InPayload(*definition.at)) {
    return field_msg::kAtRange;
  }
  for (const auto& [key, value] : {std::pair{"from", definition.from}, std::pair{"to", definition.to}}) {
    if (!value) continue;
    if (stamps) return FillMessage(field_msg::kRangeNotForKind, {key});
    if (!InPayload(*value)) return FillMessage(field_msg::kRangeLimits, {key});
  }

  if (!stamps && definition.width) return field_msg::kWidthNotForKind;
  if (stamps && !definition.width) return FillMessage(field_msg::kNoWidth, {kind_name});
  if (!is_counter) {
    if (definition.start) return FillMessage(field_msg::kCounterOnly, {"start"});
    if (definition.step) return FillMessage(field_msg::kCounterOnly, {"step"});
  }
  if (is_counter) return CheckCounter(definition);
  if (definition.kind == FieldKind::kTime && *definition.width != 4 && *definition.width != 8) {
    return field_msg::kTimeWidth;
  }
  return std::nullopt;
}

int FieldSize(const FieldDefinition& definition) {
  switch (definition.kind) {
    case FieldKind::kCrc:
      return CrcBytes(definition.params ? definition.params->width : FindCrcModel(definition.model)->params.width);
    case FieldKind::kSum8:
    case FieldKind::kXor8:
    case FieldKind::kLrc8:
      return 1;
    case FieldKind::kSum16:
    case FieldKind::kInet16:
      return 2;
    case FieldKind::kCounter:
    case FieldKind::kTime:
      return *definition.width;
  }
  return 0;
}

std::string_view FieldKindName(FieldKind kind) {
  for (const auto& [k, name] : kKindNames) {
    if (k == kind) return name;
  }
  return {};
}

std::optional<FieldKind> ParseFieldKind(std::string_view name) {
  for (const auto& [kind, n] : kKindNames) {
    if (n == name) return kind;
  }
  return std::nullopt;
}

std::string_view ByteOrderName(ByteOrder order) {
  return order == ByteOrder::kBig ? "big" : "little";
}

std::optional<ByteOrder> ParseByteOrder(std::string_view name) {
  if (name == "big") return ByteOrder::kBig;
  if (name == "little") return ByteOrder::kLittle;
  return std::nullopt;
}

}  // namespace ostrel
