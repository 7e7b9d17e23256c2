#include "transmission/reachability.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>

#include "icmp_test_support.h"

namespace ostrel {
namespace {

using test::Answer;
using test::FakeIcmp;
using test::TestNamespace;
using Choice = SystemIcmpEndpoint::Choice;

int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

std::string Dotted(in_addr address) { return inet_ntoa(address); }

// The Internet checksum of a message that carries its own checksum folds to all ones.
bool ChecksumHolds(const std::vector<uint8_t>& message) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < message.size(); i += 2) sum += message[i] << 8 | message[i + 1];
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return sum == 0xFFFF;
}

class PingHostWithFake : public ::testing::TestWithParam<IcmpSocketKind> {};

TEST_P(PingHostWithFake, ReplyToTheOneBareRequestAnswers) {
  FakeIcmp icmp;
  icmp.kind = GetParam();
  EXPECT_TRUE(PingHost("127.0.0.1", 300, 3, icmp.Factory()));
  ASSERT_EQ(icmp.requests.size(), 1u);
  const std::vector<uint8_t>& request = icmp.requests[0];
  EXPECT_EQ(request.size(), 8u) << "an echo request without payload";
  EXPECT_EQ(request[0], 8);
  EXPECT_EQ(request[1], 0);
  EXPECT_TRUE(ChecksumHolds(request));
  EXPECT_EQ(Dotted(icmp.destinations[0]), "127.0.0.1");
  EXPECT_EQ(icmp.opens, 1);
  EXPECT_EQ(icmp.closes, 1);
}

