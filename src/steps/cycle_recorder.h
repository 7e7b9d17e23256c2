#pragma once
// What one send cycle did, as its observer hears it: transmissions, bytes, the answer's
// round-trip time and (filled in by whoever judges) the verdict. ostrel-send prints it;
// the steps table of the test window shows it.

#include <cstddef>
#include <optional>

#include "transmission/send_cycle_observer.h"
#include "verification/verdict.h"

namespace ostrel {

// One ended cycle.
struct CycleRecord {
  CycleOutcome outcome = CycleOutcome::kError;
  int transmissions = 0;
  std::size_t sent_bytes = 0;               // of the latest transmission; 0 when none
  std::optional<std::size_t> answer_bytes;  // of the datagram that answered
  std::optional<double> rtt_ms;             // its arrival less the answered transmission's send
  std::optional<Judgement> judgement;       // the verdict, when an expectation was set
};

// Listens to a send cycle and keeps the record of the one under way.
class CycleRecorder final : public SendCycleObserver {
 public:
  void CycleStarted() override;
  void Transmitted(std::size_t bytes, TimePoint sent, int attempt) override;
  void TransmitStamped(TimePoint sent) override { last_sent_ = sent; }
  void Arrived(std::size_t bytes, TimePoint arrival, bool answer) override;
  void CycleEnded(CycleOutcome outcome) override;

  // The record of the cycle that ended since the last CycleStarted, once; nullopt when
  // none did (the cycle was abandoned).
  std::optional<CycleRecord> TakeEnded();
  // What the cycle under way, or abandoned, has done so far.
  const CycleRecord& Unfinished() const { return current_; }

 private:
  CycleRecord current_;
  TimePoint last_sent_{};
  bool ended_ = false;
};

}  // namespace ostrel
