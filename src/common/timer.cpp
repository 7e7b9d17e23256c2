#include "timer.h"

#include "run_time_error.h"

namespace ostrel {

Timer::Timer(QObject* parent) : QObject(parent) {
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &Timer::Tick);
}

void Timer::SetInterval(int64_t milliseconds) {
  if (milliseconds < 0 || milliseconds > 65535) throw RunTimeError(desc::kInvalidPropertyValue);
  interval_ = static_cast<int32_t>(milliseconds);
  Restart();
}

void Timer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Restart();
}

void Timer::Restart() {
  if (enabled_ && interval_ > 0) {
    timer_.start(interval_);
  } else {
    timer_.stop();
  }
}

}  // namespace ostrel