TEST_P(PingHostWithFake, PacketsOtherThanTheTargetsReplyDoNotCount) {
  std::vector<Answer> answers = {Answer::kSilence, Answer::kFromOtherAddress, Answer::kOwnRequest};
  // A datagram socket never delivers replies to other identifiers.
  if (GetParam() == IcmpSocketKind::kRaw) answers.push_back(Answer::kOtherIdentifier);
  for (Answer answer : answers) {
    SCOPED_TRACE(static_cast<int>(answer));
    FakeIcmp icmp;
    icmp.kind = GetParam();
    icmp.answer = answer;
    EXPECT_FALSE(PingHost("127.0.0.1", 50, 2, icmp.Factory()));
    EXPECT_EQ(icmp.requests.size(), 2u);
    EXPECT_EQ(icmp.closes, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(BothSocketKinds, PingHostWithFake,
                         ::testing::Values(IcmpSocketKind::kDatagram, IcmpSocketKind::kRaw));

TEST(PingHostFaults, EveryFailureIsFalseAndLeavesNoSocketOpen) {
  struct Case {
    const char* name;
    bool open_fails, send_fails, receive_fails;
    size_t requests;
  };
  for (const Case& c : {Case{"open", true, false, false, 0}, Case{"send", false, true, false, 3},
                        Case{"receive", false, false, true, 3}}) {
    SCOPED_TRACE(c.name);
    FakeIcmp icmp;
    icmp.open_fails = c.open_fails;
    icmp.send_fails = c.send_fails;
    icmp.receive_fails = c.receive_fails;
    EXPECT_FALSE(PingHost("127.0.0.1", 50, 3, icmp.Factory()));
    EXPECT_EQ(icmp.requests.size(), c.requests);
    EXPECT_EQ(icmp.opens, icmp.closes);
  }
}

TEST(PingHostFaults, NoSocketWithoutCountOrAddress) {
  FakeIcmp icmp;
  EXPECT_FALSE(PingHost("127.0.0.1", 300, 0, icmp.Factory()));
  EXPECT_FALSE(PingHost("127.0.0.1", 300, -1, icmp.Factory()));
  const std::string hosts[] = {"255.255.255.255", "0xffffffff", "", {"127.0.0.1\0x", 11}};
  for (const std::string& host : hosts) {
    EXPECT_FALSE(PingHost(host, 300, 1, icmp.Factory())) << host;
  }
  EXPECT_EQ(icmp.made, 0);
}

TEST(ResolvePingTarget, DottedFormsOfTheSystemAreAddressesNotNames) {
  for (const auto& [text, dotted] : {std::pair{"127.0.0.1", "127.0.0.1"},
                                     {"127.1", "127.0.0.1"},
                                     {"0x7f.0.0.2", "127.0.0.2"},
                                     {"2130706435", "127.0.0.3"}}) {
    const std::optional<in_addr> address = ResolvePingTarget(text);
    ASSERT_TRUE(address) << text;
    EXPECT_EQ(Dotted(*address), dotted) << text;
  }
}

TEST(CheckPing, TriesUntilTheFirstReply) {
  FakeIcmp none;
  EXPECT_FALSE(CheckPing("127.0.0.1", 0, none.Factory()));
  EXPECT_EQ(none.made, 0);

  FakeIcmp answering;
  EXPECT_TRUE(CheckPing("127.0.0.1", 3, answering.Factory()));
  EXPECT_EQ(answering.requests.size(), 1u);

  FakeIcmp silent;
  silent.answer = Answer::kSilence;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(CheckPing("127.0.0.1", 3, silent.Factory()));
  const int64_t elapsed = MillisecondsSince(start);
  EXPECT_EQ(silent.made, 3);
  EXPECT_EQ(silent.requests.size(), 3u);
  EXPECT_EQ(silent.closes, 3);
  EXPECT_GE(elapsed, 850) << "300 ms per try";
  EXPECT_LT(elapsed, 5000);
}

TEST(PingHostLoopback, LoopbackAndLocalhostAnswerTheFirstRequest) {
  if (const std::string why = test::WhyNoIcmpSocket(); !why.empty()) GTEST_SKIP() << why;
  for (const char* host : {"127.0.0.1", "localhost"}) {
    FakeIcmp record;
    EXPECT_TRUE(PingHost(host, 300, 1, test::CountingSystemEndpoints(record))) << host;
    ASSERT_EQ(record.destinations.size(), 1u) << host;
    EXPECT_EQ(Dotted(record.destinations[0]), "127.0.0.1");
    EXPECT_EQ(record.closes, 1);
  }
  EXPECT_TRUE(CheckPing("127.0.0.1", 2));
}

// Inside a namespace of the test's own; the datagram socket is allowed there for every
// group, so both socket kinds can be tried.
class PingInNamespace : public ::testing::TestWithParam<Choice> {
 protected:
  void SetUp() override {
    if (const std::string why = TestNamespace::WhyUnavailable(); !why.empty()) {
      GTEST_SKIP() << why;
    }
  }
  void Prepare(TestNamespace& ns) {
    ASSERT_TRUE(ns.ok());
    ASSERT_TRUE(ns.Sysctl("net.ipv4.ping_group_range=0 2147483647"));
  }
  IcmpSocketKind ExpectedKind() const {
    return GetParam() == Choice::kRawOnly ? IcmpSocketKind::kRaw : IcmpSocketKind::kDatagram;
  }
};

TEST_P(PingInNamespace, HostIgnoringEchoRequestsFailsAfterTheTimeOut) {
  TestNamespace ns(/*ignore_echo_requests=*/true);
  Prepare(ns);
  TestNamespace::Inside inside(ns);
  ASSERT_TRUE(inside.ok());
  FakeIcmp record;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(PingHost("127.0.0.1", 300, 1, test::CountingSystemEndpoints(record, GetParam())));
  int64_t elapsed = MillisecondsSince(start);
  EXPECT_EQ(record.kind, ExpectedKind());
  EXPECT_EQ(record.requests.size(), 1u);
  EXPECT_GE(elapsed, 280);
  EXPECT_LT(elapsed, 3000);

  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(CheckPing("127.0.0.1", 2, test::CountingSystemEndpoints(record, GetParam())));
  elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 560);
  EXPECT_LT(elapsed, 4000);
}

TEST_P(PingInNamespace, AnsweringHostIsReachable) {
  TestNamespace ns(/*ignore_echo_requests=*/false);
  Prepare(ns);
  TestNamespace::Inside inside(ns);
  ASSERT_TRUE(inside.ok());
  FakeIcmp record;
  EXPECT_TRUE(PingHost("127.0.0.1", 300, 1, test::CountingSystemEndpoints(record, GetParam())));
  EXPECT_EQ(record.kind, ExpectedKind());
}

INSTANTIATE_TEST_SUITE_P(BothSocketKinds, PingInNamespace,
                         ::testing::Values(Choice::kDatagramOnly, Choice::kRawOnly));

// In a namespace with nothing but lo, the resolver's question never leaves the machine.
TEST(PingInNamespaceName, NameThatDoesNotResolveSendsNothing) {
  if (const std::string why = TestNamespace::WhyUnavailable(); !why.empty()) GTEST_SKIP() << why;
  TestNamespace ns(/*ignore_echo_requests=*/false);
  ASSERT_TRUE(ns.ok());
  TestNamespace::Inside inside(ns);
  ASSERT_TRUE(inside.ok());
  FakeIcmp icmp;
  EXPECT_FALSE(PingHost("ostrel-test.invalid", 300, 1, icmp.Factory()));
  EXPECT_FALSE(CheckPing("ostrel-test.invalid", 2, icmp.Factory()));
  EXPECT_EQ(icmp.made, 0);
}

}  // namespace
}  // namespace ostrel
