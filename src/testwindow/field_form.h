#pragma once
// What the field dialog's controls hold, and the field object a test file would hold for
// them. The dialog reads that object with the file's own reader (FieldList::Read), so it
// refuses exactly what a file would refuse, with the same texts.

#include <QJsonObject>
#include <string>

#include "fields/field_definition.h"

namespace ostrel {

// The controls' values as texts; an empty text leaves its key out (its default applies).
struct FieldForm {
  std::string kind = "crc";
  // For crc: a catalogue name, or the parameters when `custom`.
  std::string model = "CRC-16/MODBUS";
  bool custom = false;
  std::string crc_width, poly, init, xorout;
  bool refin = false;
  bool refout = false;
  std::string at = "end";
  std::string from, to;
  std::string order = "big";
  std::string width, start, step;  // counter and time
};

// A box's `text` under `key` of `object` as a file would hold it: a text that reads as a
// whole number as a number, any other as a text; an empty (or blank) text leaves it out.
void PutFormText(QJsonObject& object, const char* key, const std::string& text);

// The kinds that take a key: "model" (crc), "from"/"to" (checksums and CRCs), "width"
// (counter, time), "start"/"step" (counter).
bool KindTakesModel(std::string_view kind);
bool KindTakesRange(std::string_view kind);
bool KindTakesWidth(std::string_view kind);
bool KindTakesCounter(std::string_view kind);

// The field object for `form`: a text that reads as a whole number is written as a number,
// any other as a text (the reader then names its key); keys the kind does not take are left
// out.
QJsonObject FieldObject(const FieldForm& form);

// The form that shows `definition` (a valid one).
FieldForm FormOf(const FieldDefinition& definition);

}  // namespace ostrel
