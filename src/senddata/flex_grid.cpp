#include "flex_grid.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <QtMath>
#include <algorithm>
#include <unordered_map>

#include "common/run_time_error.h"

namespace ostrel {
namespace {

// Sizes in pixels. Sixteen byte columns and the row header fit the window's 585-pixel
// grid with room for a vertical scroll bar, so the grid never scrolls sideways.
constexpr int kDataColumnWidth = 31;
constexpr int kRowHeaderWidth = 44;
constexpr int kMinRowHeight = 18;

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

// Cell texts are a few characters: compared in place, without a library call.
bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  if (a.size() == 2) return ((a[0] ^ b[0]) | (a[1] ^ b[1])) == 0;  // a byte's text
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// The row header. Its sections have fixed sizes and the header a fixed width, so its size
// hint, which the view asks for whenever the row count changes, need not measure the texts
// of up to 200 sections: the hint is never used.
class RowHeader : public QHeaderView {
 public:
  explicit RowHeader(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {}

 protected:
  QSize sectionSizeFromContents(int) const override {
    return QSize(width(), defaultSectionSize());
  }
};

// Grid lines grey. As a style hint rather than a style sheet: a style sheet sends every
// cell's, header's and scroll bar's drawing through the style-sheet style's rule lookups.
class GridStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* hint_return) const override {
    if (hint == SH_Table_GridLineColor) return static_cast<int>(qRgb(128, 128, 128));
    return QProxyStyle::styleHint(hint, option, widget, hint_return);
  }
};

// Paints the cells as the item view's own delegate does, but from the cells themselves
// and with each text laid out once: a grid repainted many times a second shows the same
// 256 byte texts again and again, and shaping them anew at every paint was most of the
// cost of showing a stream of answers. The selected or focused cell, one at most, is left
// to the view's own delegate, which draws the highlight and the focus frame.
class GridCellDelegate : public QStyledItemDelegate {
 public:
  GridCellDelegate(const GridCellModel& cells, QObject* parent)
      : QStyledItemDelegate(parent), cells_(cells) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const int row = index.row() + 1;
    const int col = index.column() + 1;
    if ((option.state & (QStyle::State_Selected | QStyle::State_HasFocus)) ||
        row >= cells_.GridRows() || col >= cells_.GridCols()) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    const uint32_t back = cells_.CellBackColor(row, col);
    if (back != kDefaultBackColor) painter->fillRect(option.rect, QColorOf(back));
    const std::string& text = cells_.CellText(row, col);
    if (text.empty()) return;
    const int alignment = cells_.CellAlignment(row, col);
    const Qt::Alignment align =
        alignment == GridCellModel::kAlignDefault ? option.displayAlignment : AlignmentOf(alignment);
    const QStaticText& laid_out = LaidOut(text, option.font);
    // The view's delegate keeps a margin beside the text and aligns its laid-out lines
    // within the rest of the cell. The margin is the style's, asked once.
    if (margin_ < 0) {
      const QWidget* widget = option.widget;
      const QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
      margin_ = style->pixelMetric(QStyle::PM_FocusFrameHMargin, &option, widget) + 1;
    }
    const QRect text_rect = option.rect.adjusted(margin_, 0, -margin_, 0);
    const QSizeF size = laid_out.size();
    const QRect placed = QStyle::alignedRect(
        option.direction, align, QSize(qCeil(size.width()), qCeil(size.height())), text_rect);
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active) ? QPalette::Normal
                                                                               : QPalette::Inactive;
    painter->save();
    painter->setClipRect(text_rect, Qt::IntersectClip);
    painter->setFont(option.font);
    painter->setPen(option.palette.color(group, QPalette::Text));
    painter->drawStaticText(placed.topLeft(), laid_out);
    painter->restore();
  }

 private:
  const QStaticText& LaidOut(const std::string& text, const QFont& font) const {
    if (font != font_) {
      laid_out_.clear();
      font_ = font;
    }
    auto found = laid_out_.find(text);
    if (found != laid_out_.end()) return found->second;
    if (laid_out_.size() >= kMostTexts) laid_out_.clear();
    QStaticText laid_out(QString::fromStdString(text));
    laid_out.setTextFormat(Qt::PlainText);
    laid_out.prepare(QTransform(), font);
    return laid_out_.emplace(text, std::move(laid_out)).first->second;
  }

  // Byte texts, header texts and a few more; past that the cache starts again.
  static constexpr size_t kMostTexts = 1024;
  const GridCellModel& cells_;
  mutable int margin_ = -1;
  mutable QFont font_;
  mutable std::unordered_map<std::string, QStaticText> laid_out_;
};

}  // namespace

GridCellModel::GridCellModel(int rows, int cols, QObject* parent)
    : QAbstractTableModel(parent),
      rows_(rows),
      cols_(cols),
      cells_(static_cast<size_t>(rows) * cols),
      announced_rows_(rows - 1) {}

