#include "byte_editor.h"

#include "common/display_text.h"
#include "common/numeric_text.h"
#include "common/run_time_error.h"
#include "common/text_scan.h"
#include "grid_control.h"
#include "logging/error_handler.h"

namespace ostrel {
namespace {

bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The first `count` characters of a UTF-8 text, as the text box counts them.
std::string_view FirstChars(std::string_view text, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsUtf8Continuation(text[i])) continue;
    if (seen == count) return text.substr(0, i);
    ++seen;
  }
  return text;
}

std::size_t CharCount(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) count += IsUtf8Continuation(c) ? 0 : 1;
  return count;
}

// Only ever applied to a valid byte text, so ASCII alone matters.
std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

bool BitOf(int value, int index) { return ((value >> index) & 1) != 0; }

}  // namespace

void ByteEditor::SetText(std::string_view text) {
  const std::string_view kept = FirstChars(text, kInputDataMaxLength);
  if (kept == state_.text) return;
  state_.text = std::string(kept);
  txtInputData_Change();
}

void ByteEditor::SetBit(int index, bool checked) {
  if (index < 0 || index >= kDataBitCount) throw RunTimeError(desc::kSubscriptOutOfRange);
  if (state_.bits[index] == checked) return;
  state_.bits[index] = checked;
  chkDataBit_Click(index);
}

void ByteEditor::LoadCell(GridControl& fgrdData, int16_t intRow, int16_t intCol) {
  intEditRow_ = intRow;
  intEditCol_ = intCol;
  fgrdData_ = &fgrdData;
  SetText(fgrdData.TextMatrix(intRow, intCol));
  // An empty cell past the data has emptied the box, and an empty box has no value.
  const std::optional<uint8_t> value = ByteTextValue(state_.text);
  if (!value) throw RunTimeError(desc::kTypeMismatch);
  // Boxes that change run the bit rule, which finds the text already right.
  for (int i = 0; i < kDataBitCount; ++i) SetBit(i, BitOf(*value, i));
  state_.position = fgrdData.TextMatrix(intRow, 0) + "-" + fgrdData.TextMatrix(0, intCol);
}

void ByteEditor::ApplyToCell() {
  std::string s;
  switch (CharCount(state_.text)) {
    case 0:
      s = "00";
      SetText(s);
      break;
    case 1:
      s = "0" + state_.text;
      SetText(s);
      break;
    default:
      s = state_.text;
      break;
  }
  if (fgrdData_ == nullptr) throw RunTimeError(desc::kInvalidArgument);
  fgrdData_->SetTextMatrix(intEditRow_, intEditCol_, s);
}

void ByteEditor::txtInputData_Change() {
  if (intInputLock_ == kInputBitToText) return;
  intInputLock_ = kInputTextToBits;
  RunHandled("txtInputData_Change", [&] {
    if (state_.text.empty()) {
      // Status and Apply stay as they are.
      for (int i = 0; i < kDataBitCount; ++i) SetBit(i, false);
    } else if (const std::optional<uint8_t> value = ByteTextValue(state_.text)) {
      // The upper-casing is itself a change and runs this rule once more, nested; that
      // inner run leaves the lock idle, and this one ends the same way.
      SetText(UpperCase(state_.text));
      state_.apply_enabled = true;
      state_.status.clear();
      for (int i = 0; i < kDataBitCount; ++i) SetBit(i, BitOf(*value, i));
    } else {
      SetText("");
      state_.status = byte_editor_msg::kInvalidData;
      for (int i = 0; i < kDataBitCount; ++i) SetBit(i, false);
      state_.apply_enabled = false;
    }
  });
  intInputLock_ = kInputIdle;
}

void ByteEditor::chkDataBit_Click(int Index) {
  if (intInputLock_ == kInputTextToBits) return;
  intInputLock_ = kInputBitToText;
  RunHandled("chkDataBit_Click", [&] {
    // An empty box counts as 00: the text follows the bits.
    const bool was_empty = state_.text.empty();
    int value = 0;
    if (!was_empty) {
      const std::optional<uint8_t> current = ByteTextValue(state_.text);
      if (!current) throw RunTimeError(desc::kTypeMismatch);
      value = *current;
    }
    value &= ~(1 << Index);
    if (state_.bits[Index]) value |= 1 << Index;
    const std::string text = HexText2(value);
    if (text != state_.text) SetText(text);  // its change rule is held off by the lock
    if (was_empty) {
      // The box holds a valid byte now, and a valid byte is never left unappliable
      // under a stale "データ不正" from the entry that emptied it.
      state_.status.clear();
      state_.apply_enabled = true;
    }
  });
  intInputLock_ = kInputIdle;
}

}  // namespace ostrel
