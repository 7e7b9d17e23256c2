#pragma once
// Computed fields as a JSON file writes them (test files, responder rules), read and written
// by one reader and one writer:
//
//   [{ "kind": "crc", "model": "CRC-16/MODBUS", "at": "end", "order": "little" },
//    { "kind": "crc", "model": {"width": 8, "poly": "0x07"}, "at": -1 },
//    { "kind": "counter", "at": 0, "width": 2, "start": 1, "step": 1 }]
//
// Numbers are whole; a CRC parameter may also be a text "0x…" (a 64-bit polynomial is beyond
// what a JSON number holds exactly); "init", "xorout" default to 0, "refin", "refout" to
// false. Each field must pass CheckFieldDefinition for its use. A refusal names the key by
// its path in double quotes: "\"expect.fields[1].order\": …".

#include <QJsonValue>
#include <string>
#include <string_view>
#include <vector>

#include "fields/field_definition.h"

namespace ostrel {

// Reads the field `value` found at `path` ("fields[0]") into `definition`; the refusal's
// text, or "" when it was read and can be used for `use`. `file` names the kind of file in
// the text that refuses an unknown key.
std::string ReadField(const QJsonValue& value, const std::string& path, FieldUse use,
                      FieldDefinition& definition, std::string_view file = "試験ファイル");

// Reads the list `value` found at `path` ("fields", "rules[0].when.fields") into `fields`,
// as ReadField reads each.
std::string ReadFieldList(const QJsonValue& value, const std::string& path, FieldUse use,
                          std::vector<FieldDefinition>& fields,
                          std::string_view file = "試験ファイル");

// One field as a file writes it, on one line: {"kind": "crc", "model": …, "at": "end", …};
// custom CRC parameters as "0x…" texts.
std::string FieldJsonText(const FieldDefinition& definition);

}  // namespace ostrel