// Rows added come empty; rows removed lose their cells, so rows that come back later are
// empty again.
void GridCellModel::SetGridRows(int rows) {
  if (rows == rows_) return;
  cells_.resize(static_cast<size_t>(rows) * cols_);
  dirty_last_row_ = std::min(dirty_last_row_, rows - 1);
  rows_ = rows;
  if (!held_) AnnounceRowCount();
}

void GridCellModel::SetCellText(int row, int col, const std::string& text) {
  Cell& cell = At(row, col);
  if (SameText(cell.text, text)) return;
  cell.text = text;
  Changed(row, col);
}

void GridCellModel::SetCellAlignment(int row, int col, int alignment) {
  Cell& cell = At(row, col);
  if (cell.alignment == alignment) return;
  cell.alignment = static_cast<int8_t>(alignment);
  Changed(row, col);
}

void GridCellModel::SetCellBackColor(int row, int col, uint32_t color) {
  Cell& cell = At(row, col);
  if (cell.back_color == color) return;
  cell.back_color = color;
  Changed(row, col);
}

void GridCellModel::HoldAnnouncements(bool hold) {
  if (hold == held_) return;
  held_ = hold;
  if (held_) return;
  AnnounceRowCount();
  if (dirty_first_row_ <= dirty_last_row_ && dirty_first_col_ <= dirty_last_col_) {
    AnnounceRange(dirty_first_row_, dirty_last_row_, dirty_first_col_, dirty_last_col_);
  }
  dirty_first_row_ = dirty_first_col_ = 1;
  dirty_last_row_ = dirty_last_col_ = 0;
}

void GridCellModel::Changed(int row, int col) {
  if (!held_) {
    AnnounceRange(row, row, col, col);
    return;
  }
  if (dirty_first_row_ > dirty_last_row_) {
    dirty_first_row_ = dirty_last_row_ = row;
    dirty_first_col_ = dirty_last_col_ = col;
    return;
  }
  dirty_first_row_ = std::min(dirty_first_row_, row);
  dirty_last_row_ = std::max(dirty_last_row_, row);
  dirty_first_col_ = std::min(dirty_first_col_, col);
  dirty_last_col_ = std::max(dirty_last_col_, col);
}

void GridCellModel::AnnounceRowCount() {
  const int rows = rows_ - 1;
  if (rows > announced_rows_) {
    beginInsertRows(QModelIndex(), announced_rows_, rows - 1);
    announced_rows_ = rows;
    endInsertRows();
  } else if (rows < announced_rows_) {
    beginRemoveRows(QModelIndex(), rows, announced_rows_ - 1);
    announced_rows_ = rows;
    endRemoveRows();
  }
}

// The header row's cells are the column header's sections and the header column's cells
// the row header's; the rest are the model's items, one row and column lower.
void GridCellModel::AnnounceRange(int first_row, int last_row, int first_col, int last_col) {
  if (first_row == 0 && first_col <= last_col) {
    emit headerDataChanged(Qt::Horizontal, std::max(first_col, 1) - 1, last_col - 1);
  }
  if (first_col == 0 && first_row <= last_row) {
    emit headerDataChanged(Qt::Vertical, std::max(first_row, 1) - 1, last_row - 1);
  }
  first_row = std::max(first_row, 1);
  first_col = std::max(first_col, 1);
  if (first_row <= last_row && first_col <= last_col) {
    emit dataChanged(index(first_row - 1, first_col - 1), index(last_row - 1, last_col - 1));
  }
}

int GridCellModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : announced_rows_;
}

int GridCellModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : cols_ - 1;
}

QVariant GridCellModel::CellData(int row, int col, int role) const {
  if (row < 0 || row >= rows_ || col < 0 || col >= cols_) return {};
  const Cell& cell = At(row, col);
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(cell.text);
    case Qt::TextAlignmentRole:
      if (cell.alignment == kAlignDefault) return {};
      return static_cast<int>(AlignmentOf(cell.alignment));
    case Qt::BackgroundRole:
      if (cell.back_color == kDefaultBackColor) return {};
      return QBrush(QColorOf(cell.back_color));
    default:
      return {};
  }
}

QVariant GridCellModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  return CellData(index.row() + 1, index.column() + 1, role);
}

// Header sections show the header cells' own texts, empty ones included, never numbers.
QVariant GridCellModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal) return CellData(0, section + 1, role);
  return CellData(section + 1, 0, role);
}

// Cells change only through the program (the byte editor is a dialog of its own).
Qt::ItemFlags GridCellModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

