#pragma once
// Computed fields as a JSON file writes them (test files, responder rules):
//
//   [{ "kind": "crc", "model": "CRC-16/MODBUS", "at": "end", "order": "little" },
//    { "kind": "crc", "model": {"width": 8, "poly": 7, "init": 0, "refin": false,
//                               "refout": false, "xorout": 0}, "at": -1 },
//    { "kind": "counter", "at": 0, "width": 2, "start": 1, "step": 1 }]
//
// Numbers are integers; a CRC parameter may also be a text "0x…" (a 64-bit polynomial
// is beyond what a JSON number holds exactly). Each field must pass CheckFieldDefinition for
// its use; a refusal names the key's path ("expect.fields[1].order: …").

#include <QJsonValue>
#include <string>
#include <vector>

#include "fields/field_definition.h"

namespace ostrel {

// Reads the list `value` found at `path` ("fields", "rules[0].when.fields") into `fields`;
// the refusal's text, or "" when every field was read and can be used for `use`.
std::string ReadFieldList(const QJsonValue& value, const std::string& path, FieldUse use,
                          std::vector<FieldDefinition>& fields);

}  // namespace ostrel
