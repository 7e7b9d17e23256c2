#pragma once
// What a send cycle reports to whoever watches it beyond the window: the statistics
// window, or the terminal program that prints each cycle. The reports are facts the cycle
// already knows; watching changes nothing of the cycle, its log lines or its view. Every
// call runs on the event-loop thread, inside the cycle or the answer handler, and must
// not start a cycle itself.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

namespace ostrel {

// How a send cycle ended.
enum class CycleOutcome {
  kAnswered,     // a transmission was answered
  kUnanswered,   // every transmission's answer time ran out ("リトライオーバー(送信時)")
  kUnreachable,  // every reachability check failed; nothing was sent
  kError,        // a run-time error ended the cycle (logged under "(SendUdpData)")
};

// The datagram a cycle took as its answer, with where it came from and where the
// transmission it answers went (IPv4 addresses in host byte order). `bytes` is valid
// during the report only.
struct AnswerReport {
  std::span<const uint8_t> bytes;
  uint32_t sender_address = 0;
  uint16_t sender_port = 0;
  uint32_t destination_address = 0;
  uint16_t destination_port = 0;
  std::chrono::steady_clock::time_point arrival{};
};

// A datagram whole, as it went out or came in, for watchers that keep the traffic itself:
// the far end (IPv4 address in host byte order, port), the socket's own port as bound (the
// kernel's choice where port 0 was asked for) and the time the cycle reports for it.
// `bytes` is valid during the report only.
struct DatagramReport {
  std::span<const uint8_t> bytes;
  uint32_t remote_address = 0;
  uint16_t remote_port = 0;
  uint16_t local_port = 0;
  std::chrono::steady_clock::time_point time{};
};

class SendCycleObserver {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~SendCycleObserver() = default;

  // A cycle begins (before its first reachability check).
  virtual void CycleStarted() {}
  // One reachability check found no reply.
  virtual void CheckFailed() {}
  // A datagram of `bytes` bytes went out at `sent`: the kernel's transmit time where it
  // came with the send, else the moment right before the send call. `attempt` counts the
  // transmissions of this cycle from 1; above 1 is a retransmission.
  virtual void Transmitted(size_t bytes, TimePoint sent, int attempt) {
    (void)bytes, (void)sent, (void)attempt;
  }
  // The kernel's transmit time of the latest transmission, when it came only after
  // Transmitted: it replaces that `sent`. Reported before the Arrived that answers it.
  virtual void TransmitStamped(TimePoint sent) { (void)sent; }
  // The answer time of the latest transmission ran out without an answer.
  virtual void TransmissionUnanswered() {}
  // A datagram of `bytes` bytes arrived at `arrival` (the kernel's receive time where the
  // socket has it). `answer` is true for the first datagram of at least one byte after a
  // transmission that still waits: that one answers it. Every other arrival (no
  // transmission waits, a second datagram, an empty one) is unsolicited.
  virtual void Arrived(size_t bytes, TimePoint arrival, bool answer) {
    (void)bytes, (void)arrival, (void)answer;
  }
  // The datagram Arrived just reported with `answer` true, whole: the cycle's answer.
  virtual void Answered(const AnswerReport& answer) { (void)answer; }
  // The datagram Transmitted just reported, whole; its time is Transmitted's `sent`.
  virtual void Sent(const DatagramReport& datagram) { (void)datagram; }
  // Every datagram Arrived reported, whole (after Answered where it is the answer); its
  // time is Arrived's `arrival`.
  virtual void Received(const DatagramReport& datagram, bool answer) {
    (void)datagram, (void)answer;
  }
  // The cycle has ended.
  virtual void CycleEnded(CycleOutcome outcome) { (void)outcome; }
};

}  // namespace ostrel
