#include "cycle_recorder.h"

#include <algorithm>

namespace ostrel {

void CycleRecorder::CycleStarted() {
  current_ = CycleRecord{};
  ended_ = false;
}

void CycleRecorder::Transmitted(std::size_t bytes, TimePoint sent, int attempt) {
  current_.transmissions = attempt;
  current_.sent_bytes = bytes;
  last_sent_ = sent;
}

void CycleRecorder::Arrived(std::size_t bytes, TimePoint arrival, bool answer) {
  if (!answer) return;  // unsolicited: no transmission waited for it
  current_.answer_bytes = bytes;
  const std::chrono::duration<double, std::milli> rtt = arrival - last_sent_;
  current_.rtt_ms = std::max(rtt.count(), 0.0);
}

void CycleRecorder::CycleEnded(CycleOutcome outcome) {
  current_.outcome = outcome;
  ended_ = true;
}

std::optional<CycleRecord> CycleRecorder::TakeEnded() {
  if (!ended_) return std::nullopt;
  ended_ = false;
  return current_;
}

}  // namespace ostrel
