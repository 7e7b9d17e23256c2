#include "capture_recorder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>

#include "capture/local_address.h"
#include "common/run_time_error.h"

namespace ostrel {
namespace {

using Steady = std::chrono::steady_clock;

int64_t Nanoseconds(Steady::duration d) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
}

// The real-time clock less the steady clock now, in nanoseconds: of a few readings, the
// one whose two steady readings around the real-time one lie closest together.
int64_t RealTimeOffsetNs() {
  Steady::duration best_gap = Steady::duration::max();
  int64_t offset = 0;
  for (int attempt = 0; attempt < 5 && best_gap >= std::chrono::microseconds(1); ++attempt) {
    const auto before = Steady::now();
    const int64_t real = RealTimeNowNs();
    const auto after = Steady::now();
    if (after - before < best_gap) {
      best_gap = after - before;
      offset = real - Nanoseconds((before + best_gap / 2).time_since_epoch());
    }
  }
  return offset;
}

}  // namespace

CaptureRecorder::CaptureRecorder(const std::string& path, PlannedTransmissions planned)
    : file_(path), planned_(std::move(planned)), offset_ns_(RealTimeOffsetNs()) {}

CaptureRecorder::~CaptureRecorder() { WriteHeldTransmission(); }

int64_t CaptureRecorder::RealTime(TimePoint time) const {
  return Nanoseconds(time.time_since_epoch()) + offset_ns_;
}

template <typename Write>
void CaptureRecorder::Guarded(Write&& write) {
  if (failed_) return;
  try {
    write();
  } catch (const std::exception& error) {
    failed_ = true;
    holding_ = false;
    if (failure_) failure_(DescriptionOf(error));
  } catch (...) {
    failed_ = true;
    holding_ = false;
    if (failure_) failure_(desc::kPathAccess);
  }
}

std::string CaptureRecorder::CyclePrefix() const {
  if (cycle_ == 0) return "before the first cycle";
  return (in_cycle_ ? "cycle " : "after cycle ") + std::to_string(cycle_);
}

// A capture started while a cycle ran sees that cycle without its start: it is the first.
void CaptureRecorder::NoteCycleUnderWay() {
  if (cycle_ > 0) return;
  cycle_ = 1;
  in_cycle_ = true;
}

std::string CaptureRecorder::TransmissionText() const {
  return CyclePrefix() + ", transmission " + std::to_string(attempt_) + " of " +
         std::to_string(std::max(planned_now_, attempt_));
}

uint32_t CaptureRecorder::LocalAddressTowards(uint32_t remote) {
  for (const auto& [far, near] : local_addresses_)
    if (far == remote) return near;
  uint32_t local = 0;  // no route there: the packet shows 0.0.0.0 as its own end
  try {
    local = LocalAddressFor({remote, 0});
  } catch (const std::exception&) {
    return local;  // not kept: a route may come
  }
  if (local_addresses_.size() >= 16) local_addresses_.clear();
  local_addresses_.emplace_back(remote, local);
  return local;
}

void CaptureRecorder::WriteHeldTransmission() {
  if (!holding_) return;
  holding_ = false;
  Guarded([&] {
    file_.Write({CaptureDirection::kOutbound, held_from_, held_to_, held_bytes_, RealTime(sent_),
                 held_note_});
  });
}

void CaptureRecorder::CycleStarted() {
  WriteHeldTransmission();
  ++cycle_;
  in_cycle_ = true;
  attempt_ = 0;
  verdict_.clear();
  offset_ns_ = RealTimeOffsetNs();
}

void CaptureRecorder::Transmitted(std::size_t, TimePoint sent, int attempt) {
  WriteHeldTransmission();
  NoteCycleUnderWay();
  attempt_ = attempt;
  sent_ = sent;
  planned_now_ = planned_ ? std::max(planned_(), 1) : 1;
}

void CaptureRecorder::Sent(const DatagramReport& datagram) {
  if (failed_) return;
  held_bytes_.assign(datagram.bytes.begin(), datagram.bytes.end());
  held_from_ = {LocalAddressTowards(datagram.remote_address), datagram.local_port};
  held_to_ = {datagram.remote_address, datagram.remote_port};
  held_note_ = TransmissionText();
  sent_ = datagram.time;
  holding_ = true;
}

void CaptureRecorder::TransmitStamped(TimePoint sent) {
  sent_ = sent;
  WriteHeldTransmission();
}

void CaptureRecorder::TransmissionUnanswered() {
  WriteHeldTransmission();
  Guarded([&] { file_.WriteNote(RealTimeNowNs(), TransmissionText() + ", no answer: time-out"); });
}

void CaptureRecorder::Answered(const AnswerReport& answer) {
  if (!failed_ && answer_note_) verdict_ = answer_note_(answer);
}

void CaptureRecorder::Received(const DatagramReport& datagram, bool answer) {
  WriteHeldTransmission();
  if (answer) NoteCycleUnderWay();
  Guarded([&] {
    std::string note = CyclePrefix();
    if (answer) {
      char rtt[48];
      const double ms = std::max(Nanoseconds(datagram.time - sent_), int64_t{0}) / 1e6;
      std::snprintf(rtt, sizeof rtt, ", answer, rtt %.3f ms", ms);
      note += rtt;
      if (!verdict_.empty()) note += ", " + verdict_;
    } else {
      note += datagram.bytes.empty() ? ", empty datagram, not an answer" : ", not an answer";
    }
    file_.Write({CaptureDirection::kInbound,
                 {datagram.remote_address, datagram.remote_port},
                 {LocalAddressTowards(datagram.remote_address), datagram.local_port},
                 datagram.bytes,
                 RealTime(datagram.time),
                 note});
  });
}

void CaptureRecorder::CycleEnded(CycleOutcome outcome) {
  WriteHeldTransmission();
  NoteCycleUnderWay();
  const char* note = nullptr;
  if (outcome == CycleOutcome::kUnreachable)
    note = ", no reply to the reachability check: nothing sent";
  else if (outcome == CycleOutcome::kError)
    note = ", ended by a run-time error";
  if (note) Guarded([&] { file_.WriteNote(RealTimeNowNs(), CyclePrefix() + note); });
  in_cycle_ = false;
}

}  // namespace ostrel
