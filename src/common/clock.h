#pragma once
// The local clock, behind a small interface so tests can stop time.

#include <memory>

namespace ostrel {

// A local date and time as the log and the labels show it.
struct LocalTime {
  int year = 0;  // four digits
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() const = 0;
};

// The real local time of the machine (localtime_r of the system clock).
class SystemClock final : public Clock {
 public:
  LocalTime Now() const override;
};

// The clock the program reads. Starts as a SystemClock; tests may install their own,
// which must stay alive while it is installed. Passing nullptr restores the system clock.
const Clock& CurrentClock();
void SetCurrentClock(const Clock* clock);

// A clock that always returns the time set on it.
class FixedClock final : public Clock {
 public:
  explicit FixedClock(LocalTime time) : time_(time) {}
  void Set(LocalTime time) { time_ = time; }
  LocalTime Now() const override { return time_; }

 private:
  LocalTime time_;
};

}  // namespace ostrel
