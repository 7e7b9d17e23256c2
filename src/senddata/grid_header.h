#pragma once
// A header of the byte grid: fixed section sizes and a fixed thickness, and sections copied
// from images of them made once.

#include <QHash>
#include <QHeaderView>
#include <QPixmap>
#include <vector>

namespace ostrel {

class GridHeader : public QHeaderView {
 public:
  // While `own_painting` is false the header paints as QHeaderView does, image by image
  // never; tests compare the two.
  GridHeader(Qt::Orientation orientation, const bool& own_painting, QWidget* parent);

 protected:
  QSize sectionSizeFromContents(int logical_index) const override;
  void paintSection(QPainter* painter, const QRect& rect, int logical_index) const override;

 private:
  // Everything a section's image shows besides its text.
  struct Look {
    QSize size;
    int state;
    int position;
    int selected_position;
    int sort_indicator;
    int text_alignment;
    int direction;
    qint64 palette;
    QFont font;
    const QStyle* style;
    bool operator==(const Look&) const = default;
  };

  const bool& own_painting_;
  // By text, each in the looks it was painted in; emptied when it holds kMostImages.
  mutable QHash<QString, std::vector<std::pair<Look, QPixmap>>> images_;
  mutable int image_count_ = 0;
  static constexpr int kMostImages = 1024;
};

}  // namespace ostrel
