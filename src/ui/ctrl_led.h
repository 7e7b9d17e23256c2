#pragma once
// The send and receive indicators: opaque circles whose colour shows a state.

#include <QWidget>
#include <cstdint>

namespace ostrel {

// An opaque circle filled with its back colour (0x00BBGGRR, black at first).
class LedShape : public QWidget {
  Q_OBJECT

 public:
  explicit LedShape(QWidget* parent = nullptr);
  uint32_t BackColor() const { return back_color_; }
  void SetBackColor(uint32_t color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  uint32_t back_color_ = 0;
};

// Indicator states and their colours.
inline constexpr int16_t kLedOff = 0;    // black
inline constexpr int16_t kLedGreen = 1;  // transmitted, or answer received
inline constexpr int16_t kLedRed = 2;    // gave up, unanswered, or a run-time error

// Sets `shape` to the colour of `state`; any other state leaves it as it was.
void CtrlLed(LedShape& shape, int16_t state);

// The colour of a state, or -1 for a state without one.
int64_t LedColor(int16_t state);

}  // namespace ostrel
