#include "memory_grid.h"

#include "common/run_time_error.h"

namespace ostrel {

MemoryGrid::MemoryGrid() { SetRows(2); }

void MemoryGrid::SetRows(int rows) {
  if (rows < 2) throw RunTimeError(desc::kInvalidPropertyValue);
  cells_.resize(static_cast<std::size_t>(rows), std::vector<std::string>(kCols));
  if (row_ >= rows) row_ = rows - 1;
}

std::string MemoryGrid::TextMatrix(int row, int col) const {
  return cells_[CheckedRow(row)][CheckedCol(col)];
}

void MemoryGrid::SetTextMatrix(int row, int col, const std::string& text) {
  cells_[CheckedRow(row)][CheckedCol(col)] = text;
}

int MemoryGrid::CheckedRow(int row) const {
  if (row < 0 || row >= Rows()) throw RunTimeError(desc::kSubscriptOutOfRange);
  return row;
}

int MemoryGrid::CheckedCol(int col) {
  if (col < 0 || col >= kCols) throw RunTimeError(desc::kSubscriptOutOfRange);
  return col;
}

}  // namespace ostrel
