#include "field_placement.h"

#include <algorithm>
#include <vector>

#include "checksums.h"
#include "common/internet_checksum.h"
#include "field_messages.h"

namespace ostrel {

namespace {

std::shared_ptr<const Crc> EngineFor(const FieldDefinition& definition) {
  if (definition.kind != FieldKind::kCrc) return nullptr;
  if (definition.params) return std::make_shared<const Crc>(*definition.params);
  // The catalogue's engines live as long as the program: shared without an owner.
  return std::shared_ptr<const Crc>(std::shared_ptr<const Crc>(),
                                    &CatalogueCrc(*FindCrcModel(definition.model)));
}

// A position as an offset into `length` bytes; negative ones count from the end.
int64_t Resolve(int position, size_t length) {
  return position < 0 ? static_cast<int64_t>(length) + position : position;
}

uint64_t ChecksumOfBytes(const PreparedField& field, std::span<const uint8_t> bytes) {
  switch (field.definition.kind) {
    case FieldKind::kCrc:
      return field.crc->Compute(bytes);
    case FieldKind::kSum8:
      return Sum8(bytes);
    case FieldKind::kSum16:
      return Sum16(bytes);
    case FieldKind::kXor8:
      return Xor8(bytes);
    case FieldKind::kLrc8:
      return Lrc8(bytes);
    case FieldKind::kInet16:
      return InternetChecksum(bytes);
    case FieldKind::kCounter:
    case FieldKind::kTime:
      break;
  }
  return 0;
}

}  // namespace

PreparedField::PreparedField(const FieldDefinition& field_definition)
    : definition(field_definition),
      size(static_cast<size_t>(FieldSize(field_definition))),
      crc(EngineFor(field_definition)) {}

std::variant<Placement, std::string> PlaceField(const PreparedField& field, size_t length) {
  const FieldDefinition& definition = field.definition;
  Placement place;
  if (!definition.at) {
    place.at = length;
    place.length = length + field.size;
    if (place.length > kMaxFieldPayload) {
      return FillMessage(field_msg::kTooLong, {std::to_string(place.length)});
    }
  } else {
    const int64_t at = Resolve(*definition.at, length);
    if (at < 0 || at + static_cast<int64_t>(field.size) > static_cast<int64_t>(length)) {
      return FillMessage(field_msg::kOutside, {std::to_string(*definition.at), std::to_string(field.size),
                                               std::to_string(length)});
    }
    place.at = static_cast<size_t>(at);
    place.length = length;
  }
  if (definition.kind == FieldKind::kCounter || definition.kind == FieldKind::kTime) return place;

  const int64_t from = definition.from ? Resolve(*definition.from, length) : 0;
  const int64_t to = definition.to ? Resolve(*definition.to, length) : static_cast<int64_t>(place.at) - 1;
  if (from > to) {
    return FillMessage(field_msg::kCoverEmpty, {std::to_string(from), std::to_string(to)});
  }
  if (from < 0 || to >= static_cast<int64_t>(place.length)) {
    return FillMessage(field_msg::kCoverOutside,
                       {std::to_string(from), std::to_string(to), std::to_string(place.length)});
  }
  place.from = static_cast<size_t>(from);
  place.end = static_cast<size_t>(to) + 1;
  return place;
}

uint64_t ChecksumOf(const PreparedField& field, const Placement& place,
                    std::span<const uint8_t> bytes) {
  const std::span<const uint8_t> covered = bytes.subspan(place.from, place.end - place.from);
  const size_t overlap_from = std::max(place.from, place.at);
  const size_t overlap_end = std::min(place.end, place.at + field.size);
  if (overlap_from >= overlap_end) return ChecksumOfBytes(field, covered);
  std::vector<uint8_t> copy(covered.begin(), covered.end());
  std::fill(copy.begin() + static_cast<ptrdiff_t>(overlap_from - place.from),
            copy.begin() + static_cast<ptrdiff_t>(overlap_end - place.from), uint8_t{0});
  return ChecksumOfBytes(field, copy);
}

void StoreValue(uint64_t value, ByteOrder order, std::span<uint8_t> out) {
  const size_t n = out.size();
  for (size_t i = 0; i < n; ++i) {
    const uint8_t byte = static_cast<uint8_t>(value >> (8 * i));
    out[order == ByteOrder::kBig ? n - 1 - i : i] = byte;
  }
}

}  // namespace ostrel
