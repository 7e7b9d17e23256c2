#include "flex_grid.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMouseEvent>
#include <algorithm>

#include "common/run_time_error.h"

namespace ostrel {
namespace {

// Sizes in pixels. Sixteen byte columns and the row header fit the window's 585-pixel
// grid with room for a vertical scroll bar, so the grid never scrolls sideways.
constexpr int kDataColumnWidth = 31;
constexpr int kRowHeaderWidth = 44;
constexpr int kMinRowHeight = 18;

// Alignment values 0..8 run left, centre, right (value / 3), each top, centre, bottom
// (value % 3); 9 gives back the cell's default alignment.
constexpr int kAlignDefault = 9;

Qt::Alignment AlignmentOf(int value) {
  static constexpr Qt::AlignmentFlag kHorizontal[] = {Qt::AlignLeft, Qt::AlignHCenter,
                                                      Qt::AlignRight};
  static constexpr Qt::AlignmentFlag kVertical[] = {Qt::AlignTop, Qt::AlignVCenter,
                                                    Qt::AlignBottom};
  return kHorizontal[value / 3] | kVertical[value % 3];
}

QColor QColorOf(uint32_t bgr) {
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                static_cast<int>((bgr >> 16) & 0xFF));
}

uint32_t BgrOf(const QColor& color) {
  return static_cast<uint32_t>(color.red()) | static_cast<uint32_t>(color.green()) << 8 |
         static_cast<uint32_t>(color.blue()) << 16;
}

}  // namespace

FlexGrid::FlexGrid(int cols, QWidget* parent) : QTableWidget(parent) {
  if (cols < 1) throw RunTimeError(desc::kInvalidPropertyValue);

  QFont font;
  font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("Noto Sans Mono CJK JP")});
  font.setStyleHint(QFont::Monospace);
  font.setPointSize(9);
  setFont(font);
  setStyleSheet(QStringLiteral("QTableView { gridline-color: rgb(128, 128, 128); }"));

  // Cells change only through the program (the byte editor is a dialog of its own); the
  // operator selects one cell at a time.
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setTabKeyNavigation(false);
  setWordWrap(false);
  setCornerButtonEnabled(false);

  // Fixed section sizes: nothing is measured from the cell texts, so a fill of 2048
  // cells costs no layout work per cell.
  const int row_height = std::max(kMinRowHeight, QFontMetrics(font).height() + 2);
  for (QHeaderView* header : {horizontalHeader(), verticalHeader()}) {
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setSectionsClickable(false);  // a header click selects nothing
    header->setHighlightSections(false);
    header->setMinimumSectionSize(1);
    header->viewport()->installEventFilter(this);
  }
  horizontalHeader()->setDefaultSectionSize(kDataColumnWidth);
  horizontalHeader()->setFixedHeight(row_height + 2);
  verticalHeader()->setDefaultSectionSize(row_height);
  verticalHeader()->setFixedWidth(kRowHeaderWidth);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  setColumnCount(cols - 1);
  for (int c = 0; c < cols - 1; ++c) setHorizontalHeaderItem(c, new QTableWidgetItem);
  SetRows(2);

  // The operator's selection (mouse or keyboard) becomes the current cell. Only data
  // cells can be selected in the table, so Row and Col then always name a data cell.
  connect(this, &QTableWidget::currentCellChanged, this, [this](int row, int col, int, int) {
    if (resizing_ || row < 0 || col < 0) return;
    row_ = row + 1;
    col_ = col + 1;
  });
  connect(this, &QTableWidget::cellPressed, this, [this](int row, int col) {
    row_ = row + 1;
    col_ = col + 1;
  });
}

int FlexGrid::Rows() const { return rowCount() + 1; }

// One row is the header row alone; fewer is refused. The current row follows the bottom
// when its row is removed.
void FlexGrid::SetRows(int rows) {
  if (rows < 1) throw RunTimeError(desc::kInvalidPropertyValue);
  const int old_count = rowCount();
  if (rows - 1 == old_count) return;
  resizing_ = true;
  setRowCount(rows - 1);
  resizing_ = false;
  AddRowHeaderItems(old_count);
  if (row_ > rows - 1) row_ = rows - 1;
}

int FlexGrid::Cols() const { return columnCount() + 1; }

// Row and Col set by code address cells for the calls that follow; they do not move the
// highlighted cell, which stays where the operator last put it (a fill would otherwise
// scroll the view to its last cell).
int FlexGrid::Row() const { return row_; }

void FlexGrid::SetRow(int row) {
  if (row < 0 || row >= Rows()) throw RunTimeError(desc::kInvalidPropertyValue);
  row_ = row;
}

int FlexGrid::Col() const { return col_; }

void FlexGrid::SetCol(int col) {
  if (col < 0 || col >= Cols()) throw RunTimeError(desc::kInvalidPropertyValue);
  col_ = col;
}

std::string FlexGrid::Text() const { return TextMatrix(row_, col_); }

void FlexGrid::SetText(const std::string& text) { SetTextMatrix(row_, col_, text); }

