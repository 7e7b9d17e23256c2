#include "statistics.h"

#include <algorithm>
#include <functional>

namespace ostrel {

// Records as they are kept: the send time relative to the block's base.
struct RecordSnapshot::Block {
  static constexpr size_t kCapacity = size_t{1} << 16;
  struct Packed {
    uint32_t offset_ms;
    uint32_t rtt_us;
    uint16_t bytes_sent;
    uint16_t answer_bytes;
  };
  static_assert(sizeof(Packed) == 12);

  int64_t base_ms = 0;
  std::vector<Packed> records;
  // The verdict of each record plus one (0: none); empty until a record of the block gets
  // one, and no longer than up to the last that did, so sending without an expectation
  // costs nothing here.
  std::vector<uint8_t> verdicts;

  TransmissionRecord At(size_t i) const {
    const Packed& p = records[i];
    TransmissionRecord record{base_ms + p.offset_ms, p.rtt_us, p.bytes_sent, p.answer_bytes, {}};
    if (i < verdicts.size() && verdicts[i] != 0)
      record.verdict = static_cast<Verdict>(verdicts[i] - 1);
    return record;
  }
};

void RecordSnapshot::ForEach(const std::function<void(const TransmissionRecord&)>& visit) const {
  for (const auto& block : blocks_)
    for (size_t i = 0; i < block->records.size(); ++i) visit(block->At(i));
}

namespace {

uint16_t Clamp16(size_t value) {
  return static_cast<uint16_t>(std::min<size_t>(value, UINT16_MAX));
}

// Whole microseconds from `from` to `to`, rounded to the nearest. An answer stamped
// before its send (the kernel can take it in while the send call is still returning)
// counts as 0.
uint32_t Microseconds(SendCycleObserver::TimePoint from, SendCycleObserver::TimePoint to) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count();
  if (ns <= 0) return 0;
  const auto us = (static_cast<uint64_t>(ns) + 500) / 1000;
  return static_cast<uint32_t>(std::min<uint64_t>(us, TransmissionRecord::kUnanswered - 1));
}

// The rank of the 95th percentile among `n` values, from 1: ceil(0.95 n).
uint64_t PercentileRank(uint64_t n) { return (95 * n + 99) / 100; }

}  // namespace

TransmissionStatistics::TransmissionStatistics(WallClock wall_clock)
    : wall_clock_(std::move(wall_clock)) {}

TransmissionStatistics::~TransmissionStatistics() = default;

void TransmissionStatistics::CycleStarted() {
  cycle_has_record_ = false;
  ++counters_.cycles;
  Changed();
}

void TransmissionStatistics::CheckFailed() {
  ++counters_.failed_checks;
  Changed();
}

void TransmissionStatistics::Transmitted(size_t bytes, TimePoint sent, int attempt) {
  if (pending_) Decide(TransmissionRecord::kUnanswered, 0);  // a report went missing
  ++counters_.transmissions;
  if (attempt > 1) ++counters_.retransmissions;
  const auto wall = std::chrono::time_point_cast<std::chrono::milliseconds>(wall_clock_());
  pending_ = Pending{sent, wall.time_since_epoch().count(), Clamp16(bytes)};
  Changed();
}

void TransmissionStatistics::TransmitStamped(TimePoint sent) {
  if (pending_) pending_->sent = sent;
}

void TransmissionStatistics::TransmissionUnanswered() {
  if (!pending_) return;
  Decide(TransmissionRecord::kUnanswered, 0);
  Changed();
}

void TransmissionStatistics::Arrived(size_t bytes, TimePoint arrival, bool answer) {
  if (!answer) {
    ++counters_.unsolicited;
  } else if (pending_) {
    Decide(Microseconds(pending_->sent, arrival), Clamp16(bytes));
  } else {
    return;  // answers a transmission from before the reset
  }
  Changed();
}

void TransmissionStatistics::CycleEnded(CycleOutcome) {
  // A transmission still waiting when its cycle ends (a run-time error) is not
  // answered: a datagram arriving later no longer counts for it.
  if (!pending_) return;
  Decide(TransmissionRecord::kUnanswered, 0);
  Changed();
}

void TransmissionStatistics::Decide(uint32_t rtt_us, uint16_t answer_bytes) {
  const Pending pending = *pending_;
  pending_.reset();
  if (rtt_us == TransmissionRecord::kUnanswered) {
    ++counters_.unanswered;
  } else {
    ++counters_.answered;
    AddRtt(rtt_us);
  }
  Append({pending.sent_ms, rtt_us, pending.bytes, answer_bytes, {}});
  cycle_has_record_ = true;
}

void TransmissionStatistics::AddVerdict(Verdict verdict) {
  if (pending_) Decide(TransmissionRecord::kUnanswered, 0);  // as CycleEnded does
  verdicts_.Add(verdict);
  if (cycle_has_record_ && !blocks_.empty()) {
    // The cycle's last transmission is the newest record, always in the last block.
    Block& block = *blocks_.back();
    block.verdicts.resize(block.records.size(), 0);
    block.verdicts.back() = static_cast<uint8_t>(static_cast<int>(verdict) + 1);
  }
  cycle_has_record_ = false;  // one verdict per cycle
  Changed();
}

