#include "answer_marks.h"

#include <algorithm>

#include "common/display_text.h"
#include "senddata/byte_grid.h"

namespace ostrel {
namespace {

// Colours the cells at `offsets` that the grid has, by `color_of(text)`, and puts the
// current cell back.
template <typename ColorOf>
void ColourCells(GridControl& grid, const std::vector<std::size_t>& offsets, ColorOf color_of) {
  const int data_cols = grid.Cols() - 1;
  if (data_cols < 1) return;
  const int row = grid.Row();
  const int col = grid.Col();
  for (const std::size_t offset : offsets) {
    const std::size_t r = offset / static_cast<std::size_t>(data_cols) + 1;
    if (r >= static_cast<std::size_t>(grid.Rows())) break;  // ascending: the rest is past too
    const int c = static_cast<int>(offset % static_cast<std::size_t>(data_cols)) + 1;
    grid.SetRow(static_cast<int>(r));
    grid.SetCol(c);
    grid.SetCellBackColor(color_of(grid.Text()));
  }
  grid.SetRow(std::min(row, grid.Rows() - 1));
  grid.SetCol(col);
}

}  // namespace

bool GridShows(const GridControl& grid, std::span<const uint8_t> answer) {
  const int data_cols = grid.Cols() - 1;
  if (data_cols < 1 || answer.empty()) return false;
  const std::size_t n = std::min(answer.size(), kGridByteCapacity);
  const std::size_t cols = static_cast<std::size_t>(data_cols);
  if (static_cast<std::size_t>(grid.Rows() - 1) != (n + cols - 1) / cols) return false;
  for (std::size_t k = 0; k < n; ++k) {
    const int r = static_cast<int>(k / cols) + 1;
    const int c = static_cast<int>(k % cols) + 1;
    if (grid.TextMatrix(r, c) != HexText2(answer[k])) return false;
  }
  // The rest of the last row is empty.
  for (std::size_t k = n; k % cols != 0; ++k)
    if (!grid.TextMatrix(static_cast<int>(k / cols) + 1, static_cast<int>(k % cols) + 1).empty())
      return false;
  return true;
}

void MarkGridCells(GridControl& grid, const std::vector<std::size_t>& offsets) {
  ColourCells(grid, offsets, [](const std::string&) { return kMismatchBackColor; });
}

void ClearGridMarks(GridControl& grid, const std::vector<std::size_t>& offsets) {
  ColourCells(grid, offsets, [](const std::string& text) {
    return text.empty() ? kGreyBackColor : kDefaultBackColor;
  });
}

}  // namespace ostrel
