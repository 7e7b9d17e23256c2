#pragma once
// What the field writer and the field checker share: a field made ready for use (its size
// and its CRC engine), where it falls in bytes of a given length, and its checksum value.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <variant>

#include "field_definition.h"

namespace ostrel {

// The first field that cannot be written or checked, by its index in the list, and why.
struct FieldProblem {
  size_t field = 0;
  std::string message;
};

struct PreparedField {
  // `definition` must pass CheckFieldDefinition.
  explicit PreparedField(const FieldDefinition& definition);

  FieldDefinition definition;
  size_t size = 0;
  std::shared_ptr<const Crc> crc;  // for kCrc: a catalogue engine or the field's own
};

// A field's bytes [at, at + size) and the bytes it covers [from, end), within bytes of
// `length` (after an "end" field has grown them).
struct Placement {
  size_t at = 0;
  size_t from = 0;
  size_t end = 0;
  size_t length = 0;
};

// Where `field` falls in `length` bytes (an "end" field appends itself), or why it cannot.
std::variant<Placement, std::string> PlaceField(const PreparedField& field, size_t length);

// The checksum or CRC of the bytes `place` covers in `bytes`, the field's own bytes taken
// as zeros. Not for counter and time.
uint64_t ChecksumOf(const PreparedField& field, const Placement& place,
                    std::span<const uint8_t> bytes);

// `value`'s low out.size() bytes into `out`, in `order`.
void StoreValue(uint64_t value, ByteOrder order, std::span<uint8_t> out);

}  // namespace ostrel
