#pragma once
// Writes computed fields into a payload just before it goes out.
//
// The send cycle makes one FieldWriter from the test file's fields, calls StartCycle once
// per send cycle and Write before every transmission's bytes are read back; a
// retransmission writes the same bytes again, since counters and the time stamp change
// only at StartCycle. Layout tells, for a payload length, whether the fields fit and the
// length they grow it to: a test file whose fields would not fit is refused when opened.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "field_placement.h"
#include "field_definition.h"

namespace ostrel {

struct FieldLayout {
  size_t length = 0;                    // the payload's length once every field is written
  std::optional<FieldProblem> problem;  // or the first field that cannot be, and why
};

class FieldWriter {
 public:
  using WallClock = std::function<std::chrono::system_clock::time_point()>;

  // Every field must pass CheckFieldDefinition(field, FieldUse::kWrite); one that does not
  // raises std::invalid_argument with its text. `clock` gives the time fields their value.
  explicit FieldWriter(const std::vector<FieldDefinition>& fields,
                       WallClock clock = &std::chrono::system_clock::now);

  bool Empty() const { return fields_.empty(); }

  // Where the fields fall in a payload of `length` bytes, in order, each "end" field
  // appending itself: the grown length, or the first field that falls outside the payload,
  // covers bytes it does not have, or would grow it beyond 2048 bytes.
  FieldLayout Layout(size_t length) const;

  // Begins a send cycle: every counter advances by its step (wrapping at its width), except
  // at the first cycle, which sends the start values; the time stamp is read from the clock.
  void StartCycle();

  // Restarts the counters: the next StartCycle sends the start values again.
  void Reset();

  // Writes every field into `payload`, in order: a later field covers the values of earlier
  // ones. An "end" field grows the payload. When a field cannot be written, `payload` is
  // left as it was and the problem is returned. Before the first StartCycle it starts one.
  std::optional<FieldProblem> Write(std::vector<uint8_t>& payload);

 private:
  std::vector<PreparedField> fields_;
  WallClock clock_;
  std::vector<uint64_t> counters_;  // each counter's value this cycle, by field index
  uint64_t seconds_ = 0;            // the cycle's time stamp
  uint64_t milliseconds_ = 0;
  bool started_ = false;
  std::vector<Placement> places_;  // Write's scratch, kept to spare an allocation per call
};

}  // namespace ostrel
