#pragma once
// The byte grid widget: a GridControl shown by a QTableView over a table model of its
// own. Row 0 and column 0 are the view's header sections, so they stay in place while
// the data scrolls and can never become the operator's current cell. Grid lines are grey;
// the font is "ＭＳ ゴシック" 9 pt with the fallback "Noto Sans Mono CJK JP".

#include <QAbstractTableModel>
#include <QTableView>
#include <string>
#include <vector>

#include "grid_control.h"

namespace ostrel {

// Every cell of a grid, header row and column included, held compactly: its text, its
// alignment and its background. Data cells are the model's items, the header row and
// column its header sections. While announcements are held, changes are only marked;
// releasing them announces the row-count change once and the changed cells as one range.
class GridCellModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Alignment values 0..8 run left, centre, right (value / 3), each top, centre, bottom
  // (value % 3); kAlignDefault gives back the cell's default alignment.
  static constexpr int kAlignDefault = 9;

  GridCellModel(int rows, int cols, QObject* parent = nullptr);

  // Counts and addresses of the whole grid, header row and column included.
  int GridRows() const { return rows_; }
  int GridCols() const { return cols_; }
  void SetGridRows(int rows);

  const std::string& CellText(int row, int col) const { return At(row, col).text; }
  void SetCellText(int row, int col, const std::string& text);
  int CellAlignment(int row, int col) const { return At(row, col).alignment; }
  void SetCellAlignment(int row, int col, int alignment);
  // 0x00BBGGRR; kDefaultBackColor for none.
  uint32_t CellBackColor(int row, int col) const { return At(row, col).back_color; }
  void SetCellBackColor(int row, int col, uint32_t color);

  // While held, nothing is announced; releasing announces what changed meanwhile.
  void HoldAnnouncements(bool hold);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  struct Cell {
    std::string text;
    uint32_t back_color = kDefaultBackColor;
    int8_t alignment = kAlignDefault;
  };

  const Cell& At(int row, int col) const { return cells_[static_cast<size_t>(row) * cols_ + col]; }
  Cell& At(int row, int col) { return cells_[static_cast<size_t>(row) * cols_ + col]; }
  // What a cell shows for a role; an invalid value for a cell outside the grid.
  QVariant CellData(int row, int col, int role) const;
  // Announces one cell now, or marks it for the release.
  void Changed(int row, int col);
  // Announces a row-count change from the rows the view knows to the grid's.
  void AnnounceRowCount();
  void AnnounceRange(int first_row, int last_row, int first_col, int last_col);

  int rows_;
  int cols_;
  std::vector<Cell> cells_;
  bool held_ = false;
  // The data rows the view was last told of.
  int announced_rows_;
  // The range of cells changed while held (grid addresses), empty when first > last.
  int dirty_first_row_ = 1;
  int dirty_last_row_ = 0;
  int dirty_first_col_ = 1;
  int dirty_last_col_ = 0;
};

class GridCellDelegate;

class FlexGrid : public QTableView, public GridControl {
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

  const GridCellModel& cells() const { return *cells_; }

  // Off, the grid paints as a QTableView with Qt's own delegate and headers does, without the
  // shortcuts that make a stream of answers cheap to show; tests compare the two.
  void SetOwnPainting(bool on);

 signals:
  // A double click on a data cell, after Row and Col name it.
  void DblClick();
  // A mouse button released over the grid.
  void MouseUp();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  // Repaints only the cells of the changed range that the viewport shows (the item view
  // repaints its whole viewport for any range of more than one cell).
  void dataChanged(const QModelIndex& top_left, const QModelIndex& bottom_right,
                   const QList<int>& roles = QList<int>()) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

  // Raises RunTimeError(desc::kSubscriptOutOfRange) for an address outside the grid.
  void CheckAddress(int row, int col) const;

  GridCellModel* cells_ = nullptr;
  GridCellDelegate* cell_delegate_ = nullptr;
  bool own_painting_ = true;
  int row_ = 1;
  int col_ = 1;
  bool redraw_ = true;
  // Set while the model changes its row count, so the view's moves of its current index
  // are not taken for the operator's.
  bool resizing_ = false;
};

}  // namespace ostrel
