#include "transmission/send_cycle.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <QNetworkDatagram>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include "common/timer.h"
#include "logging/operation_log.h"
#include "support/test_support.h"
#include "transmission/socket_control.h"

namespace ostrel {
namespace {

using test::LogMessages;
using test::TempDir;
using Bytes = std::vector<uint8_t>;

class FakeView : public SendCycleView {
 public:
  bool SendGridRedraw() const override { return redraw; }
  Bytes ReadSendGrid() override { return grid; }
  void ShowAnswer(const Bytes& bytes) override { answers.push_back(bytes); }
  void SetSendLed(int16_t state) override { send_led = state; }
  void SetRecvLed(int16_t state) override { recv_led = state; }
  void SetLastSentDateTime(const std::string& text) override { last_sent = text; }
  void SetLastRecvDateTime(const std::string& text) override { last_recv = text; }
  std::string SendButtonCaption() const override { return caption; }
  void SetSendButtonCaption(const std::string& text) override { caption = text; }

  bool redraw = true;
  Bytes grid{0x01, 0x02, 0x03};
  std::vector<Bytes> answers;
  int16_t send_led = -1;
  int16_t recv_led = -1;
  std::string last_sent, last_recv;
  std::string caption = "送信";
};

// A UDP peer on loopback that records what it receives and may answer.
class Peer {
 public:
  Peer() { socket_.bind(QHostAddress::LocalHost, 0); }
  uint16_t Port() const { return socket_.localPort(); }
  // Datagrams received so far (after letting the event loop run a little).
  std::vector<QNetworkDatagram> Received() {
    while (socket_.hasPendingDatagrams()) received_.push_back(socket_.receiveDatagram());
    return received_;
  }
  void SendTo(uint16_t port, const QByteArray& data) {
    socket_.writeDatagram(data, QHostAddress::LocalHost, port);
  }
  bool answer = false;
  bool answer_twice = false;

  void Poll() {
    while (socket_.hasPendingDatagrams()) {
      auto d = socket_.receiveDatagram();
      received_.push_back(d);
      const auto port = static_cast<uint16_t>(d.senderPort());
      if (answer) socket_.writeDatagram(QByteArray("\xAA\xBB\xCC\xDD", 4), d.senderAddress(), port);
      if (answer_twice) socket_.writeDatagram(QByteArray("\x11\x22", 2), d.senderAddress(), port);
    }
  }

 private:
  QUdpSocket socket_;
  std::vector<QNetworkDatagram> received_;
};

uint16_t FreePort() {
  QUdpSocket probe;
  probe.bind(QHostAddress::AnyIPv4, 0);
  return probe.localPort();
}

class SendCycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    intToolKind = 2;
    InitLog(dir_.str());
    intLogMaxSize = 1;
    intLogGenerations = 3;
    settings_.strDestIpAddress = "127.0.0.1";
    settings_.lngSrcPort = FreePort();
    settings_.lngDestPort = peer_.Port();
    settings_.intPingRetry = 3;
    settings_.intCommonSendRetry = 3;
    settings_.lngAnsTimeOut = 60;
    tmrRcvAns_.SetInterval(20);
    QObject::connect(&tmrRcvAns_, &Timer::Tick, &cycle_, &SendCycle::tmrRcvAns_Timer);
    QObject::connect(&socket_, &SocketControl::DataArrival, &cycle_,
                     &SendCycle::wscSend_DataArrival);
    // The peer answers from the event loop, like a device would.
    QObject::connect(&poll_, &QTimer::timeout, [this] { peer_.Poll(); });
    poll_.start(2);
  }
  std::vector<std::string> Log() { return LogMessages(strLogFile[2]); }
  std::string SentLine() { return std::to_string(view_.grid.size()) + "バイトのデータを送信しました。"; }

  TempDir dir_;
  Peer peer_;
  QTimer poll_;
  MainSettings settings_;
  FakeView view_;
  SocketControl socket_;
  Timer tmrSend_;
  Timer tmrRcvAns_;
  int pings_ = 0;
  bool reachable_ = true;
  SendCycle cycle_{settings_, socket_, tmrSend_, tmrRcvAns_, view_,
                   [this](const std::string&, uint8_t tries, std::function<void(bool)> done) {
                     EXPECT_EQ(tries, 2);
                     ++pings_;
                     QTimer::singleShot(1, [done, r = reachable_] { done(r); });
                   }};
};

