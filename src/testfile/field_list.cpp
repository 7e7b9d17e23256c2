#include "field_list.h"

#include "field_json.h"
#include "fields/field_messages.h"
#include "test_file.h"

namespace ostrel {

FieldList::FieldList(FieldUse use, std::string path) : use_(use), path_(std::move(path)) {}

std::string FieldList::Read(const QJsonObject& object, std::size_t index,
                            FieldDefinition& definition) const {
  definition = {};
  return ReadField(object, path_ + "[" + std::to_string(index) + "]", use_, definition);
}

std::string FieldList::Add(const FieldDefinition& definition) {
  std::vector<FieldDefinition> fields = fields_;
  fields.push_back(definition);
  return Change(std::move(fields));
}

std::string FieldList::Replace(std::size_t index, const FieldDefinition& definition) {
  if (index >= fields_.size()) return Add(definition);
  std::vector<FieldDefinition> fields = fields_;
  fields[index] = definition;
  return Change(std::move(fields));
}

void FieldList::Remove(std::size_t index) {
  if (index >= fields_.size()) return;
  std::vector<FieldDefinition> fields = fields_;
  fields.erase(fields.begin() + static_cast<std::ptrdiff_t>(index));
  Assign(std::move(fields));
}

void FieldList::Assign(std::vector<FieldDefinition> fields) {
  fields_ = std::move(fields);
  if (listener_) listener_();
}

std::string FieldList::Check(const std::vector<FieldDefinition>& fields) const {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (auto problem = CheckFieldDefinition(fields[i], use_))
      return FieldMessageAt(path_ + "[" + std::to_string(i) + "]", *problem);
  }
  if (use_ == FieldUse::kWrite && data_length_) {
    if (const std::size_t length = data_length_(); length > 0)
      return FieldsFitError(fields, length);
  }
  return "";
}

std::string FieldList::Change(std::vector<FieldDefinition> fields) {
  if (std::string error = Check(fields); !error.empty()) return error;
  Assign(std::move(fields));
  return "";
}

}  // namespace ostrel
