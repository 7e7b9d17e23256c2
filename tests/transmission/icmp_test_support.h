#pragma once
// Test helpers for the reachability check: a scripted ICMP endpoint, and network
// namespaces of the test's own (a host that ignores echo requests, without root nothing).

#include <QtGlobal>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "transmission/icmp_endpoint.h"
#include "transmission/ping_check.h"

namespace ostrel::test {

// What a PingCheck run to its end gave.
struct Outcome {
  int finished = 0;  // Finished signals seen
  bool reachable = false;
  qint64 elapsed_ms = 0;
};

// Starts `check` on `host` with `tries` tries and runs the event loop until it finishes
// (and a little longer, where a second Finished would show up).
Outcome RunCheck(PingCheck& check, const std::string& host, uint8_t tries);

// The result of a whole check of `host` over exchanges or endpoints from `factory`.
template <typename Factory>
bool Reachable(const std::string& host, uint8_t tries, Factory factory) {
  PingCheck check(std::move(factory));
  return RunCheck(check, host, tries).reachable;
}

// What the scripted network answers to each echo request.
enum class Answer { kSilence, kEchoReply, kFromOtherAddress, kOtherIdentifier, kOwnRequest };

// The script and the record of FakeIcmp endpoints. The endpoint waits on a real socket
// pair, so poll and socket notifiers work on it as on an ICMP socket.
struct FakeIcmp {
  IcmpSocketKind kind = IcmpSocketKind::kRaw;
  Answer answer = Answer::kEchoReply;
  bool open_fails = false;
  bool send_fails = false;
  bool receive_fails = false;
  int made = 0;  // endpoints asked for
  int opens = 0;
  int closes = 0;
  std::vector<std::vector<uint8_t>> requests;  // sent or refused
  std::vector<in_addr> destinations;
  // Makes endpoints that follow this script; it must outlive them.
  IcmpEndpointFactory Factory();
};

// Counts what passes through real ICMP sockets of `choice`.
IcmpEndpointFactory CountingSystemEndpoints(
    FakeIcmp& record,
    SystemIcmpEndpoint::Choice choice = SystemIcmpEndpoint::Choice::kDatagramThenRaw);

// Empty when this process can open a real ICMP socket, else why not.
std::string WhyNoIcmpSocket();

// A network namespace "ostrel-test-<pid>-<n>" with only lo, up; removed on destruction.
// The calling thread works inside it while an Inside object lives.
class TestNamespace {
 public:
  // Empty when namespaces can be made here (root and `ip`), else why not.
  static std::string WhyUnavailable();
  explicit TestNamespace(bool ignore_echo_requests);
  ~TestNamespace();
  bool ok() const { return ok_; }
  // `sysctl -w setting` inside the namespace.
  bool Sysctl(const std::string& setting) const;

  class Inside {
   public:
    explicit Inside(const TestNamespace& ns);
    ~Inside();
    bool ok() const { return ok_; }

   private:
    int home_ = -1;
    bool ok_ = false;
  };

 private:
  std::string name_;
  bool ok_ = false;
};

}  // namespace ostrel::test