FlexGrid::FlexGrid(int cols, QWidget* parent) : QTableView(parent) {
  if (cols < 1) throw RunTimeError(desc::kInvalidPropertyValue);
  cells_ = new GridCellModel(2, cols, this);
  setModel(cells_);
  setItemDelegate(new GridCellDelegate(*cells_, this));

  QFont font;
  font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("Noto Sans Mono CJK JP")});
  font.setStyleHint(QFont::Monospace);
  font.setPointSize(9);
  setFont(font);
  auto* style = new GridStyle;
  style->setParent(this);
  setStyle(style);

  // The operator selects one cell at a time and edits nothing in place.
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setTabKeyNavigation(false);
  setWordWrap(false);
  setCornerButtonEnabled(false);

  // Fixed section sizes: nothing is measured from the cell texts, so a fill of 2048
  // cells costs no layout work per cell.
  const int row_height = std::max(kMinRowHeight, QFontMetrics(font).height() + 2);
  setVerticalHeader(new RowHeader(this));
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

  // The operator's selection (mouse or keyboard) becomes the current cell. Only data
  // cells can be selected in the view, so Row and Col then always name a data cell; while
  // drawing is off the view may still show rows the grid no longer has, which name none.
  const auto take_current = [this](const QModelIndex& index) {
    if (!index.isValid() || index.row() + 1 >= Rows() || index.column() + 1 >= Cols()) return;
    row_ = index.row() + 1;
    col_ = index.column() + 1;
  };
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this, take_current](const QModelIndex& current, const QModelIndex&) {
            if (!resizing_) take_current(current);
          });
  connect(this, &QAbstractItemView::pressed, this, take_current);
}

int FlexGrid::Rows() const { return cells_->GridRows(); }

// One row is the header row alone; fewer is refused. The current row follows the bottom
// when its row is removed.
void FlexGrid::SetRows(int rows) {
  if (rows < 1) throw RunTimeError(desc::kInvalidPropertyValue);
  if (rows == Rows()) return;
  resizing_ = true;
  cells_->SetGridRows(rows);
  resizing_ = false;
  if (row_ > rows - 1) row_ = rows - 1;
}

int FlexGrid::Cols() const { return cells_->GridCols(); }

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
  if (alignment < 0 || alignment > GridCellModel::kAlignDefault) {
    throw RunTimeError(desc::kInvalidPropertyValue);
  }
  CheckAddress(row_, col_);
  cells_->SetCellAlignment(row_, col_, alignment);
}

void FlexGrid::SetCellBackColor(uint32_t color) {
  CheckAddress(row_, col_);
  cells_->SetCellBackColor(row_, col_, color & 0xFFFFFF);
}

std::string FlexGrid::TextMatrix(int row, int col) const {
  CheckAddress(row, col);
  return cells_->CellText(row, col);
}

void FlexGrid::SetTextMatrix(int row, int col, const std::string& text) {
  CheckAddress(row, col);
  cells_->SetCellText(row, col, text);
}

bool FlexGrid::Redraw() const { return redraw_; }

// While drawing is suspended the model announces nothing, so the view repaints nothing of
// what changes; resuming announces the rows and the range of cells that changed at once,
// and the view repaints just those. (Switching the widget's updates off and on instead
// would repaint the whole grid, headers and scroll bars, at every resume.) A paint the
// window needs meanwhile, inside a message box's event loop, shows the cells as they are.
void FlexGrid::SetRedraw(bool redraw) {
  redraw_ = redraw;
  if (redraw) {
    resizing_ = true;
    cells_->HoldAnnouncements(false);
    resizing_ = false;
  } else {
    cells_->HoldAnnouncements(true);
  }
}

void FlexGrid::dataChanged(const QModelIndex& top_left, const QModelIndex& bottom_right,
                           const QList<int>& roles) {
  if (top_left == bottom_right) {
    QTableView::dataChanged(top_left, bottom_right, roles);
    return;
  }
  if (!top_left.isValid() || !bottom_right.isValid() || !isVisible()) return;
  // Section positions in viewport coordinates; a section scrolled out of view lies
  // outside the viewport's rectangle, which clips it.
  const int left = columnViewportPosition(top_left.column());
  const int right = columnViewportPosition(bottom_right.column()) + columnWidth(bottom_right.column());
  const int top = rowViewportPosition(top_left.row());
  const int bottom = rowViewportPosition(bottom_right.row()) + rowHeight(bottom_right.row());
  const QRect changed = QRect(QPoint(left, top), QPoint(right, bottom)).intersected(viewport()->rect());
  if (!changed.isEmpty()) viewport()->update(changed);
}

uint32_t FlexGrid::CellBackColorAt(int row, int col) const {
  CheckAddress(row, col);
  return cells_->CellBackColor(row, col);
}

bool FlexGrid::CellCenteredAt(int row, int col) const {
  CheckAddress(row, col);
  return cells_->CellAlignment(row, col) == kAlignCenterCenter;
}

void FlexGrid::mouseReleaseEvent(QMouseEvent* event) {
  QTableView::mouseReleaseEvent(event);
  emit MouseUp();
}

// Only a double click of the left button on a data cell is reported, so a handler always
// finds Row and Col naming a data cell. Header sections, the empty area below the rows and
// the other buttons report nothing.
void FlexGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  QTableView::mouseDoubleClickEvent(event);
  if (event->button() != Qt::LeftButton) return;
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
  return QTableView::eventFilter(watched, event);
}

void FlexGrid::CheckAddress(int row, int col) const {
  if (row < 0 || row >= cells_->GridRows() || col < 0 || col >= cells_->GridCols()) {
    throw RunTimeError(desc::kSubscriptOutOfRange);
  }
}

}  // namespace ostrel