TEST_F(SendCycleTest, AnsweredCycleLogsItsRoadAndLightsBothIndicators) {
  peer_.answer = true;
  EXPECT_TRUE(cycle_.SendUdpData());
  const auto received = peer_.Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].data(), QByteArray("\x01\x02\x03", 3));
  EXPECT_EQ(received[0].senderPort(), settings_.lngSrcPort) << "sent from the configured port";
  EXPECT_EQ(Log(), (std::vector<std::string>{"接続先:127.0.0.1 Ping OK", SentLine(),
                                             "4バイトの応答データを受信しました。"}));
  EXPECT_EQ(view_.send_led, 1);
  EXPECT_EQ(view_.recv_led, 1);
  ASSERT_EQ(view_.answers.size(), 1u);
  EXPECT_EQ(view_.answers[0], (Bytes{0xAA, 0xBB, 0xCC, 0xDD}));
  EXPECT_EQ(cycle_.intSendRetryCount, 0);
  EXPECT_FALSE(tmrRcvAns_.Enabled());
  EXPECT_EQ(view_.last_sent.size(), 17u);
}

// Records the reports of the cycle as short words.
class RecordingObserver : public SendCycleObserver {
 public:
  void CycleStarted() override { events.push_back("start"); }
  void CheckFailed() override { events.push_back("check failed"); }
  void Transmitted(size_t bytes, TimePoint sent, int attempt) override {
    events.push_back("sent " + std::to_string(bytes) + " #" + std::to_string(attempt));
    last_sent = sent;
  }
  void TransmissionUnanswered() override { events.push_back("unanswered"); }
  void Arrived(size_t bytes, TimePoint arrival, bool answer) override {
    events.push_back((answer ? "answer " : "unsolicited ") + std::to_string(bytes));
    if (answer) rtt = arrival - last_sent;
  }
  void CycleEnded(CycleOutcome outcome) override {
    static const char* const kNames[] = {"answered", "unanswered", "unreachable", "error"};
    events.push_back(std::string("end ") + kNames[static_cast<int>(outcome)]);
  }
  std::vector<std::string> events;
  TimePoint last_sent{};
  std::chrono::steady_clock::duration rtt{-1};
};

TEST_F(SendCycleTest, ObserverHearsEveryOutcomeAndTellsAnswersFromUnsolicitedDatagrams) {
  RecordingObserver seen;
  cycle_.SetObserver(&seen);
  using Events = std::vector<std::string>;

  peer_.answer = true;
  peer_.answer_twice = true;  // the second datagram answers nothing
  EXPECT_TRUE(cycle_.SendUdpData());
  ASSERT_TRUE(QTest::qWaitFor([&] { return view_.answers.size() == 2; }, 3000));
  // The second datagram may come before or after the end of the cycle.
  EXPECT_EQ(std::erase(seen.events, "unsolicited 2"), 1u);
  EXPECT_EQ(seen.events, (Events{"start", "sent 3 #1", "answer 4", "end answered"}));
  EXPECT_GE(seen.rtt.count(), 0) << "the answer arrives after the send";

  seen.events.clear();
  peer_.answer = peer_.answer_twice = false;
  settings_.intCommonSendRetry = 2;
  EXPECT_TRUE(cycle_.SendUdpData());
  EXPECT_EQ(seen.events, (Events{"start", "sent 3 #1", "unanswered", "sent 3 #2", "unanswered",
                                 "end unanswered"}));

  seen.events.clear();
  reachable_ = false;
  settings_.intPingRetry = 2;
  EXPECT_TRUE(cycle_.SendUdpData());
  EXPECT_EQ(seen.events, (Events{"start", "check failed", "check failed", "end unreachable"}));

  seen.events.clear();
  reachable_ = true;
  view_.grid.clear();  // an empty send grid is a run-time error of the cycle
  EXPECT_FALSE(cycle_.SendUdpData());
  EXPECT_EQ(seen.events, (Events{"start", "end error"}));
  cycle_.SetObserver(nullptr);
}

