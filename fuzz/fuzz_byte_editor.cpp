// The byte editor's rules on arbitrary texts and sequences of operations.
//
// Input: one operation per line.
//   t<text>        the operator types <text> into the box
//   b<i><0|1>      bit box i ('0'..'9'; 8 and 9 do not exist) is unticked or ticked
//   l<r><c><text>  cell (r, c) ('0'..'9', anything else is an address outside the grid)
//                  is given <text> when it exists, and the editor is opened on it
//   a              Apply
//   anything else  typed into the box as it is
// The grid has a header row "00".."0F", a header column "0000"/"0001" and two data rows.
//
// Properties, after every operation:
// - ByteTextValue gives a value exactly for one or two hexadecimal digits;
// - the input lock is idle; the box is empty or holds a valid byte text in upper case;
//   the bit boxes equal that value (all clear for an empty box); Apply is enabled
//   exactly when no "データ不正" is shown; nothing was logged;
// - typing: the box keeps the first two characters; a valid text shows its value with
//   the status cleared, an invalid one empties the box and shows "データ不正", an empty
//   one clears the bits and leaves status and Apply alone;
// - a bit box: afterwards it holds the mark, the other bits are as before, and the text
//   follows the bits;
// - opening a cell: the box takes the cell's text as if typed, a valid cell shows its
//   position "row-col" from the headers, an invalid or empty one raises the type
//   mismatch, a cell outside the grid raises the grid's error and changes nothing;
// - Apply: the box is padded to two digits and that text is written into the opened cell.

#include <sys/stat.h>

#include <cctype>
#include <cstdint>
#include <optional>
#include <string>

#include "common/display_text.h"
#include "common/run_time_error.h"
#include "common/text_scan.h"
#include "common/tool_kind.h"
#include "fuzz_support.h"
#include "logging/operation_log.h"
#include "senddata/byte_editor.h"
#include "senddata/fake_grid.h"

namespace ostrel {
namespace {

std::optional<uint8_t> ExpectedValue(std::string_view text) {
  if (text.empty() || text.size() > 2) return std::nullopt;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
  }
  return static_cast<uint8_t>(std::stoi(std::string(text), nullptr, 16));
}

// The first two characters of a UTF-8 text, as the box counts them.
std::string FirstTwoChars(std::string_view text) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (chars++ == 2) return std::string(text.substr(0, i));
  }
  return std::string(text);
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

int BitsValue(const ByteEditorState& state) {
  int value = 0;
  for (int i = 0; i < kDataBitCount; ++i) value |= state.bits[i] ? 1 << i : 0;
  return value;
}

// What the editor shows after the box was given `text` (already cut to two characters)
// and its rules ran.
ByteEditorState AfterTyping(ByteEditorState state, const std::string& text) {
  if (text == state.text) return state;
  state.bits = {};
  if (text.empty()) {
    state.text.clear();
  } else if (const std::optional<uint8_t> value = ExpectedValue(text)) {
    state.text = Upper(text);
    for (int i = 0; i < kDataBitCount; ++i) state.bits[i] = ((*value >> i) & 1) != 0;
    state.status.clear();
    state.apply_enabled = true;
  } else {
    state.text.clear();
    state.status = byte_editor_msg::kInvalidData;
    state.apply_enabled = false;
  }
  return state;
}

// The description raised by `operation`, or "" when it completed.
template <typename Operation>
std::string ErrorOf(Operation operation) {
  try {
    operation();
  } catch (const RunTimeError& error) {
    return error.Description();
  } catch (...) {
    fuzz::Fail("the editor raised something other than RunTimeError", __FILE__, __LINE__);
  }
  return "";
}

void CheckConsistent(const ByteEditor& editor) {
  const ByteEditorState& state = editor.State();
  FUZZ_CHECK(editor.intInputLock() == kInputIdle);
  FUZZ_CHECK(state.status.empty() || state.status == byte_editor_msg::kInvalidData);
  FUZZ_CHECK(state.apply_enabled == state.status.empty());
  if (state.text.empty()) {
    FUZZ_CHECK(BitsValue(state) == 0);
  } else {
    const std::optional<uint8_t> value = ByteTextValue(state.text);
    FUZZ_CHECK(value && state.text == Upper(state.text));
    FUZZ_CHECK(BitsValue(state) == *value);
    FUZZ_CHECK(state.status.empty());
  }
}

