// The send cycle with the real reachability check, inside a network namespace of the
// test's own whose loopback host ignores (or, as a control, answers) echo requests.

#include <gtest/gtest.h>

#include <QNetworkDatagram>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include "common/timer.h"
#include "icmp_test_support.h"
#include "logging/operation_log.h"
#include "support/test_support.h"
#include "transmission/ping_check.h"
#include "transmission/send_cycle.h"
#include "transmission/socket_control.h"

namespace ostrel {
namespace {

using test::FakeIcmp;
using test::LogMessages;
using test::TempDir;
using test::TestNamespace;
using Bytes = std::vector<uint8_t>;

class FakeView : public SendCycleView {
 public:
  bool SendGridRedraw() const override { return true; }
  Bytes ReadSendGrid() override { return {0x01, 0x02, 0x03}; }
  void ShowAnswer(const Bytes&) override {}
  void SetSendLed(int16_t state) override { send_led = state; }
  void SetRecvLed(int16_t) override {}
  void SetLastSentDateTime(const std::string&) override {}
  void SetLastRecvDateTime(const std::string&) override {}
  std::string SendButtonCaption() const override { return "送信"; }
  void SetSendButtonCaption(const std::string&) override {}

  int16_t send_led = -1;
};

uint16_t FreePort() {
  QUdpSocket probe;
  probe.bind(QHostAddress::AnyIPv4, 0);
  return probe.localPort();
}

// Everything lives inside the namespace: the ICMP sockets of the check, the cycle's UDP
// socket and the peer are all made after the thread entered it.
class SendCycleInNamespace : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = TestNamespace::WhyUnavailable(); !why.empty()) {
      GTEST_SKIP() << why;
    }
    ns_ = std::make_unique<TestNamespace>(/*ignore_echo_requests=*/true);
    ASSERT_TRUE(ns_->ok());
    inside_ = std::make_unique<TestNamespace::Inside>(*ns_);
    ASSERT_TRUE(inside_->ok());

    intToolKind = 2;
    InitLog(dir_.str());
    peer_ = std::make_unique<QUdpSocket>();
    ASSERT_TRUE(peer_->bind(QHostAddress::LocalHost, 0));
    settings_.strDestIpAddress = "127.0.0.1";
    settings_.lngSrcPort = FreePort();
    settings_.lngDestPort = peer_->localPort();
    settings_.intPingRetry = 3;
    settings_.intCommonSendRetry = 1;
    settings_.lngAnsTimeOut = 60;
    tmrRcvAns_.SetInterval(20);

    // Wired as the main window wires it, with a record of the real ICMP sockets.
    ping_ = std::make_unique<PingCheck>(test::CountingSystemEndpoints(icmp_));
    QObject::connect(ping_.get(), &PingCheck::Finished, [this](bool reachable) {
      checks_.push_back(ticks_);
      if (auto done = std::move(ping_done_)) done(reachable);
    });
    cycle_ = std::make_unique<SendCycle>(
        settings_, socket_, tmrSend_, tmrRcvAns_, view_,
        [this](const std::string& host, uint8_t tries, std::function<void(bool)> done) {
          ping_done_ = std::move(done);
          ping_->Start(host, tries);
        });
    QObject::connect(&tmrRcvAns_, &Timer::Tick, cycle_.get(), &SendCycle::tmrRcvAns_Timer);
    QObject::connect(&socket_, &SocketControl::DataArrival, cycle_.get(),
                     &SendCycle::wscSend_DataArrival);
    // The window's clock stands in for everything else the event loop must keep serving.
    QObject::connect(&clock_, &QTimer::timeout, [this] { ++ticks_; });
    clock_.start(20);
  }

  void TearDown() override {
    // Sockets go before the thread leaves the namespace and the namespace is removed.
    clock_.stop();
    cycle_.reset();
    ping_.reset();
    socket_.Close();
    peer_.reset();
    inside_.reset();
    ns_.reset();
  }

  std::vector<std::string> Log() { return LogMessages(strLogFile[2]); }
  // Datagrams that reached the peer, after a short pass of the event loop.
  int PeerDatagrams() {
    QTest::qWait(50);
    int count = 0;
    while (peer_->hasPendingDatagrams()) {
      peer_->receiveDatagram();
      ++count;
    }
    return count;
  }

  std::unique_ptr<TestNamespace> ns_;
  std::unique_ptr<TestNamespace::Inside> inside_;
  TempDir dir_;
  std::unique_ptr<QUdpSocket> peer_;
  MainSettings settings_;
  FakeView view_;
  SocketControl socket_;
  Timer tmrSend_;
  Timer tmrRcvAns_;
  FakeIcmp icmp_;  // a record only: the endpoints are the system's
  std::unique_ptr<PingCheck> ping_;
  std::function<void(bool)> ping_done_;
  std::unique_ptr<SendCycle> cycle_;
  QTimer clock_;
  int ticks_ = 0;
  std::vector<int> checks_;  // clock ticks seen when each check finished
};

TEST_F(SendCycleInNamespace, HostIgnoringEchoRequestsIsCheckedPingRetryTimesAndGetsNothing) {
  EXPECT_TRUE(cycle_->SendUdpData()) << "an unanswered check is a normal end";

  EXPECT_EQ(Log(), (std::vector<std::string>{"Ping無応答のためリトライします。",
                                             "Ping無応答のためリトライします。",
                                             "Pingに応答がありませんでした。"}));
  ASSERT_EQ(checks_.size(), 3u) << "three checks";
  EXPECT_EQ(icmp_.requests.size(), 6u) << "two echo requests per check, each unanswered";
  EXPECT_EQ(icmp_.opens, icmp_.closes) << "every ICMP socket was closed";
  EXPECT_EQ(view_.send_led, 2);
  EXPECT_EQ(cycle_->intPingFailCount, 0);
  EXPECT_FALSE(socket_.IsBound()) << "the socket was never set up";
  EXPECT_EQ(PeerDatagrams(), 0);
  // Each check waits about 600 ms, about 30 ticks of the clock; the event loop must have
  // run all through each of them, not only between them.
  int before = 0;
  for (size_t i = 0; i < checks_.size(); ++i) {
    EXPECT_GE(checks_[i] - before, 10) << "clock ticks during check " << i + 1;
    before = checks_[i];
  }
}

// The control: the same namespace, once its host answers echo requests, lets the cycle
// check once and deliver the datagram to the peer; so the silence above is the check's.
TEST_F(SendCycleInNamespace, OnceTheHostAnswersEchoRequestsTheDatagramReachesThePeer) {
  ASSERT_TRUE(ns_->Sysctl("net.ipv4.icmp_echo_ignore_all=0"));
  EXPECT_TRUE(cycle_->SendUdpData());

  EXPECT_EQ(Log(),
            (std::vector<std::string>{"接続先:127.0.0.1 Ping OK", "3バイトのデータを送信しました。",
                                      "リトライオーバー(送信時)"}));
  EXPECT_EQ(checks_.size(), 1u);
  EXPECT_EQ(PeerDatagrams(), 1);
}

}  // namespace
}  // namespace ostrel
