#pragma once
// Shows something at most once per frame of the screen. The first request after a quiet
// frame is shown at once, inside the call, so a lone change looks exactly as if it were
// shown directly; requests that follow within the frame are merged into one show at the
// frame's end. Whoever shows keeps the newest values itself: the show callback reads them.

#include <QTimer>
#include <chrono>
#include <functional>

namespace ostrel {

class FramePacer {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kFrame{16};

  explicit FramePacer(std::function<void()> show, std::chrono::milliseconds frame = kFrame);

  // Shows now when the last show is at least a frame ago, else once at that frame's end.
  void Request();
  // Shows a merged request now instead of at the frame's end.
  void Flush();
  bool Pending() const { return timer_.isActive(); }

 private:
  void Show();

  std::function<void()> show_;
  std::chrono::milliseconds frame_;
  Clock::time_point last_show_{};
  bool shown_ = false;
  QTimer timer_;
};

}  // namespace ostrel
