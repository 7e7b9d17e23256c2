#pragma once
// The layout the test window's small dialogs share: a label and a box on each row, the
// buttons at the bottom right (twips).

#include <QRect>

#include "ui/ui_support.h"

namespace ostrel::dialog_rows {

inline constexpr int kClientWidth = 6600;
inline constexpr int kRowHeight = 390;
inline constexpr int kLabelLeft = 120;
inline constexpr int kLabelWidth = 2160;
inline constexpr int kBoxLeft = 2400;
inline constexpr int kBoxWidth = 4080;
inline constexpr int kBoxHeight = 315;

// Row `row` from `left`, `width` wide.
inline QRect Row(int row, int left, int width) {
  return TwipsRect(left, 120 + row * kRowHeight, width, kBoxHeight);
}

}  // namespace ostrel::dialog_rows
