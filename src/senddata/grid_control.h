#pragma once
// What the program asks of a byte grid: cell addressing with one fixed header row and
// one fixed header column, per-cell text, centring and background colour, and a redraw
// flag that reads back. Plain C++, so the conversions between grids and byte arrays
// can be tested against any grid.

#include <cstdint>
#include <string>

namespace ostrel {

// Colours in the 0x00BBGGRR form.
inline constexpr uint32_t kDefaultBackColor = 0;  // the grid's own background
inline constexpr uint32_t kGreyBackColor = 0x808080;
// Cell alignment value that centres text horizontally and vertically.
inline constexpr int kAlignCenterCenter = 4;

class GridControl {
 public:
  virtual ~GridControl() = default;

  // Counts include the header row and the header column.
  virtual int Rows() const = 0;
  // Adds empty rows or removes rows at the bottom. At least 2 (header and one data row).
  virtual void SetRows(int rows) = 0;
  virtual int Cols() const = 0;

  // The current cell, counted from 0. Code may address header cells; the operator can
  // only make a data cell current.
  virtual int Row() const = 0;
  virtual void SetRow(int row) = 0;
  virtual int Col() const = 0;
  virtual void SetCol(int col) = 0;

  // Text, alignment and background of the current cell.
  virtual std::string Text() const = 0;
  virtual void SetText(const std::string& text) = 0;
  virtual void SetCellAlignment(int alignment) = 0;
  virtual void SetCellBackColor(uint32_t color) = 0;

  // Text of any cell by address, without moving the current cell.
  virtual std::string TextMatrix(int row, int col) const = 0;
  virtual void SetTextMatrix(int row, int col, const std::string& text) = 0;

  // False suspends drawing, true resumes it; reads back the last value set.
  virtual bool Redraw() const = 0;
  virtual void SetRedraw(bool redraw) = 0;
};

}  // namespace ostrel
