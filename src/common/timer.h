#pragma once
// A timer with the semantics the program relies on, on top of QTimer:
// - Interval is 0..65535 milliseconds; anything else raises the invalid-property-value
//   error and leaves the timer as it was;
// - an enabled timer with interval 0 never ticks;
// - setting Enabled to true starts a fresh interval, also when it was enabled already;
// - ticks run on the thread's event loop (the user-interface thread).

#include <QObject>
#include <QTimer>
#include <cstdint>

namespace ostrel {

class Timer : public QObject {
  Q_OBJECT

 public:
  explicit Timer(QObject* parent = nullptr);

  int32_t Interval() const { return interval_; }
  // Raises RunTimeError(desc::kInvalidPropertyValue) outside 0..65535.
  void SetInterval(int64_t milliseconds);

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

 signals:
  // One tick.
  void Tick();

 private:
  void Restart();

  QTimer timer_;
  int32_t interval_ = 0;
  bool enabled_ = false;
};

}  // namespace ostrel
