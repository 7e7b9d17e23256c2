#include "frame_pacer.h"

#include <utility>

namespace ostrel {

FramePacer::FramePacer(std::function<void()> show, std::chrono::milliseconds frame)
    : show_(std::move(show)), frame_(frame) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Show(); });
}

void FramePacer::Request() {
  if (timer_.isActive()) return;  // merged into the show already due
  const auto since = Clock::now() - last_show_;
  if (!shown_ || since >= frame_) {
    Show();
    return;
  }
  // The timer counts whole milliseconds: the rest of the frame rounded up, never down.
  timer_.start(std::chrono::ceil<std::chrono::milliseconds>(frame_ - since));
}

void FramePacer::Flush() {
  if (timer_.isActive()) Show();
}

void FramePacer::Show() {
  timer_.stop();
  last_show_ = Clock::now();
  shown_ = true;
  show_();
}

}  // namespace ostrel
