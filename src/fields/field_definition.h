#pragma once
// A computed field as a test file describes it: what it holds, where it sits, which bytes
// it covers and in which byte order it is written. Plain data; a reader fills it from the
// file's keys and CheckFieldDefinition says whether it can be used.
//
// Positions are byte offsets from 0. A negative `at`, `from` or `to` counts from the end of
// the bytes present when the field is written or checked (-1: the last byte); for a field
// `at` the end these are the bytes before it is appended. The covered bytes may include the
// field's own bytes: they count as zeros while the value is computed (as the IPv4 header's
// checksum is computed over the header).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "crc.h"

namespace ostrel {

// The largest payload a field may grow: the send grid's capacity.
inline constexpr size_t kMaxFieldPayload = 2048;

enum class FieldKind { kCrc, kSum8, kSum16, kXor8, kLrc8, kInet16, kCounter, kTime };
enum class ByteOrder { kBig, kLittle };

// Where fields are used: written into a payload before it goes out (a send payload, a
// responder's answer), or checked in bytes that came in (an expected answer, a responder's
// request). Checked fields may not be "end", counter or time.
enum class FieldUse { kWrite, kCheck };

struct FieldDefinition {
  FieldKind kind = FieldKind::kCrc;
  // For kCrc: a catalogue name or alias, or custom parameters; exactly one of them.
  std::string model;
  std::optional<CrcParams> params;
  // The first byte of the field; nothing: "end", appended after the last byte.
  std::optional<int> at;
  // The covered bytes, inclusive; by default from 0 to the byte before the field. Not for
  // counter and time.
  std::optional<int> from;
  std::optional<int> to;
  ByteOrder order = ByteOrder::kBig;
  // Bytes: counter 1, 2 or 4; time 4 (seconds since 1970) or 8 (milliseconds since 1970).
  // Required for them, refused for every other kind (whose size follows from the kind).
  std::optional<int> width;
  // For counter only: the first value (default 0) and the step added once per send cycle
  // (default 1, may be negative); the value wraps at the width.
  std::optional<int64_t> start;
  std::optional<int64_t> step;

  friend bool operator==(const FieldDefinition&, const FieldDefinition&) = default;
};

// Why `definition` cannot be used for `use`, as one Japanese text that starts with the key
// ("order: …", "model.poly: …"), or nothing when it can. Positions are checked against
// the 2048-byte limit here; against a payload's length by the field writer.
std::optional<std::string> CheckFieldDefinition(const FieldDefinition& definition, FieldUse use);

// The number of bytes the field writes (valid definitions only).
int FieldSize(const FieldDefinition& definition);

// The names a test file uses: "crc", "sum8", …, "time"; "big", "little". Parse returns
// nothing for a text that is not a name (field_msg::kBadKind, kBadOrder say so).
std::string_view FieldKindName(FieldKind kind);
std::optional<FieldKind> ParseFieldKind(std::string_view name);
std::string_view ByteOrderName(ByteOrder order);
std::optional<ByteOrder> ParseByteOrder(std::string_view name);

}  // namespace ostrel