// The log's content since the last call; the log is emptied.
std::string TakeLog() {
  const std::string path = strLogFile[Kiv_UdpSnd];
  std::string log = fuzz::ReadBytes(path);
  unlink(path.c_str());
  return log;
}

test::FakeGrid MakeGrid() {
  test::FakeGrid grid;
  grid.SetRows(3);
  for (int c = 1; c < grid.Cols(); ++c) grid.SetTextMatrix(0, c, HexText2(c - 1));
  grid.SetTextMatrix(1, 0, "0000");
  grid.SetTextMatrix(2, 0, "0001");
  return grid;
}

bool InGrid(const test::FakeGrid& grid, int row, int col) {
  return row >= 0 && row < grid.Rows() && col >= 0 && col < grid.Cols();
}

}  // namespace
}  // namespace ostrel

// The log goes into the private folder.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ostrel::intToolKind = ostrel::Kiv_UdpSnd;
  ostrel::InitLog(ostrel::fuzz::PrivateFolder().string());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ostrel;
  std::string_view input = fuzz::AsText(data, size);
  test::FakeGrid grid = MakeGrid();
  ByteEditor editor;
  std::optional<std::pair<int, int>> opened;

  while (!input.empty()) {
    const std::size_t lf = input.find('\n');
    const std::string_view line = input.substr(0, lf);
    input.remove_prefix(lf == std::string_view::npos ? input.size() : lf + 1);
    const ByteEditorState before = editor.State();
    const char op = line.empty() ? '\0' : line[0];

    if (op == 'b' && line.size() >= 3) {
      const int index = line[1] - '0';
      const bool checked = line[2] == '1';
      const std::string error = ErrorOf([&] { editor.SetBit(index, checked); });
      if (index < 0 || index >= kDataBitCount) {
        FUZZ_CHECK(error == desc::kSubscriptOutOfRange && editor.State() == before);
      } else {
        FUZZ_CHECK(error.empty());
        ByteEditorState expected = before;
        expected.bits[index] = checked;
        if (expected.bits != before.bits) {
          expected.text = HexText2(BitsValue(expected));
          expected.status.clear();
          expected.apply_enabled = true;
        }
        FUZZ_CHECK(editor.State() == expected);
      }
    } else if (op == 'l' && line.size() >= 3) {
      const int16_t row = static_cast<int16_t>(line[1] - '0');
      const int16_t col = static_cast<int16_t>(line[2] - '0');
      const std::string text(line.substr(3));
      if (InGrid(grid, row, col)) grid.SetTextMatrix(row, col, text);
      const std::string error = ErrorOf([&] { editor.LoadCell(grid, row, col); });
      opened = {row, col};
      if (!InGrid(grid, row, col)) {
        FUZZ_CHECK(error == desc::kSubscriptOutOfRange && editor.State() == before);
      } else {
        ByteEditorState expected = AfterTyping(before, FirstTwoChars(text));
        const bool valid = !expected.text.empty();
        if (valid) expected.position = grid.TextMatrix(row, 0) + "-" + grid.TextMatrix(0, col);
        FUZZ_CHECK(error == (valid ? "" : desc::kTypeMismatch));
        FUZZ_CHECK(editor.State() == expected);
      }
    } else if (op == 'a' && line.size() == 1) {
      const std::string error = ErrorOf([&] { editor.ApplyToCell(); });
      const std::string padded = before.text.empty()       ? "00"
                                 : before.text.size() == 1 ? "0" + before.text
                                                           : before.text;
      FUZZ_CHECK(editor.State().text == padded);
      if (!opened) {
        FUZZ_CHECK(error == desc::kInvalidArgument);
      } else if (InGrid(grid, opened->first, opened->second)) {
        FUZZ_CHECK(error.empty());
        FUZZ_CHECK(grid.TextMatrix(opened->first, opened->second) == padded);
      }  // after an opening that failed on its address, the grid judges the write
    } else {
      const std::string_view typed = op == 't' ? line.substr(1) : line;
      editor.SetText(typed);
      FUZZ_CHECK(editor.State() == AfterTyping(before, FirstTwoChars(typed)));
    }
    CheckConsistent(editor);
    FUZZ_CHECK(TakeLog().empty());
  }
  return 0;
}
