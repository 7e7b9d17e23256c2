#include "grid_header.h"

#include <QPainter>
#include <QStyleOptionHeaderV2>

namespace ostrel {

GridHeader::GridHeader(Qt::Orientation orientation, const bool& own_painting, QWidget* parent)
    : QHeaderView(orientation, parent), own_painting_(own_painting) {}

// The view asks for the header's size hint whenever the row count changes; with fixed sizes
// the hint is never used, so the texts of up to 200 sections are not measured for it.
QSize GridHeader::sectionSizeFromContents(int) const {
  return orientation() == Qt::Vertical ? QSize(width(), defaultSectionSize())
                                       : QSize(defaultSectionSize(), height());
}

// A stream of answers changes the row count at every frame, and the header repaints all its
// visible sections each time, though their texts stay the same: laying out and drawing the
// same few row numbers again was a tenth of the cost of showing the stream. A section's
// image is QHeaderView's own drawing of it, over the background the header's viewport
// erases to, made once for its text and look and then copied whole.
void GridHeader::paintSection(QPainter* painter, const QRect& rect, int logical_index) const {
  if (!rect.isValid()) return;
  QStyleOptionHeaderV2 option;
  initStyleOption(&option);
  const QBrush button = option.palette.brush(QPalette::Button);
  const QBrush window = option.palette.brush(QPalette::Window);
  initStyleOptionForIndex(&option, logical_index);
  // Drawn in place where the drawing depends on where the section lies: a brush of its own
  // (its origin is the section's corner), an icon, a scaled painter.
  if (!own_painting_ || !option.icon.isNull() || option.palette.brush(QPalette::Button) != button ||
      option.palette.brush(QPalette::Window) != window ||
      painter->transform().type() > QTransform::TxTranslate ||
      painter->device()->devicePixelRatioF() != 1.0) {
    QHeaderView::paintSection(painter, rect, logical_index);
    return;
  }
  const Look look{rect.size(),
                  static_cast<int>(option.state),
                  option.position,
                  option.selectedPosition,
                  option.sortIndicator,
                  static_cast<int>(option.textAlignment),
                  static_cast<int>(option.direction),
                  option.palette.cacheKey(),
                  painter->font(),
                  style()};
  auto& looks = images_[option.text];
  for (const auto& [seen, image] : looks) {
    if (seen == look) {
      painter->drawPixmap(rect.topLeft(), image);
      return;
    }
  }
  if (++image_count_ > kMostImages) {
    images_.clear();
    image_count_ = 1;
  }
  QPixmap image(rect.size());
  {
    QPainter drawing(&image);
    drawing.fillRect(image.rect(), viewport()->palette().brush(viewport()->backgroundRole()));
    drawing.setFont(painter->font());
    drawing.setLayoutDirection(painter->layoutDirection());
    QHeaderView::paintSection(&drawing, image.rect(), logical_index);
  }
  painter->drawPixmap(rect.topLeft(), image);
  images_[option.text].emplace_back(look, std::move(image));
}

}  // namespace ostrel
