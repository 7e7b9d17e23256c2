#pragma once
// A byte grid without a widget: the cell texts of a grid control held in memory, for a
// program that has no window but loads and reads back bytes by the grids' own rules.
// Alignment and colour are accepted and forgotten.

#include <string>
#include <vector>

#include "senddata/grid_control.h"

namespace ostrel {

class MemoryGrid final : public GridControl {
 public:
  // 17 columns (the header column and 16 bytes) and 2 rows, as a send grid starts.
  MemoryGrid();

  int Rows() const override { return static_cast<int>(cells_.size()); }
  void SetRows(int rows) override;
  int Cols() const override { return kCols; }
  int Row() const override { return row_; }
  void SetRow(int row) override { row_ = CheckedRow(row); }
  int Col() const override { return col_; }
  void SetCol(int col) override { col_ = CheckedCol(col); }
  std::string Text() const override { return cells_[row_][col_]; }
  void SetText(const std::string& text) override { cells_[row_][col_] = text; }
  void SetCellAlignment(int) override {}
  void SetCellBackColor(uint32_t) override {}
  std::string TextMatrix(int row, int col) const override;
  void SetTextMatrix(int row, int col, const std::string& text) override;
  bool Redraw() const override { return redraw_; }
  void SetRedraw(bool redraw) override { redraw_ = redraw; }

 private:
  static constexpr int kCols = 17;
  // Raise the subscript error outside the grid, as a grid control does.
  int CheckedRow(int row) const;
  static int CheckedCol(int col);

  std::vector<std::vector<std::string>> cells_;
  int row_ = 1;
  int col_ = 1;
  bool redraw_ = true;
};

}  // namespace ostrel
