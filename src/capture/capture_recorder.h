#pragma once
// Writes what a send cycle sends and receives into a capture file, with what the cycle
// knows of each datagram as its note:
//
//   SendCycle ──► ObserverFanOut ──► CaptureRecorder ──► CaptureFile (pcapng)
//
//   outbound  "cycle 12, transmission 2 of 3"
//   inbound   "cycle 12, answer, rtt 0.412 ms" (with ", 判定:一致" when a verdict is known),
//             "cycle 12, not an answer" ("after cycle 12, …" between cycles)
//   notes     "cycle 12, transmission 2 of 3, no answer: time-out",
//             "cycle 12, no reply to the reachability check: nothing sent",
//             "cycle 12, ended by a run-time error"
//
// The outbound packet's source is the local address the kernel chooses for the destination
// and the port the socket is bound to; an inbound packet's source is its sender, its
// destination the local address the kernel uses towards that sender. Times are the cycle's
// (the kernel's stamps where the socket has them) on the real-time clock. A transmission
// is written once its kernel stamp can no longer change (at the next report of the cycle),
// so its packet carries the stamp that came after the send call returned.
//
// The recorder never raises into the cycle: the first write that fails (a full disk) ends
// the capture, Failure hears of it once, and every later report is ignored.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "capture/capture_file.h"
#include "transmission/send_cycle_observer.h"

namespace ostrel {

class CaptureRecorder final : public SendCycleObserver {
 public:
  // The verdict's text for a cycle's answer ("判定:一致"), "" when none is known.
  using AnswerNote = std::function<std::string(const AnswerReport&)>;
  // The transmissions a cycle makes at most (the retry setting, read at every transmission).
  using PlannedTransmissions = std::function<int()>;
  // Hears the description of the write that ended the capture.
  using Failure = std::function<void(const std::string& description)>;

  // Opens the capture file at `path` (CaptureFile's errors are raised).
  CaptureRecorder(const std::string& path, PlannedTransmissions planned);
  // Writes a transmission still held back; never raises.
  ~CaptureRecorder() override;

  void SetAnswerNote(AnswerNote note) { answer_note_ = std::move(note); }
  void SetFailure(Failure failure) { failure_ = std::move(failure); }

  // True once a write failed: nothing more goes into the file.
  bool Failed() const { return failed_; }

  // SendCycleObserver
  void CycleStarted() override;
  void Transmitted(std::size_t bytes, TimePoint sent, int attempt) override;
  void TransmitStamped(TimePoint sent) override;
  void TransmissionUnanswered() override;
  void Answered(const AnswerReport& answer) override;
  void Sent(const DatagramReport& datagram) override;
  void Received(const DatagramReport& datagram, bool answer) override;
  void CycleEnded(CycleOutcome outcome) override;

 private:
  // Runs `write` unless the capture failed; a failure ends the capture and is reported.
  template <typename Write>
  void Guarded(Write&& write);
  void WriteHeldTransmission();
  // The cycle's steady-clock time on the real-time clock, in nanoseconds since 1970.
  int64_t RealTime(TimePoint time) const;
  std::string CyclePrefix() const;
  void NoteCycleUnderWay();
  std::string TransmissionText() const;
  // The local address the kernel uses towards `remote`, learnt once per address.
  uint32_t LocalAddressTowards(uint32_t remote);

  CaptureFile file_;
  PlannedTransmissions planned_;
  AnswerNote answer_note_;
  Failure failure_;
  bool failed_ = false;

  int64_t offset_ns_ = 0;  // real-time clock less steady clock, taken at each cycle's start
  int64_t cycle_ = 0;      // cycles seen since the capture began
  bool in_cycle_ = false;
  int attempt_ = 0;
  int planned_now_ = 1;
  TimePoint sent_{};  // of the latest transmission
  std::string verdict_;

  // The latest transmission, until its kernel stamp can no longer change.
  bool holding_ = false;
  std::vector<uint8_t> held_bytes_;
  CaptureEndpoint held_from_, held_to_;
  std::string held_note_;

  std::vector<std::pair<uint32_t, uint32_t>> local_addresses_;  // remote, local
};

}  // namespace ostrel
