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
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <QtMath>
#include <algorithm>
#include <bitset>
#include <unordered_map>

#include "common/run_time_error.h"
#include "common/text_scan.h"
#include "grid_header.h"

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

// Grid lines grey. As a style hint rather than a style sheet: a style sheet sends every
// cell's, header's and scroll bar's drawing through the style-sheet style's rule lookups.
class GridStyle : public QProxyStyle {
 public:
  explicit GridStyle(const bool& own_painting)
      : own_painting_(own_painting),
        fusion_(baseStyle()->name().compare(u"fusion", Qt::CaseInsensitive) == 0) {}

  // The Fusion style leaves a row's panel to the common style, which fills it only for a
  // selected or an alternate row; drawing the others, as the table does under every cell at
  // every paint, would cost Fusion's palette arithmetic and draw nothing.
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (element == PE_PanelItemViewRow && fusion_ && own_painting_) {
      const auto* item = qstyleoption_cast<const QStyleOptionViewItem*>(option);
      if (item != nullptr && !(item->state & State_Selected) &&
          !(item->features & QStyleOptionViewItem::Alternate)) {
        return;
      }
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
  }

  // The grid's scroll bar changes its range with every answer of another length, and Fusion
  // draws its gradients anew at each of those paints. The scroll bar is drawn once for each
  // state it shows (its option says all that Fusion draws from) and copied after that.
  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                          QPainter* painter, const QWidget* widget) const override {
    const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_ScrollBar || bar == nullptr || !fusion_ || !own_painting_ ||
        painter->transform().type() > QTransform::TxTranslate ||
        painter->device()->devicePixelRatioF() != 1.0 ||
        styleHint(SH_ScrollBar_Transient, option, widget, nullptr) != 0) {
      QProxyStyle::drawComplexControl(control, option, painter, widget);
      return;
    }
    const BarLook look{bar->rect.size(), bar->orientation, bar->minimum, bar->maximum,
                       bar->sliderPosition, bar->singleStep, bar->pageStep, bar->upsideDown,
                       static_cast<int>(bar->state), static_cast<int>(bar->subControls),
                       static_cast<int>(bar->activeSubControls), bar->palette.cacheKey(),
                       bar->direction};
    auto found = std::find_if(bars_.begin(), bars_.end(),
                              [&](const auto& entry) { return entry.first == look; });
    if (found == bars_.end()) {
      if (bars_.size() >= kMostBars) bars_.clear();
      QPixmap image(bar->rect.size());
      image.fill(Qt::transparent);
      QStyleOptionSlider at_origin = *bar;
      at_origin.rect.moveTopLeft(QPoint(0, 0));
      {
        QPainter drawing(&image);
        drawing.setFont(painter->font());
        QProxyStyle::drawComplexControl(control, &at_origin, &drawing, widget);
      }
      found = bars_.insert(bars_.end(), {look, std::move(image)});
    }
    painter->drawPixmap(bar->rect.topLeft(), found->second);
  }

  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* hint_return) const override {
    if (hint == SH_Table_GridLineColor) return static_cast<int>(qRgb(128, 128, 128));
    return QProxyStyle::styleHint(hint, option, widget, hint_return);
  }

 private:
  struct BarLook {
    QSize size;
    Qt::Orientation orientation;
    int minimum;
    int maximum;
    int position;
    int single_step;
    int page_step;
    bool upside_down;
    int state;
    int sub_controls;
    int active_sub_controls;
    qint64 palette;
    Qt::LayoutDirection direction;
    bool operator==(const BarLook&) const = default;
  };
  static constexpr size_t kMostBars = 256;

  const bool& own_painting_;
  const bool fusion_;
  mutable std::vector<std::pair<BarLook, QPixmap>> bars_;
};

}  // namespace

