#include "transmission/reachability.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "icmp_test_support.h"

namespace ostrel {
namespace {

using test::Answer;
using test::FakeIcmp;
using test::Outcome;
using test::Reachable;
using test::RunCheck;
using test::TestNamespace;
using Choice = SystemIcmpEndpoint::Choice;

std::string Dotted(in_addr address) { return inet_ntoa(address); }

// The Internet checksum of a message that carries its own checksum folds to all ones.
bool ChecksumHolds(const std::vector<uint8_t>& message) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < message.size(); i += 2) sum += message[i] << 8 | message[i + 1];
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return sum == 0xFFFF;
}

class PingWithFake : public ::testing::TestWithParam<IcmpSocketKind> {};

TEST_P(PingWithFake, ReplyToTheOneBareRequestAnswers) {
  FakeIcmp icmp;
  icmp.kind = GetParam();
  EXPECT_TRUE(Reachable("127.0.0.1", 3, icmp.Factory()));
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

TEST_P(PingWithFake, PacketsOtherThanTheTargetsReplyDoNotCount) {
  std::vector<Answer> answers = {Answer::kSilence, Answer::kFromOtherAddress, Answer::kOwnRequest};
  // A datagram socket never delivers replies to other identifiers.
  if (GetParam() == IcmpSocketKind::kRaw) answers.push_back(Answer::kOtherIdentifier);
  for (Answer answer : answers) {
    SCOPED_TRACE(static_cast<int>(answer));
    FakeIcmp icmp;
    icmp.kind = GetParam();
    icmp.answer = answer;
    EXPECT_FALSE(Reachable("127.0.0.1", 1, icmp.Factory()));
    EXPECT_EQ(icmp.requests.size(), 1u);
    EXPECT_EQ(icmp.closes, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(BothSocketKinds, PingWithFake,
                         ::testing::Values(IcmpSocketKind::kDatagram, IcmpSocketKind::kRaw));

TEST(PingFaults, EveryFailureIsFalseAndLeavesNoSocketOpen) {
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
    EXPECT_FALSE(Reachable("127.0.0.1", 3, icmp.Factory()));
    EXPECT_EQ(icmp.requests.size(), c.requests);
    EXPECT_EQ(icmp.opens, icmp.closes);
  }
}

TEST(PingFaults, NoSocketWithoutTriesOrAddress) {
  FakeIcmp icmp;
  EXPECT_FALSE(Reachable("127.0.0.1", 0, icmp.Factory()));
  const std::string hosts[] = {"255.255.255.255", "0xffffffff", "", {"127.0.0.1\0x", 11}};
  for (const std::string& host : hosts) {
    EXPECT_FALSE(Reachable(host, 1, icmp.Factory())) << host;
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

TEST(PingLoopback, LoopbackAndLocalhostAnswerTheFirstRequest) {
  if (const std::string why = test::WhyNoIcmpSocket(); !why.empty()) GTEST_SKIP() << why;
  for (const char* host : {"127.0.0.1", "localhost"}) {
    FakeIcmp record;
    EXPECT_TRUE(Reachable(host, 1, test::CountingSystemEndpoints(record))) << host;
    ASSERT_EQ(record.destinations.size(), 1u) << host;
    EXPECT_EQ(Dotted(record.destinations[0]), "127.0.0.1");
    EXPECT_EQ(record.closes, 1);
  }
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
  PingCheck check(test::CountingSystemEndpoints(record, GetParam()));
  const Outcome outcome = RunCheck(check, "127.0.0.1", 2);
  EXPECT_FALSE(outcome.reachable);
  EXPECT_EQ(record.kind, ExpectedKind());
  EXPECT_EQ(record.requests.size(), 2u);
  EXPECT_GE(outcome.elapsed_ms, 560) << "300 ms per try";
  EXPECT_LT(outcome.elapsed_ms, 4000);
}

TEST_P(PingInNamespace, AnsweringHostIsReachable) {
  TestNamespace ns(/*ignore_echo_requests=*/false);
  Prepare(ns);
  TestNamespace::Inside inside(ns);
  ASSERT_TRUE(inside.ok());
  FakeIcmp record;
  EXPECT_TRUE(Reachable("127.0.0.1", 1, test::CountingSystemEndpoints(record, GetParam())));
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
  EXPECT_FALSE(Reachable("ostrel-test.invalid", 2, icmp.Factory()));
  EXPECT_EQ(icmp.made, 0);
}

}  // namespace
}  // namespace ostrel