void TransmissionStatistics::AddRtt(uint32_t rtt) {
  const uint64_t n = counters_.answered;  // this one included
  if (n == 1) {
    rtt_min_ = rtt_max_ = rtt;
  } else {
    rtt_min_ = std::min(rtt_min_, rtt);
    rtt_max_ = std::max(rtt_max_, rtt);
    jitter_sum_ += rtt > rtt_last_ ? rtt - rtt_last_ : rtt_last_ - rtt;
  }
  rtt_last_ = rtt;
  rtt_sum_ += rtt;

  constexpr auto below = std::less<uint32_t>();     // max-heap order
  constexpr auto above = std::greater<uint32_t>();  // min-heap order
  if (lower_.empty() || rtt <= lower_.front()) {
    lower_.push_back(rtt);
    std::push_heap(lower_.begin(), lower_.end(), below);
  } else {
    upper_.push_back(rtt);
    std::push_heap(upper_.begin(), upper_.end(), above);
  }
  // The rank grows by at most one per value, so one move restores the split.
  const uint64_t rank = PercentileRank(n);
  if (lower_.size() > rank) {
    std::pop_heap(lower_.begin(), lower_.end(), below);
    upper_.push_back(lower_.back());
    lower_.pop_back();
    std::push_heap(upper_.begin(), upper_.end(), above);
  } else if (lower_.size() < rank) {
    std::pop_heap(upper_.begin(), upper_.end(), above);
    lower_.push_back(upper_.back());
    upper_.pop_back();
    std::push_heap(lower_.begin(), lower_.end(), below);
  }
}

void TransmissionStatistics::Append(const TransmissionRecord& record) {
  Block* block = blocks_.empty() ? nullptr : blocks_.back().get();
  const auto fits = [&](const Block& b) {
    const int64_t offset = record.sent_ms - b.base_ms;
    return b.records.size() < Block::kCapacity && offset >= 0 && offset <= int64_t{UINT32_MAX};
  };
  if (!block || !fits(*block)) {
    blocks_.push_back(std::make_shared<Block>());
    block = blocks_.back().get();
    block->base_ms = record.sent_ms;
  }
  block->records.push_back({static_cast<uint32_t>(record.sent_ms - block->base_ms), record.rtt_us,
                            record.bytes_sent, record.answer_bytes});
  ++size_;
}

void TransmissionStatistics::Reset() {
  counters_ = {};
  verdicts_.Reset();
  cycle_has_record_ = false;
  pending_.reset();
  rtt_sum_ = jitter_sum_ = 0;
  rtt_last_ = rtt_min_ = rtt_max_ = 0;
  std::vector<uint32_t>().swap(lower_);  // gives the memory back
  std::vector<uint32_t>().swap(upper_);
  blocks_.clear();
  blocks_.shrink_to_fit();
  size_ = 0;
  Changed();
}

std::optional<double> TransmissionStatistics::AnswerRatioPercent() const {
  const uint64_t decided = counters_.answered + counters_.unanswered;
  if (decided == 0) return std::nullopt;
  return 100.0 * static_cast<double>(counters_.answered) / static_cast<double>(decided);
}

std::optional<TransmissionStatistics::RttFigures> TransmissionStatistics::Rtt() const {
  const uint64_t n = counters_.answered;
  if (n == 0) return std::nullopt;
  RttFigures figures;
  figures.last = rtt_last_;
  figures.min = rtt_min_;
  figures.max = rtt_max_;
  figures.mean = static_cast<double>(rtt_sum_) / static_cast<double>(n);
  figures.p95 = lower_.front();
  if (n >= 2) figures.jitter = static_cast<double>(jitter_sum_) / static_cast<double>(n - 1);
  return figures;
}

std::vector<TransmissionRecord> TransmissionStatistics::LastRecords(size_t count) const {
  count = std::min(count, size_);
  std::vector<TransmissionRecord> records(count);
  size_t filled = count;  // filled from the back
  for (auto block = blocks_.rbegin(); block != blocks_.rend() && filled > 0; ++block) {
    for (size_t i = (*block)->records.size(); i > 0 && filled > 0; --i)
      records[--filled] = (*block)->At(i - 1);
  }
  return records;
}

RecordSnapshot TransmissionStatistics::Snapshot() const {
  RecordSnapshot snapshot;
  snapshot.size_ = size_;
  snapshot.blocks_.reserve(blocks_.size());
  for (size_t i = 0; i < blocks_.size(); ++i) {
    // The last block still grows: it is copied; the closed ones are shared.
    if (i + 1 == blocks_.size())
      snapshot.blocks_.push_back(std::make_shared<const Block>(*blocks_[i]));
    else
      snapshot.blocks_.push_back(blocks_[i]);
  }
  return snapshot;
}

void TransmissionStatistics::Changed() {
  if (listener_) listener_();
}

}  // namespace ostrel
