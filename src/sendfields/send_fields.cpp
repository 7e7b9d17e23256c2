#include "send_fields.h"

#include <algorithm>

#include "common/run_time_error.h"
#include "fields/field_messages.h"

namespace ostrel {

SendFields::SendFields(const std::vector<FieldDefinition>& fields, Read read, Write write,
                       FieldWriter::WallClock clock)
    : writer_(fields, std::move(clock)), read_(std::move(read)), write_(std::move(write)) {}

void SendFields::Fill() {
  std::vector<uint8_t> bytes = read_();
  if (bytes.empty()) return;  // the cycle itself says there is nothing to send
  const std::vector<uint8_t> before = bytes;
  if (auto problem = Apply(bytes)) throw RunTimeError(FieldProblemText(*problem));
  if (bytes != before) write_(bytes);
}

std::optional<FieldProblem> SendFields::Apply(std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return std::nullopt;
  const size_t data_length = DataLength(bytes);
  bytes.resize(data_length);
  if (auto problem = writer_.Write(bytes)) return problem;
  appended_ = bytes.size() - data_length;
  last_ = bytes;
  return std::nullopt;
}

size_t SendFields::DataLength(const std::vector<uint8_t>& bytes) const {
  if (appended_ == 0 || bytes.size() != last_.size()) return bytes.size();
  const auto base = static_cast<ptrdiff_t>(last_.size() - appended_);
  const bool data_kept = std::equal(bytes.begin(), bytes.begin() + base, last_.begin());
  const bool appended_kept = std::equal(bytes.begin() + base, bytes.end(), last_.begin() + base);
  return data_kept || appended_kept ? static_cast<size_t>(base) : bytes.size();
}

void SendFields::TakeOverAppended(const SendFields& previous) {
  last_ = previous.last_;
  appended_ = previous.appended_;
}

std::string FieldProblemText(const FieldProblem& problem) {
  return FieldMessageAt("fields[" + std::to_string(problem.field) + "]", problem.message);
}

}  // namespace ostrel