TEST_F(SendCycleTest, TwoAnswersAreBothLoggedAndTheGridKeepsTheSecond) {
  peer_.answer = true;
  peer_.answer_twice = true;
  EXPECT_TRUE(cycle_.SendUdpData());
  ASSERT_TRUE(QTest::qWaitFor([&] { return view_.answers.size() == 2; }, 3000));
  EXPECT_EQ(view_.answers.back(), (Bytes{0x11, 0x22}));
  const auto log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "4バイトの応答データを受信しました。"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "2バイトの応答データを受信しました。"), 1);
  EXPECT_EQ(peer_.Received().size(), 1u) << "one transmission";
}

TEST_F(SendCycleTest, UnreachableDestinationIsCheckedPingRetryTimesAndNothingIsSent) {
  reachable_ = false;
  EXPECT_TRUE(cycle_.SendUdpData()) << "an unanswered check is a normal end";
  EXPECT_EQ(pings_, 3);
  EXPECT_EQ(Log(), (std::vector<std::string>{"Ping無応答のためリトライします。",
                                             "Ping無応答のためリトライします。",
                                             "Pingに応答がありませんでした。"}));
  EXPECT_EQ(view_.send_led, 2);
  EXPECT_TRUE(peer_.Received().empty());
  EXPECT_EQ(cycle_.intPingFailCount, 0);
}

TEST_F(SendCycleTest, PingRetryOfOneOrLessStillChecksOnce) {
  reachable_ = false;
  for (int16_t retry : {int16_t{1}, int16_t{0}, int16_t{-5}}) {
    pings_ = 0;
    settings_.intPingRetry = retry;
    cycle_.SendUdpData();
    EXPECT_EQ(pings_, 1) << retry;
  }
}

TEST_F(SendCycleTest, UnansweredTransmissionsAreRepeatedWithoutANewCheck) {
  EXPECT_TRUE(cycle_.SendUdpData());
  EXPECT_EQ(peer_.Received().size(), 3u);
  EXPECT_EQ(pings_, 1);
  EXPECT_EQ(Log(), (std::vector<std::string>{"接続先:127.0.0.1 Ping OK", SentLine(),
                                             "リトライ開始(1)(送信時)", SentLine(),
                                             "リトライ開始(2)(送信時)", SentLine(),
                                             "リトライオーバー(送信時)"}));
  EXPECT_EQ(view_.send_led, 2);
  EXPECT_EQ(cycle_.intSendRetryCount, 0);
  EXPECT_FALSE(tmrRcvAns_.Enabled());
}

TEST_F(SendCycleTest, CommonSendRetryOfOneOrLessSendsOnce) {
  for (int16_t retry : {int16_t{0}, int16_t{1}}) {
    settings_.intCommonSendRetry = retry;
    const auto before = peer_.Received().size();
    cycle_.SendUdpData();
    EXPECT_EQ(peer_.Received().size() - before, 1u) << retry;
    EXPECT_EQ(Log().back(), "リトライオーバー(送信時)");
  }
}

TEST_F(SendCycleTest, TimeOutZeroSendsEveryTransmissionAtOnce) {
  settings_.lngAnsTimeOut = 0;
  tmrRcvAns_.SetInterval(10000);  // never ticks during the test
  EXPECT_TRUE(cycle_.SendUdpData());
  EXPECT_EQ(peer_.Received().size(), 3u);
}

TEST_F(SendCycleTest, AnswerTimerIntervalZeroIsADivisionByZero) {
  tmrRcvAns_.SetInterval(0);
  EXPECT_FALSE(cycle_.SendUdpData());
  EXPECT_EQ(Log().back(), "0 で除算しました。(SendUdpData)");
  EXPECT_EQ(view_.send_led, 2);
}

TEST_F(SendCycleTest, LocalPortInUseTakesTheErrorPathAndSendsNothing) {
  QUdpSocket holder;
  ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, static_cast<uint16_t>(settings_.lngSrcPort)));
  EXPECT_FALSE(cycle_.SendUdpData());
  EXPECT_TRUE(Log().back().ends_with("(SendUdpData)"));
  EXPECT_EQ(view_.send_led, 2);
  EXPECT_TRUE(peer_.Received().empty());
}

