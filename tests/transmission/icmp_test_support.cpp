#include "icmp_test_support.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <cerrno>
#include <cstdlib>
#include <deque>

namespace ostrel::test {

Outcome RunCheck(PingCheck& check, const std::string& host, uint8_t tries) {
  QSignalSpy spy(&check, &PingCheck::Finished);
  QElapsedTimer clock;
  clock.start();
  check.Start(host, tries);
  EXPECT_EQ(spy.count(), 0) << "Finished inside Start";
  spy.wait(10000);
  Outcome outcome{static_cast<int>(spy.count()), false, clock.elapsed()};
  QTest::qWait(20);  // a second Finished would show up here
  outcome.finished = static_cast<int>(spy.count());
  if (outcome.finished > 0) outcome.reachable = spy.at(0).at(0).toBool();
  return outcome;
}
namespace {

class FakeEndpoint final : public IcmpEndpoint {
 public:
  explicit FakeEndpoint(FakeIcmp& script) : script_(script) {}
  ~FakeEndpoint() override { Close(); }

  bool Open() override {
    if (script_.open_fails ||
        socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds_) != 0) {
      return false;
    }
    ++script_.opens;
    return true;
  }
  void Close() override {
    if (fds_[0] < 0) return;
    close(fds_[0]);
    close(fds_[1]);
    fds_[0] = fds_[1] = -1;
    ++script_.closes;
  }
  IcmpSocketKind Kind() const override { return script_.kind; }
  int Descriptor() const override { return fds_[0]; }

  bool Send(in_addr to, std::span<const uint8_t> message) override {
    script_.requests.emplace_back(message.begin(), message.end());
    script_.destinations.push_back(to);
    if (script_.send_fails) return false;
    if (script_.answer == Answer::kSilence) return true;
    std::vector<uint8_t> reply(message.begin(), message.end());
    if (script_.answer != Answer::kOwnRequest) reply[0] = 0;  // echo reply
    if (script_.answer == Answer::kOtherIdentifier) reply[4] ^= 0xFF;
    in_addr from = to;
    if (script_.answer == Answer::kFromOtherAddress) from.s_addr ^= htonl(1);
    if (script_.kind == IcmpSocketKind::kDatagram) {
      reply[4] = 0xBE;  // the identifier the kernel chose, never ours
    } else {
      std::vector<uint8_t> ip_header(20, 0);
      ip_header[0] = 0x45;
      reply.insert(reply.begin(), ip_header.begin(), ip_header.end());
    }
    senders_.push_back(from);
    return send(fds_[1], reply.data(), reply.size(), 0) > 0;
  }

  ReceiveStatus Receive(std::span<uint8_t> buffer, size_t& size, in_addr& from) override {
    if (script_.receive_fails) return ReceiveStatus::kError;
    const ssize_t got = recv(fds_[0], buffer.data(), buffer.size(), 0);
    if (got < 0) return errno == EAGAIN ? ReceiveStatus::kNothing : ReceiveStatus::kError;
    size = static_cast<size_t>(got);
    from = senders_.front();
    senders_.pop_front();
    return ReceiveStatus::kPacket;
  }

 private:
  FakeIcmp& script_;
  int fds_[2] = {-1, -1};
  std::deque<in_addr> senders_;
};

// A real endpoint that keeps a record in a FakeIcmp.
class CountingEndpoint final : public IcmpEndpoint {
 public:
  CountingEndpoint(FakeIcmp& record, SystemIcmpEndpoint::Choice choice)
      : record_(record), real_(choice) {}
  bool Open() override {
    if (!real_.Open()) return false;
    record_.kind = real_.Kind();
    ++record_.opens;
    return true;
  }
  void Close() override {
    if (real_.Descriptor() >= 0) ++record_.closes;
    real_.Close();
  }
  ~CountingEndpoint() override { Close(); }
  IcmpSocketKind Kind() const override { return real_.Kind(); }
  int Descriptor() const override { return real_.Descriptor(); }
  bool Send(in_addr to, std::span<const uint8_t> message) override {
    record_.requests.emplace_back(message.begin(), message.end());
    record_.destinations.push_back(to);
    return real_.Send(to, message);
  }
  ReceiveStatus Receive(std::span<uint8_t> buffer, size_t& size, in_addr& from) override {
    return real_.Receive(buffer, size, from);
  }

 private:
  FakeIcmp& record_;
  SystemIcmpEndpoint real_;
};

bool Run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

IcmpEndpointFactory FakeIcmp::Factory() {
  return [this] {
    ++made;
    return std::make_unique<FakeEndpoint>(*this);
  };
}

IcmpEndpointFactory CountingSystemEndpoints(FakeIcmp& record, SystemIcmpEndpoint::Choice choice) {
  return [&record, choice] {
    ++record.made;
    return std::make_unique<CountingEndpoint>(record, choice);
  };
}

std::string WhyNoIcmpSocket() {
  SystemIcmpEndpoint endpoint;
  if (endpoint.Open()) return "";
  return "no ICMP socket: our group is outside net.ipv4.ping_group_range and CAP_NET_RAW "
         "is missing";
}

std::string TestNamespace::WhyUnavailable() {
  if (geteuid() != 0) return "creating network namespaces needs root";
  if (!Run("ip -V")) return "the ip tool (iproute2) is missing";
  return "";
}

TestNamespace::TestNamespace(bool ignore_echo_requests) {
  static int count = 0;
  name_ = "ostrel-test-" + std::to_string(getpid()) + "-" + std::to_string(++count);
  if (!Run("ip netns add " + name_)) {
    name_.clear();
    return;
  }
  ok_ = Run("ip -n " + name_ + " link set lo up") &&
        (!ignore_echo_requests || Sysctl("net.ipv4.icmp_echo_ignore_all=1"));
}

TestNamespace::~TestNamespace() {
  if (!name_.empty()) Run("ip netns del " + name_);
}

bool TestNamespace::Sysctl(const std::string& setting) const {
  return Run("ip netns exec " + name_ + " sysctl -qw '" + setting + "'");
}

TestNamespace::Inside::Inside(const TestNamespace& ns) {
  home_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  const int target = open(("/run/netns/" + ns.name_).c_str(), O_RDONLY | O_CLOEXEC);
  ok_ = home_ >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
  if (target >= 0) close(target);
}

TestNamespace::Inside::~Inside() {
  if (ok_ && setns(home_, CLONE_NEWNET) != 0) std::abort();  // never go on in the wrong network
  if (home_ >= 0) close(home_);
}

}  // namespace ostrel::test
