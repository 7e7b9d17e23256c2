#pragma once
// Several watchers of one send cycle: the cycle reports to one observer, this one hands
// every report on to each watcher in the order they were added (the statistics, a
// verdict's judge, a capture file, …).

#include <algorithm>
#include <vector>

#include "transmission/send_cycle_observer.h"

namespace ostrel {

class ObserverFanOut final : public SendCycleObserver {
 public:
  // `observer` must outlive its place here, or be removed first. Adding one twice adds it
  // once.
  void Add(SendCycleObserver* observer) {
    if (observer && std::find(list_.begin(), list_.end(), observer) == list_.end())
      list_.push_back(observer);
  }
  void Remove(SendCycleObserver* observer) { std::erase(list_, observer); }
  bool Empty() const { return list_.empty(); }

  void CycleStarted() override { Each([](SendCycleObserver& o) { o.CycleStarted(); }); }
  void CheckFailed() override { Each([](SendCycleObserver& o) { o.CheckFailed(); }); }
  void Transmitted(size_t bytes, TimePoint sent, int attempt) override {
    Each([&](SendCycleObserver& o) { o.Transmitted(bytes, sent, attempt); });
  }
  void TransmitStamped(TimePoint sent) override {
    Each([&](SendCycleObserver& o) { o.TransmitStamped(sent); });
  }
  void TransmissionUnanswered() override {
    Each([](SendCycleObserver& o) { o.TransmissionUnanswered(); });
  }
  void Arrived(size_t bytes, TimePoint arrival, bool answer) override {
    Each([&](SendCycleObserver& o) { o.Arrived(bytes, arrival, answer); });
  }
  void Answered(const AnswerReport& answer) override {
    Each([&](SendCycleObserver& o) { o.Answered(answer); });
  }
  void Sent(const DatagramReport& datagram) override {
    Each([&](SendCycleObserver& o) { o.Sent(datagram); });
  }
  void Received(const DatagramReport& datagram, bool answer) override {
    Each([&](SendCycleObserver& o) { o.Received(datagram, answer); });
  }
  void CycleEnded(CycleOutcome outcome) override {
    Each([&](SendCycleObserver& o) { o.CycleEnded(outcome); });
  }

 private:
  template <typename Call>
  void Each(Call call) {
    // A copy: a watcher may remove itself (or another) while it is told.
    const std::vector<SendCycleObserver*> now = list_;
    for (SendCycleObserver* observer : now)
      if (std::find(list_.begin(), list_.end(), observer) != list_.end()) call(*observer);
  }

  std::vector<SendCycleObserver*> list_;
};

}  // namespace ostrel