TEST_F(SendCycleTest, SourcePortBeyondTheRangeTakesTheErrorPath) {
  settings_.lngSrcPort = 70000;
  EXPECT_FALSE(cycle_.SendUdpData());
  EXPECT_TRUE(Log().back().ends_with("(SendUdpData)"));
  EXPECT_TRUE(peer_.Received().empty());
}

TEST_F(SendCycleTest, EmptySendGridSendsNothing) {
  view_.grid.clear();
  EXPECT_FALSE(cycle_.SendUdpData());
  EXPECT_EQ(Log().back(), "送信データがありません。(SendUdpData)");
  EXPECT_TRUE(peer_.Received().empty());
}

TEST_F(SendCycleTest, GridBeingLoadedSendsThePreviousBytesAgain) {
  view_.redraw = false;
  EXPECT_FALSE(cycle_.SendUdpData()) << "nothing was ever read from the grid";
  view_.redraw = true;
  settings_.intCommonSendRetry = 1;
  cycle_.SendUdpData();
  view_.redraw = false;
  view_.grid = {0x09};
  cycle_.SendUdpData();
  const auto received = peer_.Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].data(), QByteArray("\x01\x02\x03", 3));
}

TEST_F(SendCycleTest, LateAnswerLightsTheIndicatorButDoesNotCountForTheNextCycle) {
  settings_.intCommonSendRetry = 1;
  cycle_.SendUdpData();
  peer_.SendTo(static_cast<uint16_t>(settings_.lngSrcPort), "late");
  ASSERT_TRUE(QTest::qWaitFor([&] { return cycle_.blnAnswerReceived; }, 3000));
  EXPECT_EQ(view_.recv_led, 1);
  cycle_.SendUdpData();
  EXPECT_EQ(Log().back(), "リトライオーバー(送信時)") << "the next cycle cleared the flag";
}

TEST_F(SendCycleTest, EmptyDatagramIsOnlyLogged) {
  settings_.intCommonSendRetry = 1;
  cycle_.SendUdpData();
  const auto lines = Log().size();
  peer_.SendTo(static_cast<uint16_t>(settings_.lngSrcPort), QByteArray());
  peer_.SendTo(static_cast<uint16_t>(settings_.lngSrcPort), "x");
  ASSERT_TRUE(QTest::qWaitFor([&] { return Log().size() == lines + 2; }, 3000));
  EXPECT_EQ(Log()[lines], "通信エラーが発生しました。");
  EXPECT_EQ(Log()[lines + 1], "1バイトの応答データを受信しました。");
  EXPECT_EQ(view_.answers.size(), 1u);
}

TEST_F(SendCycleTest, AnswerTickCountStopsAtItsTopWithALogLine) {
  cycle_.intAnsTickCount = 32766;
  cycle_.tmrRcvAns_Timer();
  EXPECT_EQ(cycle_.intAnsTickCount, 32767);
  EXPECT_TRUE(Log().empty());
  cycle_.tmrRcvAns_Timer();
  EXPECT_EQ(cycle_.intAnsTickCount, 32767);
  EXPECT_EQ(Log(), std::vector<std::string>{"オーバーフローしました。(tmrRcvAns_Timer)"});
}

// ---- periodic sending ----

TEST_F(SendCycleTest, PressStartsPeriodicSendingInEachUnit) {
  peer_.answer = true;
  const struct {
    int16_t unit;
    int32_t interval;
    int32_t timer_interval;
    int16_t ticks;
  } cases[] = {{0, 2500, 2500, 0}, {1, 5, 1000, 5}, {2, 3, 60000, 3}};
  for (const auto& c : cases) {
    settings_.intSendIntervalUnit = c.unit;
    settings_.lngSendInterval = c.interval;
    cycle_.intSendTickCount = 0;
    cycle_.cmdSendData_Click();
    EXPECT_EQ(view_.caption, "送信停止");
    EXPECT_TRUE(tmrSend_.Enabled());
    EXPECT_EQ(tmrSend_.Interval(), c.timer_interval) << c.unit;
    EXPECT_EQ(cycle_.intSendTickCount, c.ticks) << c.unit;
    cycle_.cmdSendData_Click();  // one more cycle, then stop
    EXPECT_EQ(view_.caption, "送信");
    EXPECT_FALSE(tmrSend_.Enabled());
    EXPECT_EQ(view_.send_led, 0);
  }
  EXPECT_EQ(peer_.Received().size(), 6u);
}

