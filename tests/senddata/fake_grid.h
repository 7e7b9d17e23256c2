#pragma once
// An in-memory GridControl for tests that need to break a grid on purpose or watch how
// it is written, and for forked children where no widget may be built.

#include <cstdint>
#include <string>
#include <vector>

#include "common/run_time_error.h"
#include "senddata/grid_control.h"

namespace ostrel::test {

class FakeGrid : public GridControl {
 public:
  struct Cell {
    std::string text;
    int alignment = 0;
    uint32_t back = kDefaultBackColor;
  };

  explicit FakeGrid(int cols = 17) : cols_(cols) { SetRows(2); }

  int Rows() const override { return static_cast<int>(cells_.size()); }
  void SetRows(int rows) override { cells_.resize(rows, std::vector<Cell>(cols_)); }
  int Cols() const override { return cols_; }
  int Row() const override { return row_; }
  void SetRow(int row) override { row_ = Checked(row, Rows()); }
  int Col() const override { return col_; }
  void SetCol(int col) override { col_ = Checked(col, cols_); }
  std::string Text() const override { return At(row_, col_).text; }
  void SetText(const std::string& text) override {
    if (set_text_calls++ == fail_at_set_text) throw RunTimeError(desc::kDeviceIo);
    if (!redraw_) ++writes_while_redraw_off;
    At(row_, col_).text = text;
  }
  void SetCellAlignment(int alignment) override { At(row_, col_).alignment = alignment; }
  void SetCellBackColor(uint32_t color) override { At(row_, col_).back = color; }
  std::string TextMatrix(int row, int col) const override { return At(row, col).text; }
  void SetTextMatrix(int row, int col, const std::string& text) override {
    At(row, col).text = text;
  }
  bool Redraw() const override { return redraw_; }
  void SetRedraw(bool redraw) override { redraw_ = redraw; }

  const Cell& At(int row, int col) const {
    return cells_.at(Checked(row, Rows())).at(Checked(col, cols_));
  }
  Cell& At(int row, int col) { return cells_.at(Checked(row, Rows())).at(Checked(col, cols_)); }

  int fail_at_set_text = -1;  // the SetText call (from 0) that raises
  int set_text_calls = 0;
  int writes_while_redraw_off = 0;

 private:
  static int Checked(int index, int count) {
    if (index < 0 || index >= count) throw RunTimeError(desc::kSubscriptOutOfRange);
    return index;
  }

  int cols_;
  int row_ = 1;
  int col_ = 1;
  bool redraw_ = true;
  std::vector<std::vector<Cell>> cells_;
};

}  // namespace ostrel::test
