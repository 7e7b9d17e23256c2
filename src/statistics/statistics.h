#pragma once
// The running statistics of sending: counters, round-trip times and one record per
// transmission since the last reset, fed by the send cycle and the answer handler as
// their observer. Plain C++, no widgets: the statistics window shows it, the CSV writer
// saves its records.
//
//   SendCycle ──(SendCycleObserver)──► TransmissionStatistics ──► window labels, plot, CSV
//
// A transmission's round-trip time runs from its send (right after the socket took the
// datagram) to the arrival of the datagram that answers it, on the steady clock, in
// whole microseconds (rounded to the nearest). Every event costs O(1) work and memory,
// except the 95th percentile's ordered halves (O(log n) per answer, 4 bytes each). A
// record takes 12 bytes: a week of sending every 100 ms (6 million transmissions) keeps
// about 72 MB of records and 24 MB for the percentile.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "transmission/send_cycle_observer.h"
#include "verification/verdict.h"

namespace ostrel {

// One transmission whose fate is known: answered or not.
struct TransmissionRecord {
  static constexpr uint32_t kUnanswered = UINT32_MAX;

  int64_t sent_ms = 0;  // wall-clock time of the send, ms since the epoch (UTC)
  uint32_t rtt_us = kUnanswered;
  uint16_t bytes_sent = 0;    // the datagram's size (a larger one counts as 65535)
  uint16_t answer_bytes = 0;  // the answer's size; 0 when unanswered
  // The verdict of the cycle this transmission ended (the last of its cycle), while an
  // expectation was set; none otherwise.
  std::optional<Verdict> verdict;

  bool answered() const { return rtt_us != kUnanswered; }
};

// A copy of the records at one moment, cheap to take (it shares every full block of
// records) and safe to read on another thread while the statistics go on.
class RecordSnapshot {
 public:
  size_t size() const { return size_; }
  // Calls `visit` with every record, oldest first.
  void ForEach(const std::function<void(const TransmissionRecord&)>& visit) const;

 private:
  friend class TransmissionStatistics;
  struct Block;
  std::vector<std::shared_ptr<const Block>> blocks_;
  size_t size_ = 0;
};

class TransmissionStatistics final : public SendCycleObserver {
 public:
  using WallClock = std::function<std::chrono::system_clock::time_point()>;

  struct Counters {
    uint64_t cycles = 0;         // send cycles begun
    uint64_t transmissions = 0;  // datagrams sent, retransmissions included
    uint64_t answered = 0;
    uint64_t unanswered = 0;       // answer time ran out, or the cycle ended first
    uint64_t retransmissions = 0;  // transmissions after the first of their cycle
    uint64_t failed_checks = 0;    // reachability checks without reply
    uint64_t unsolicited = 0;      // datagrams that answered no waiting transmission
  };

  // Round-trip times of the answered transmissions, in microseconds.
  struct RttFigures {
    uint32_t last = 0;
    uint32_t min = 0;
    uint32_t max = 0;
    double mean = 0;
    uint32_t p95 = 0;              // nearest rank: the smallest RTT not exceeded by 95 % of them
    std::optional<double> jitter;  // mean |difference| of consecutive RTTs; needs two
  };

  // `wall_clock` stamps each record's send time (the system clock by default).
  explicit TransmissionStatistics(WallClock wall_clock = &std::chrono::system_clock::now);
  ~TransmissionStatistics() override;

  // SendCycleObserver
  void CycleStarted() override;
  void CheckFailed() override;
  void Transmitted(size_t bytes, TimePoint sent, int attempt) override;
  void TransmitStamped(TimePoint sent) override;
  void TransmissionUnanswered() override;
  void Arrived(size_t bytes, TimePoint arrival, bool answer) override;
  void CycleEnded(CycleOutcome outcome) override;

  // The verdict of the cycle that has just ended (after its CycleEnded, or in place of
  // it): counted, and kept with the cycle's last transmission, if it had one.
  void AddVerdict(Verdict verdict);
  // How many cycles ended with each verdict.
  const VerdictCounter& verdicts() const { return verdicts_; }

  // Forgets every counter, time and record. A transmission waiting at the reset belongs
  // to the time before it: its answer or time-out is not counted.
  void Reset();

  const Counters& counters() const { return counters_; }
  // answered / (answered + unanswered) in percent; none before the first is decided.
  std::optional<double> AnswerRatioPercent() const;
  // None before the first answer.
  std::optional<RttFigures> Rtt() const;

  // The records of every decided transmission since the reset, oldest first. A
  // transmission still waiting for its answer has none yet.
  size_t RecordCount() const { return size_; }
  // The newest `count` records (fewer when there are fewer), oldest first.
  std::vector<TransmissionRecord> LastRecords(size_t count) const;
  RecordSnapshot Snapshot() const;

  // Called after every change (from the event that made it). At most one listener;
  // an empty function removes it. While none is set, nothing is called.
  void SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

 private:
  struct Pending {
    TimePoint sent;
    int64_t sent_ms = 0;
    uint16_t bytes = 0;
  };

  void Decide(uint32_t rtt_us, uint16_t answer_bytes);
  void Append(const TransmissionRecord& record);
  void AddRtt(uint32_t rtt_us);
  void Changed();

  WallClock wall_clock_;
  std::function<void()> listener_;
  Counters counters_;
  VerdictCounter verdicts_;
  std::optional<Pending> pending_;
  bool cycle_has_record_ = false;  // the running or last cycle decided a transmission

  // RTT figures.
  uint64_t rtt_sum_ = 0;
  uint64_t jitter_sum_ = 0;
  uint32_t rtt_last_ = 0;
  uint32_t rtt_min_ = 0;
  uint32_t rtt_max_ = 0;
  // The 95th percentile, exact: the lower 95 % of the RTTs in a max-heap, the rest in a
  // min-heap; the lower one's top is the percentile.
  std::vector<uint32_t> lower_;
  std::vector<uint32_t> upper_;

  // Records in blocks; every block but the last is closed (full, or ended where the wall
  // clock jumped beyond its reach) and never changes again, so a snapshot shares it.
  using Block = RecordSnapshot::Block;
  std::vector<std::shared_ptr<Block>> blocks_;
  size_t size_ = 0;
};

}  // namespace ostrel
