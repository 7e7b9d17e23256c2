#include "ctrl_led.h"

#include <QPainter>
#include <array>

#include "logging/error_handler.h"

namespace ostrel {
namespace {

struct LedState {
  int16_t state;
  uint32_t color;  // 0x00BBGGRR
};
constexpr std::array<LedState, 3> kLedStates{{
    {kLedOff, 0x000000},
    {kLedGreen, 0x00FF00},
    {kLedRed, 0x0000FF},
}};

QColor ToQColor(uint32_t bgr) {
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                static_cast<int>((bgr >> 16) & 0xFF));
}

}  // namespace

LedShape::LedShape(QWidget* parent) : QWidget(parent) {}

// The same colour again repaints nothing: a stream of answers sets it at every frame.
void LedShape::SetBackColor(uint32_t color) {
  if (color == back_color_) return;
  back_color_ = color;
  update();
}

void LedShape::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(ToQColor(back_color_));
  // A circle of the shape's height, centred in its box.
  const int d = std::min(width(), height()) - 1;
  painter.drawEllipse(QRectF((width() - d) / 2.0, (height() - d) / 2.0, d, d));
}

int64_t LedColor(int16_t state) {
  for (const auto& s : kLedStates) {
    if (s.state == state) return s.color;
  }
  return -1;
}

void CtrlLed(LedShape& shape, int16_t state) {
  RunHandled("CtrlLed", [&] {
    const int64_t color = LedColor(state);
    if (color >= 0) shape.SetBackColor(static_cast<uint32_t>(color));
  });
}

}  // namespace ostrel