void FlexGrid::SetCellAlignment(int alignment) {
  if (alignment < 0 || alignment > kAlignDefault) {
    throw RunTimeError(desc::kInvalidPropertyValue);
  }
  CheckAddress(row_, col_);
  QTableWidgetItem* item = EnsureItemAt(row_, col_);
  if (item == nullptr) return;  // the corner cell shows nothing
  if (alignment == kAlignDefault) {
    item->setData(Qt::TextAlignmentRole, QVariant());
  } else {
    item->setTextAlignment(AlignmentOf(alignment));
  }
}

void FlexGrid::SetCellBackColor(uint32_t color) {
  CheckAddress(row_, col_);
  if (color == kDefaultBackColor) {
    // Only an existing item can carry a colour; a missing one already has the default.
    if (QTableWidgetItem* item = ItemAt(row_, col_)) {
      item->setData(Qt::BackgroundRole, QVariant());
    }
    return;
  }
  if (QTableWidgetItem* item = EnsureItemAt(row_, col_)) {
    item->setBackground(QBrush(QColorOf(color & 0xFFFFFF)));
  }
}

std::string FlexGrid::TextMatrix(int row, int col) const {
  CheckAddress(row, col);
  if (row == 0 && col == 0) return corner_text_;
  const QTableWidgetItem* item = ItemAt(row, col);
  return item == nullptr ? std::string() : item->text().toStdString();
}

void FlexGrid::SetTextMatrix(int row, int col, const std::string& text) {
  CheckAddress(row, col);
  if (row == 0 && col == 0) {
    corner_text_ = text;
    return;
  }
  QTableWidgetItem* item = ItemAt(row, col);
  if (item == nullptr) {
    if (text.empty()) return;  // a missing item already reads as empty
    item = EnsureItemAt(row, col);
  }
  item->setText(QString::fromStdString(text));
}

bool FlexGrid::Redraw() const { return redraw_; }

void FlexGrid::SetRedraw(bool redraw) {
  redraw_ = redraw;
  // Switching updates back on repaints the table, its headers and its viewport.
  setUpdatesEnabled(redraw);
}

uint32_t FlexGrid::CellBackColorAt(int row, int col) const {
  CheckAddress(row, col);
  const QTableWidgetItem* item = ItemAt(row, col);
  if (item == nullptr) return kDefaultBackColor;
  const QVariant background = item->data(Qt::BackgroundRole);
  if (!background.isValid()) return kDefaultBackColor;
  return BgrOf(background.value<QBrush>().color());
}

bool FlexGrid::CellCenteredAt(int row, int col) const {
  CheckAddress(row, col);
  const QTableWidgetItem* item = ItemAt(row, col);
  if (item == nullptr) return false;
  const QVariant alignment = item->data(Qt::TextAlignmentRole);
  return alignment.isValid() && Qt::Alignment(alignment.toInt()) == Qt::AlignCenter;
}

void FlexGrid::mouseReleaseEvent(QMouseEvent* event) {
  QTableWidget::mouseReleaseEvent(event);
  emit MouseUp();
}

// Only a double click on a data cell is reported, so a handler always finds Row and Col
// naming a data cell. Header sections and the empty area below the rows report nothing.
void FlexGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  QTableWidget::mouseDoubleClickEvent(event);
  const QModelIndex index = indexAt(event->position().toPoint());
  if (!index.isValid()) return;
  row_ = index.row() + 1;
  col_ = index.column() + 1;
  emit DblClick();
}

// A button released over either header is a release over the grid too.
bool FlexGrid::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      (watched == horizontalHeader()->viewport() || watched == verticalHeader()->viewport())) {
    emit MouseUp();
  }
  return QTableWidget::eventFilter(watched, event);
}

void FlexGrid::CheckAddress(int row, int col) const {
  if (row < 0 || row >= Rows() || col < 0 || col >= Cols()) {
    throw RunTimeError(desc::kSubscriptOutOfRange);
  }
}

QTableWidgetItem* FlexGrid::ItemAt(int row, int col) const {
  if (row == 0) return col == 0 ? nullptr : horizontalHeaderItem(col - 1);
  if (col == 0) return verticalHeaderItem(row - 1);
  return item(row - 1, col - 1);
}

QTableWidgetItem* FlexGrid::EnsureItemAt(int row, int col) {
  if (row == 0 && col == 0) return nullptr;
  if (QTableWidgetItem* existing = ItemAt(row, col)) return existing;
  auto* created = new QTableWidgetItem;
  if (row == 0) {
    setHorizontalHeaderItem(col - 1, created);
  } else if (col == 0) {
    setVerticalHeaderItem(row - 1, created);
  } else {
    created->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    setItem(row - 1, col - 1, created);
  }
  return created;
}

void FlexGrid::AddRowHeaderItems(int first) {
  for (int r = first; r < rowCount(); ++r) {
    if (verticalHeaderItem(r) == nullptr) setVerticalHeaderItem(r, new QTableWidgetItem);
  }
}

}  // namespace ostrel
