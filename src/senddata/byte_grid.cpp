#include "byte_grid.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

#include "common/display_text.h"
#include "common/run_time_error.h"
#include "common/text_scan.h"
#include "logging/error_handler.h"

namespace ostrel {
namespace {

// Data columns of a grid; a grid without any has no place for bytes.
int DataCols(const GridControl& grid) {
  const int cols = grid.Cols() - 1;
  if (cols < 1) throw RunTimeError(desc::kInvalidPropertyValue);
  return cols;
}

// The fill moves the current cell from cell to cell, since alignment and colour are set
// through it. The operator's cell (the one the byte editor opens on) is put back
// afterwards, also when the fill fails half-way.
class CurrentCellKeeper {
 public:
  explicit CurrentCellKeeper(GridControl& grid) : grid_(grid), row_(grid.Row()), col_(grid.Col()) {}
  ~CurrentCellKeeper() {
    try {
      grid_.SetRow(std::min(row_, grid_.Rows() - 1));
      grid_.SetCol(col_);
    } catch (...) {  // a grid that refuses its own old cell keeps the last one
    }
  }
  CurrentCellKeeper(const CurrentCellKeeper&) = delete;
  CurrentCellKeeper& operator=(const CurrentCellKeeper&) = delete;

 private:
  GridControl& grid_;
  int row_;
  int col_;
};

// ReadableCellValue as a plain int, -1 for an unreadable text: the read-back of 2,048
// cells calls it in its inner loop, where returning an optional costs a stall per cell.
int CellValue(std::string_view text) {
  if (text.size() == 2) {  // what the grid holds nearly always
    const int high = HexDigitValue(text[0]);
    const int low = HexDigitValue(text[1]);
    return (high | low) < 0 ? -1 : high * 16 + low;
  }
  if (text.empty()) return -1;
  constexpr int kMax = std::numeric_limits<int>::max();
  int value = 0;
  for (const char ch : text) {
    const int digit = HexDigitValue(ch);
    if (digit < 0) return -1;
    value = value > (kMax - digit) / 16 ? kMax : value * 16 + digit;
  }
  return value;
}

}  // namespace

std::optional<int> ReadableCellValue(std::string_view text) {
  const int value = CellValue(text);
  if (value < 0) return std::nullopt;
  return value;
}

namespace {

// The fill of both: `n` cells (at most kGridByteCapacity), cell k's text from text_of(k).
template <typename TextOf>
void FillGridCells(GridControl& grid, std::size_t count, TextOf text_of) {
  if (count == 0) return;
  const int data_cols = DataCols(grid);
  const std::size_t n = std::min(count, kGridByteCapacity);
  const int data_rows = static_cast<int>((n + data_cols - 1) / data_cols);

  CurrentCellKeeper keeper(grid);
  grid.SetRows(data_rows + 1);
  for (int i = 0; i < data_rows; ++i) {
    grid.SetRow(i + 1);
    grid.SetCol(0);
    grid.SetCellAlignment(kAlignCenterCenter);
    grid.SetText(HexText4(i));
  }
  std::size_t k = 0;
  for (int r = 0; r < data_rows; ++r) {
    for (int c = 0; c < data_cols; ++c, ++k) {
      grid.SetRow(r + 1);
      grid.SetCol(c + 1);
      grid.SetCellAlignment(kAlignCenterCenter);
      if (k < n) {
        grid.SetText(text_of(k));
        grid.SetCellBackColor(kDefaultBackColor);
      } else {
        grid.SetText("");
        grid.SetCellBackColor(kGreyBackColor);
      }
    }
  }
}

}  // namespace

void LabelGridHeaders(GridControl& grid) {
  for (int i = 0; i <= grid.Cols() - 2; ++i) {
    grid.SetRow(0);
    grid.SetCol(i + 1);
    grid.SetCellAlignment(kAlignCenterCenter);
    grid.SetText(HexText2(i));
  }
  for (int j = 0; j <= grid.Rows() - 2; ++j) {
    grid.SetCol(0);
    grid.SetRow(j + 1);
    grid.SetCellAlignment(kAlignCenterCenter);
    grid.SetText(HexText4(j));
  }
}

void FillGridFromBytes(GridControl& grid, std::span<const uint8_t> bytes) {
  FillGridCells(grid, bytes.size(), [&](std::size_t k) { return HexText2(bytes[k]); });
}

void FillGridFromTexts(GridControl& grid, std::span<const std::string> texts) {
  FillGridCells(grid, texts.size(), [&](std::size_t k) { return texts[k]; });
}

void SetGridFromByteArray(GridControl& grid, const std::vector<uint8_t>& bytes) noexcept {
  RunHandled("SetGridFromByteArray", [&] { FillGridFromBytes(grid, bytes); });
}

void ReadBytesFromGrid(std::vector<uint8_t>& bytes, const GridControl& grid) {
  const int data_rows = std::max(grid.Rows() - 1, 0);
  const int data_cols = std::max(grid.Cols() - 1, 0);
  bytes.assign(static_cast<std::size_t>(data_rows) * data_cols, 0);
  std::size_t k = 0;
  for (int r = 0; r < data_rows; ++r) {
    for (int c = 0; c < data_cols; ++c) {
      const int value = CellValue(grid.TextMatrix(r + 1, c + 1));
      if (value < 0) break;  // the rest of this row is not read
      if (value > 0xFF) throw RunTimeError(desc::kOverflow);
      bytes[k++] = static_cast<uint8_t>(value);
    }
  }
  bytes.resize(k);
}

void SetByteArrayFromGrid(std::vector<uint8_t>& bytes, const GridControl& grid) noexcept {
  RunHandled("SetByteArrayFromGrid", [&] { ReadBytesFromGrid(bytes, grid); });
}

}  // namespace ostrel
