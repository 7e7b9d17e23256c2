#pragma once
// A list of computed fields as the operator edits it: the send payload's ("fields") or the
// expected answer's ("expect.fields"). A change is checked as reading a test file checks
// the list, with the same texts (the field named by the index it takes), and a refused
// change leaves the list as it was. Send fields must also fit the data they are written
// into, and not grow it beyond 2048 bytes, as a test file's "hex" payload is checked.

#include <QJsonObject>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "fields/field_definition.h"

namespace ostrel {

class FieldList {
 public:
  // `path` names the list in refusals ("fields", "expect.fields"); `use`: what its fields
  // are used for.
  FieldList(FieldUse use, std::string path);

  FieldUse Use() const { return use_; }
  const std::vector<FieldDefinition>& Fields() const { return fields_; }

  // The number of data bytes the send fields are written into, asked at every change; 0
  // (or no function): no data yet, only the fields themselves are checked.
  void SetDataLength(std::function<std::size_t()> length) { data_length_ = std::move(length); }
  // Called after every change that was made.
  void SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

  // Reads `object` as the field at `index` of this list, exactly as a test file's field.
  std::string Read(const QJsonObject& object, std::size_t index, FieldDefinition& definition) const;

  // Each returns the refusal's text, or "" when the change was made.
  std::string Add(const FieldDefinition& definition);
  std::string Replace(std::size_t index, const FieldDefinition& definition);
  // Removes the field at `index` (none beyond the end).
  void Remove(std::size_t index);
  // Takes `fields` as a test file gave them (already checked when it was read).
  void Assign(std::vector<FieldDefinition> fields);

  // Why `fields` cannot be this list, or "".
  std::string Check(const std::vector<FieldDefinition>& fields) const;

 private:
  std::string Change(std::vector<FieldDefinition> fields);

  FieldUse use_;
  std::string path_;
  std::vector<FieldDefinition> fields_;
  std::function<std::size_t()> data_length_;
  std::function<void()> listener_;
};

}  // namespace ostrel