// Paints the cells as the item view's own delegate does, but from the cells themselves and
// from images of them made once: a grid repainted many times a second shows the same 256
// byte texts again and again, and laying out, shaping and blending their glyphs anew at
// every paint was most of the cost of showing a stream of answers. A cell's image is its
// background with its text, exactly as the view's delegate draws them (a test compares the
// two pixel for pixel); it is copied whole. The selected or focused cell, one at most, is
// left to the view's own delegate, which draws the highlight and the focus frame; so is any
// cell drawn scaled. The grid's own paint calls PaintPlain directly for the other cells.
class GridCellDelegate : public QStyledItemDelegate {
 public:
  GridCellDelegate(const GridCellModel& cells, const bool& own_painting, QObject* parent)
      : QStyledItemDelegate(parent), cells_(cells), own_painting_(own_painting) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const int row = index.row() + 1;
    const int col = index.column() + 1;
    if (!own_painting_ || (option.state & (QStyle::State_Selected | QStyle::State_HasFocus)) ||
        row >= cells_.GridRows() || col >= cells_.GridCols() ||
        painter->transform().type() > QTransform::TxTranslate ||
        painter->device()->devicePixelRatioF() != 1.0) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    PaintPlain(painter, option, row, col);
  }

  // A data cell neither selected nor focused, at option.rect, unscaled.
  void PaintPlain(QPainter* painter, const QStyleOptionViewItem& option, int row, int col) const {
    const uint32_t back = cells_.CellBackColor(row, col);
    const std::string& text = cells_.CellText(row, col);
    if (text.empty()) {
      if (back != kDefaultBackColor) painter->fillRect(option.rect, QColorOf(back));
      return;
    }
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active) ? QPalette::Normal
                                                                               : QPalette::Inactive;
    // Without a colour of its own a cell shows the viewport's background, the palette's base.
    const Look look{cells_.CellAlignment(row, col),
                    back != kDefaultBackColor ? QColorOf(back).rgb()
                                              : option.palette.color(group, QPalette::Base).rgb(),
                    option.palette.color(group, QPalette::Text).rgb(), option.rect.size(),
                    option.displayAlignment, option.direction};
    DrawImage(painter, option.rect.topLeft(), look, text, option);
  }

 private:
  // Everything of a cell's image but its text.
  struct Look {
    int alignment;
    QRgb back;
    QRgb pen;
    QSize size;
    Qt::Alignment default_alignment;
    Qt::LayoutDirection direction;
    bool operator==(const Look&) const = default;
  };

  // The byte texts "00".."FF", which are nearly all a grid shows, have their images in one
  // picture, one below the other, found by their value: copying from one picture keeps the
  // copying in the processor's cache, where 256 pictures of their own lie apart in memory.
  // Other texts have pictures of their own, found by a hash.
  struct Images {
    Look look;
    QImage bytes;  // its rows are written, so take memory, only as texts are drawn
    std::bitset<256> made;
    std::unordered_map<std::string, QPixmap> others;
  };

  void DrawImage(QPainter* painter, QPoint at, const Look& look, const std::string& text,
                 const QStyleOptionViewItem& option) const {
    if (option.font != font_) {
      images_.clear();
      font_ = option.font;
    }
    auto images = std::find_if(images_.begin(), images_.end(),
                               [&](const Images& entry) { return entry.look == look; });
    if (images == images_.end()) images = images_.insert(images_.end(), Images{look, {}, {}, {}});
    const int byte = ByteTextIndex(text);
    if (byte >= 0 && images->made[byte]) {
      painter->drawImage(at, images->bytes, QRect(QPoint(0, byte * look.size.height()), look.size));
      return;
    }
    if (byte < 0) {
      auto found = images->others.find(text);
      if (found != images->others.end()) {
        painter->drawPixmap(at, found->second);
        return;
      }
    }
    if (++image_count_ > kMostImages) {
      images_.clear();
      image_count_ = 1;
      images = images_.insert(images_.end(), Images{look, {}, {}, {}});
    }
    if (byte < 0) {
      QPixmap image(look.size);
      Draw(&image, QPoint(0, 0), look, text, option);
      painter->drawPixmap(at, images->others.emplace(text, std::move(image)).first->second);
      return;
    }
    if (images->bytes.isNull()) {
      images->bytes = QImage(look.size.width(), look.size.height() * 256, QImage::Format_RGB32);
    }
    const QRect place(QPoint(0, byte * look.size.height()), look.size);
    Draw(&images->bytes, place.topLeft(), look, text, option);
    images->made.set(byte);
    painter->drawImage(at, images->bytes, place);
  }

  // The index of a text among the byte texts in upper case, or -1 for any other text.
  static int ByteTextIndex(const std::string& text) {
    if (text.size() != 2 || text[0] >= 'a' || text[1] >= 'a') return -1;
    const int high = HexDigitValue(text[0]);
    const int low = HexDigitValue(text[1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
  }

  // The cell's background and its text, aligned as the view's delegate aligns it: its laid-out
  // line within the cell less a margin on each side, clipped to that.
  void Draw(QPaintDevice* image, QPoint at, const Look& look, const std::string& text,
            const QStyleOptionViewItem& option) const {
    QStaticText laid_out(QString::fromStdString(text));
    laid_out.setTextFormat(Qt::PlainText);
    laid_out.prepare(QTransform(), option.font);
    const QWidget* widget = option.widget;
    const QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, &option, widget) + 1;
    const QRect text_rect = QRect(QPoint(0, 0), look.size).adjusted(margin, 0, -margin, 0);
    const QSizeF size = laid_out.size();
    const Qt::Alignment align = look.alignment == GridCellModel::kAlignDefault
                                    ? look.default_alignment
                                    : AlignmentOf(look.alignment);
    const QRect placed = QStyle::alignedRect(
        look.direction, align, QSize(qCeil(size.width()), qCeil(size.height())), text_rect);
    QPainter painter(image);
    painter.translate(at);
    painter.fillRect(QRect(QPoint(0, 0), look.size), QColor::fromRgb(look.back));
    painter.setClipRect(text_rect);
    painter.setFont(option.font);
    painter.setPen(QColor::fromRgb(look.pen));
    painter.drawStaticText(placed.topLeft(), laid_out);
  }

  // Byte texts in a few looks; past that the images are made again as they are needed.
  static constexpr size_t kMostImages = 2048;
  const GridCellModel& cells_;
  const bool& own_painting_;
  mutable QFont font_;
  mutable size_t image_count_ = 0;
  mutable std::vector<Images> images_;
};


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
  cell_delegate_ = new GridCellDelegate(*cells_, own_painting_, this);
  setItemDelegate(cell_delegate_);

  QFont font;
  font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("Noto Sans Mono CJK JP")});
  font.setStyleHint(QFont::Monospace);
  font.setPointSize(9);
  setFont(font);
  auto* style = new GridStyle(own_painting_);
  style->setParent(this);
  setStyle(style);
  verticalScrollBar()->setStyle(style);

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
  setHorizontalHeader(new GridHeader(Qt::Horizontal, own_painting_, this));
  setVerticalHeader(new GridHeader(Qt::Vertical, own_painting_, this));
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

