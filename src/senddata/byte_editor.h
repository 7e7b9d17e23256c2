#pragma once
// The rules of the byte editor "データ設定", without any widget. The editor shows one byte
// of the send grid twice, as a hexadecimal text and as eight bit boxes, and keeps the two
// in step:
//
//   grid cell ──LoadCell──► text box ──change rule──► bit boxes
//                             ▲                          │ operator ticks a box
//                             └──────── bit rule ◄───────┘
//   text box ──ApplyToCell──► grid cell (two digits)
//
// Setting a control from code raises that control's own event at once, nested inside
// the rule that set it, exactly as an operator's change would. intInputLock keeps the
// two rules from running each other in circles. ByteEditor simulates those nested events
// on plain values; the dialog only copies State() onto its widgets.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

class GridControl;

inline constexpr int kDataBitCount = 8;
// txtInputData takes at most two characters.
inline constexpr std::size_t kInputDataMaxLength = 2;

// Values of intInputLock.
inline constexpr int16_t kInputIdle = 0;
inline constexpr int16_t kInputBitToText = 1;   // a bit box is updating the text
inline constexpr int16_t kInputTextToBits = 4;  // the text is updating the bit boxes

namespace byte_editor_msg {
inline constexpr const char* kInvalidData = "データ不正";
}  // namespace byte_editor_msg

// What the editor's controls show.
struct ByteEditorState {
  std::string text;                        // txtInputData
  std::array<bool, kDataBitCount> bits{};  // chkDataBit(0..7); bit i has the value 2^i
  std::string status;                      // lblStatus
  bool apply_enabled = true;               // cmdApply
  std::string position;                    // lblTextNoInfo, e.g. "0001-0A"

  bool operator==(const ByteEditorState&) const = default;
};

class ByteEditor {
 public:
  const ByteEditorState& State() const { return state_; }
  int16_t intInputLock() const { return intInputLock_; }
  int16_t intEditRow() const { return intEditRow_; }
  int16_t intEditCol() const { return intEditCol_; }

  // The text box receives `text`, typed by the operator or set by code. The box keeps
  // its first two characters; when that changes its text, the change rule runs
  // (txtInputData_Change).
  void SetText(std::string_view text);

  // Bit box `index` (0..7) receives the check mark `checked`, clicked by the operator or
  // set by code; when that changes the mark, the bit rule runs (chkDataBit_Click).
  void SetBit(int index, bool checked);

  // Opens the editor on cell (intRow, intCol) of `fgrdData`: remembers the cell, takes
  // its text into the box, sets the bit boxes from its value and writes the position
  // text from the cell's row and column headers. Raises RunTimeError(desc::kTypeMismatch)
  // when the box then holds no value (an empty cell past the data; the box and the bit
  // boxes are cleared all the same), and whatever the grid raises for a bad address.
  // `fgrdData` must stay alive while the editor may still apply to it.
  void LoadCell(GridControl& fgrdData, int16_t intRow, int16_t intCol);

  // Apply: pads the box to two digits ("" gives "00", "A" gives "0A", both also shown in
  // the box) and writes them into the opened cell by address. Raises
  // RunTimeError(desc::kInvalidArgument) when no cell was opened, and whatever the grid
  // raises for the write.
  void ApplyToCell();

 private:
  // The two rules, each under its own handler: a failure logs "description(Tag)" and
  // leaves intInputLock idle.
  void txtInputData_Change();
  void chkDataBit_Click(int Index);

  ByteEditorState state_;
  int16_t intInputLock_ = kInputIdle;
  int16_t intEditRow_ = 0;
  int16_t intEditCol_ = 0;
  GridControl* fgrdData_ = nullptr;
};

}  // namespace ostrel