TEST_F(SendCycleTest, SecondsCountTicksAndCycleOnEveryIntervalPlusOneTick) {
  peer_.answer = true;
  settings_.intSendIntervalUnit = 1;
  settings_.lngSendInterval = 2;
  cycle_.cmdSendData_Click();
  tmrSend_.SetInterval(60000);  // no tick of its own: ticks are driven by hand below
  std::vector<int> cycles_on;
  for (int tick = 1; tick <= 7; ++tick) {
    const auto before = peer_.Received().size();
    cycle_.tmrSend_Timer();
    if (peer_.Received().size() > before) cycles_on.push_back(tick);
  }
  // The counter starts at the interval: the first tick cycles, then every third.
  EXPECT_EQ(cycles_on, (std::vector<int>{1, 4, 7}));
  EXPECT_TRUE(tmrSend_.Enabled()) << "re-enabled after each timed cycle";
}

TEST_F(SendCycleTest, TicksDuringACycleCountButStartNoCycle) {
  settings_.intSendIntervalUnit = 1;
  settings_.lngSendInterval = 2;
  settings_.intCommonSendRetry = 1;
  cycle_.intSendTickCount = 0;
  QTimer::singleShot(20, [&] {
    for (int i = 0; i < 3; ++i) cycle_.tmrSend_Timer();
  });
  cycle_.SendUdpData();
  EXPECT_EQ(peer_.Received().size(), 1u) << "no cycle inside the running one";
  EXPECT_EQ(cycle_.intSendTickCount, 2) << "counted up to due, and kept there";
  cycle_.tmrSend_Timer();
  EXPECT_EQ(peer_.Received().size(), 2u) << "the first tick after the cycle starts it";
  EXPECT_EQ(cycle_.intSendTickCount, 0);
}

TEST_F(SendCycleTest, EverySendTimerTickRotatesTheLog) {
  settings_.intSendIntervalUnit = 1;
  settings_.lngSendInterval = 600;
  cycle_.intSendTickCount = 0;
  test::WriteFileBytes(strLogFile[2], std::string(1024 * 1024 + 1, 'x'));
  cycle_.tmrSend_Timer();
  EXPECT_TRUE(std::filesystem::exists(strLogFile[2] + ".1"));
  EXPECT_EQ(cycle_.intSendTickCount, 1) << "the tick counted and sent nothing";
}

TEST_F(SendCycleTest, TimedCycleErrorStopsPeriodicSendingAndResetsTheCaption) {
  settings_.intSendIntervalUnit = 0;
  settings_.lngSendInterval = 2000;
  settings_.intCommonSendRetry = 1;
  cycle_.cmdSendData_Click();
  ASSERT_TRUE(tmrSend_.Enabled());
  view_.grid.clear();  // the next cycle fails
  cycle_.tmrSend_Timer();
  EXPECT_FALSE(tmrSend_.Enabled());
  EXPECT_EQ(view_.caption, "送信");
}

TEST_F(SendCycleTest, StopPressedWhileATimedCycleWaitsStopsAfterOneMoreCycle) {
  settings_.intSendIntervalUnit = 0;
  settings_.lngSendInterval = 2000;
  settings_.intCommonSendRetry = 1;
  settings_.lngAnsTimeOut = 200;
  cycle_.cmdSendData_Click();
  ASSERT_EQ(view_.caption, "送信停止");
  const auto before = peer_.Received().size();
  // A press arrives while the timed cycle waits for its answer, and a send-timer tick too.
  QTimer::singleShot(50, [&] {
    EXPECT_TRUE(cycle_.CycleRunning());
    cycle_.cmdSendData_Click();
    cycle_.tmrSend_Timer();
  });
  cycle_.tmrSend_Timer();
  ASSERT_TRUE(QTest::qWaitFor([&] { return view_.caption == "送信"; }, 5000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !cycle_.CycleRunning(); }, 5000));
  EXPECT_EQ(peer_.Received().size() - before, 2u) << "the timed cycle and the press's cycle";
  EXPECT_FALSE(tmrSend_.Enabled());
  EXPECT_EQ(view_.send_led, 0);
}

}  // namespace
}  // namespace ostrel
