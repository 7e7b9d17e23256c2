#pragma once
// The computed fields of the send payload, written into the send grid by the send cycle
// (through its PayloadFiller hook) right before each transmission's bytes are read back.
//
// The grid is read, the fields are written into its bytes (FieldWriter) and the bytes are
// written back, so the grid shows what goes out. Fields "at" the end grow the bytes; at the
// next transmission the bytes they appended are replaced, not appended again, while the
// grid still has the length the fields gave it and either the appended bytes or the bytes
// before them are as they last went out (an edit of the data, or of the appended bytes, is
// simply covered). Any other grid (another file loaded) is new data and gets them appended.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fields/field_writer.h"
#include "transmission/payload_filler.h"

namespace ostrel {

class SendFields final : public PayloadFiller {
 public:
  // The send grid's bytes now (raises when they cannot be read), and their replacement.
  using Read = std::function<std::vector<uint8_t>()>;
  using Write = std::function<void(const std::vector<uint8_t>&)>;

  // Every field must pass CheckFieldDefinition(field, FieldUse::kWrite) (std::invalid_argument
  // otherwise).
  SendFields(const std::vector<FieldDefinition>& fields, Read read, Write write,
             FieldWriter::WallClock clock = &std::chrono::system_clock::now);

  // PayloadFiller: counters advance, the time stamp is taken.
  void StartCycle() override { writer_.StartCycle(); }
  // Reads, applies and writes back; a field that cannot be written raises RunTimeError
  // with FieldProblemText, the grid then as it was. An empty grid is left alone.
  void Fill() override;

  // Makes `bytes`, the grid's bytes as they are now, the bytes that go out; on a problem
  // `bytes` may have lost the bytes appended last time and must not be shown.
  std::optional<FieldProblem> Apply(std::vector<uint8_t>& bytes);

  // How many of `bytes` (the grid's bytes now) are data: all, except the bytes the fields
  // appended last time while the grid still holds them as Apply would replace them.
  size_t DataLength(const std::vector<uint8_t>& bytes) const;

  // Takes over what `previous` (the fields these replace) appended last, so the next Apply
  // replaces those bytes instead of appending after them.
  void TakeOverAppended(const SendFields& previous);

 private:
  FieldWriter writer_;
  Read read_;
  Write write_;
  std::vector<uint8_t> last_;  // what the last Apply gave
  size_t appended_ = 0;        // how many of its bytes the fields appended
};

// A problem of a send field as one text naming the field's key ("\"fields[1].at\": …").
std::string FieldProblemText(const FieldProblem& problem);

}  // namespace ostrel
