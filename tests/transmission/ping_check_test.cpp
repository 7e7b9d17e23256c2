#include "transmission/ping_check.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "icmp_test_support.h"

namespace ostrel {
namespace {

using test::Answer;
using test::FakeIcmp;
using test::Outcome;
using test::RunCheck;
using test::TestNamespace;

TEST(PingCheck, AnswersAsCheckPingWouldWithoutBlocking) {
  struct Case {
    const char* name;
    Answer answer;
    bool open_fails, send_fails;
    uint8_t tries;
    bool reachable;
    int sockets;
  };
  const Case cases[] = {
      {"reply", Answer::kEchoReply, false, false, 2, true, 1},
      {"silence", Answer::kSilence, false, false, 3, false, 3},
      {"other address", Answer::kFromOtherAddress, false, false, 1, false, 1},
      {"open fails", Answer::kEchoReply, true, false, 2, false, 2},
      {"send fails", Answer::kEchoReply, false, true, 2, false, 2},
      {"no tries", Answer::kEchoReply, false, false, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeIcmp icmp;
    icmp.answer = c.answer;
    icmp.open_fails = c.open_fails;
    icmp.send_fails = c.send_fails;
    PingCheck check(icmp.Factory());
    const Outcome outcome = RunCheck(check, "127.0.0.1", c.tries);
    EXPECT_EQ(outcome.finished, 1);
    EXPECT_EQ(outcome.reachable, c.reachable);
    EXPECT_EQ(icmp.made, c.sockets);
    EXPECT_EQ(icmp.opens, icmp.closes);
    EXPECT_FALSE(check.IsRunning());
    if (c.answer == Answer::kSilence) {
      EXPECT_GE(outcome.elapsed_ms, 850) << "300 ms per try";
      EXPECT_LT(outcome.elapsed_ms, 5000);
    }
  }
}

TEST(PingCheck, CancelledOrReplacedCheckNeverFinishes) {
  FakeIcmp silent;
  silent.answer = Answer::kSilence;
  PingCheck check(silent.Factory());
  QSignalSpy spy(&check, &PingCheck::Finished);
  check.Start("127.0.0.1", 2);
  QTest::qWait(100);
  EXPECT_EQ(silent.opens, 1);
  check.Cancel();
  EXPECT_EQ(silent.closes, 1);
  EXPECT_FALSE(spy.wait(800));

  // A new Start replaces the check under way: one Finished, the new check's.
  check.Start("127.0.0.1", 2);
  QTest::qWait(100);
  silent.answer = Answer::kEchoReply;
  check.Start("127.0.0.1", 1);
  EXPECT_TRUE(spy.wait(2000));
  QTest::qWait(700);
  ASSERT_EQ(spy.count(), 1);
  EXPECT_TRUE(spy.at(0).at(0).toBool());
  EXPECT_EQ(silent.opens, 3);
  EXPECT_EQ(silent.closes, 3);
}

TEST(PingCheck, LoopbackIsReachable) {
  if (const std::string why = test::WhyNoIcmpSocket(); !why.empty()) GTEST_SKIP() << why;
  PingCheck check;
  const Outcome outcome = RunCheck(check, "127.0.0.1", 2);
  EXPECT_EQ(outcome.finished, 1);
  EXPECT_TRUE(outcome.reachable);
}

TEST(PingCheck, EventLoopKeepsRunningWhileTheHostIgnoresEchoRequests) {
  if (const std::string why = TestNamespace::WhyUnavailable(); !why.empty()) GTEST_SKIP() << why;
  TestNamespace ns(/*ignore_echo_requests=*/true);
  ASSERT_TRUE(ns.ok());
  TestNamespace::Inside inside(ns);
  ASSERT_TRUE(inside.ok());
  int ticks = 0;
  QTimer clock;
  QObject::connect(&clock, &QTimer::timeout, [&ticks] { ++ticks; });
  clock.start(20);
  PingCheck check;
  const Outcome outcome = RunCheck(check, "127.0.0.1", 2);
  EXPECT_EQ(outcome.finished, 1);
  EXPECT_FALSE(outcome.reachable);
  EXPECT_GE(outcome.elapsed_ms, 560);
  EXPECT_LT(outcome.elapsed_ms, 5000);
  EXPECT_GE(ticks, 15) << "a 20 ms timer during about 600 ms of waiting";
}

}  // namespace
}  // namespace ostrel