// The cells as the table paints them (each cell less its right and bottom pixel, then the
// grid lines over those), without the table's work for every cell: its style option copied,
// the selection looked up, the row's panel and the delegate called through the style. A cell
// that is selected or focused is still drawn the table's way. Anything this grid never sets
// up (another delegate, no grid, alternating colours, right to left, a scaled screen) is left
// to the table.
void FlexGrid::paintEvent(QPaintEvent* event) {
  if (!own_painting_ || itemDelegate() != cell_delegate_ || !showGrid() || alternatingRowColors() ||
      isRightToLeft() || viewport()->devicePixelRatioF() != 1.0) {
    QTableView::paintEvent(event);
    return;
  }
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  const QPen grid_pen(
      QColor(static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this))),
      0, gridStyle());
  const QHeaderView* rows = verticalHeader();
  const QHeaderView* cols = horizontalHeader();
  QPainter painter(viewport());
  if (rows->count() == 0 || cols->count() == 0) return;
  // The last pixel the sections cover.
  const int right_end = cols->length() - cols->offset() - 1;
  const int bottom_end = rows->length() - rows->offset() - 1;
  const QModelIndex current = currentIndex();
  const bool focused = hasFocus() || viewport()->hasFocus();
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  // The region's rectangles never overlap, but a cell may lie across two of them; a marked
  // cell's focus frame must not be drawn over itself.
  QModelIndexList marked_drawn;

  for (QRect dirty : event->region()) {
    dirty.setBottom(std::min(dirty.bottom(), bottom_end));
    dirty.setRight(std::min(dirty.right(), right_end));
    int left = cols->visualIndexAt(dirty.left());
    int right = cols->visualIndexAt(dirty.right());
    if (left == -1) left = 0;
    if (right == -1) right = cols->count() - 1;
    int bottom = rows->visualIndexAt(dirty.bottom());
    if (bottom == -1) bottom = rows->count() - 1;
    const int top = rows->visualIndexAt(dirty.top());
    if (top == -1 || top > bottom) continue;

    for (int visual_row = top; visual_row <= bottom; ++visual_row) {
      const int row = rows->logicalIndex(visual_row);
      if (rows->isSectionHidden(row)) continue;
      const int y = rowViewportPosition(row);
      const int height = rowHeight(row) - 1;
      for (int visual_col = left; visual_col <= right; ++visual_col) {
        const int col = cols->logicalIndex(visual_col);
        if (cols->isSectionHidden(col)) continue;
        option.rect = QRect(columnViewportPosition(col), y, columnWidth(col) - 1, height);
        const QModelIndex index = cells_->index(row, col);
        const bool is_selected = !selected.isEmpty() && selected.contains(index);
        const bool has_focus = focused && index == current;
        if (!is_selected && !has_focus) {
          cell_delegate_->PaintPlain(&painter, option, row + 1, col + 1);
          continue;
        }
        if (marked_drawn.contains(index)) continue;
        marked_drawn.append(index);
        // As the table draws a cell; the model's cells are always enabled.
        QStyleOptionViewItem marked = option;
        if (is_selected) marked.state |= QStyle::State_Selected;
        if (has_focus) marked.state |= QStyle::State_HasFocus;
        if (option.state & QStyle::State_Enabled) {
          marked.palette.setCurrentColorGroup(QPalette::Normal);
        }
        style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &marked, &painter, this);
        cell_delegate_->paint(&painter, marked, index);
      }
    }

    // Solid lines one pixel wide, from edge to edge of the dirty rectangle, are filled as
    // rectangles: the same pixels without the line stroker's work.
    const bool solid = grid_pen.style() == Qt::SolidLine;
    if (!solid) painter.setPen(grid_pen);
    const auto line = [&](int x1, int y1, int x2, int y2) {
      if (solid) {
        painter.fillRect(QRect(QPoint(x1, y1), QPoint(x2, y2)), grid_pen.color());
      } else {
        painter.drawLine(x1, y1, x2, y2);
      }
    };
    for (int visual_row = top; visual_row <= bottom; ++visual_row) {
      const int row = rows->logicalIndex(visual_row);
      if (rows->isSectionHidden(row)) continue;
      const int y = rowViewportPosition(row) + rowHeight(row) - 1;
      line(dirty.left(), y, dirty.right(), y);
    }
    for (int visual_col = left; visual_col <= right; ++visual_col) {
      const int col = cols->logicalIndex(visual_col);
      if (cols->isSectionHidden(col)) continue;
      const int x = columnViewportPosition(col) + columnWidth(col) - 1;
      line(x, dirty.top(), x, dirty.bottom());
    }
  }
}

void FlexGrid::SetOwnPainting(bool on) {
  own_painting_ = on;
  viewport()->update();
  horizontalHeader()->viewport()->update();
  verticalHeader()->viewport()->update();
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
