#pragma once
// The byte grid widget: a GridControl on a QTableWidget. Row 0 and column 0 are the
// table's own header sections, so they stay in place while the data scrolls and can
// never become the operator's current cell. Grid lines are grey; the font is
// "ＭＳ ゴシック" 9 pt with the fallback "Noto Sans Mono CJK JP".

#include <QTableWidget>

#include "grid_control.h"

namespace ostrel {

class FlexGrid : public QTableWidget, public GridControl {
  Q_OBJECT

 public:
  // A grid of 2 rows and `cols` columns (header row and column included).
  explicit FlexGrid(int cols = 17, QWidget* parent = nullptr);

  int Rows() const override;
  void SetRows(int rows) override;
  int Cols() const override;
  int Row() const override;
  void SetRow(int row) override;
  int Col() const override;
  void SetCol(int col) override;
  std::string Text() const override;
  void SetText(const std::string& text) override;
  void SetCellAlignment(int alignment) override;
  void SetCellBackColor(uint32_t color) override;
  std::string TextMatrix(int row, int col) const override;
  void SetTextMatrix(int row, int col, const std::string& text) override;
  bool Redraw() const override;
  void SetRedraw(bool redraw) override;

  // For tests and drawing: the background colour of a data cell (kDefaultBackColor when
  // none was set) and whether a cell is centred.
  uint32_t CellBackColorAt(int row, int col) const;
  bool CellCenteredAt(int row, int col) const;

 signals:
  // A double click on a data cell, after Row and Col name it.
  void DblClick();
  // A mouse button released over the grid.
  void MouseUp();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

  // Raises RunTimeError(desc::kSubscriptOutOfRange) for an address outside the grid.
  void CheckAddress(int row, int col) const;
  // The item behind a cell: a header item for row 0 or column 0, a data item otherwise.
  // Null for the corner cell and for data cells never written.
  QTableWidgetItem* ItemAt(int row, int col) const;
  // The same, created (not editable) when missing; null only for the corner cell.
  QTableWidgetItem* EnsureItemAt(int row, int col);
  // Gives rows from `first` on an empty row header, so the table shows no row numbers.
  void AddRowHeaderItems(int first);

  int row_ = 1;
  int col_ = 1;
  bool redraw_ = true;
  // Set while the grid changes its own row count, so the table's moves of its current
  // index are not taken for the operator's.
  bool resizing_ = false;
  std::string corner_text_;
};

}  // namespace ostrel
