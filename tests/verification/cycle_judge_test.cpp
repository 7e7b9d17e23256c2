// Verdicts of real send cycles on loopback against a scripted device.

#include <gtest/gtest.h>

#include <QNetworkDatagram>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include "common/tool_kind.h"
#include "logging/operation_log.h"
#include "support/loopback_cycle.h"
#include "support/test_support.h"
#include "verification/answer_judge.h"

namespace ostrel {
namespace {

// A device on 127.0.0.1 that answers each datagram with `answer`, from its own port, from
// a second port, or not at all.
class ScriptedDevice {
 public:
  enum class From { kSilent, kOwnPort, kOtherPort };

  ScriptedDevice() {
    own_.bind(QHostAddress::LocalHost, 0);
    other_.bind(QHostAddress::LocalHost, 0);
    QObject::connect(&own_, &QUdpSocket::readyRead, [this] {
      while (own_.hasPendingDatagrams()) {
        const QNetworkDatagram d = own_.receiveDatagram();
        QUdpSocket& out = from == From::kOtherPort ? other_ : own_;
        if (from != From::kSilent) out.writeDatagram(answer, d.senderAddress(), d.senderPort());
      }
    });
  }
  uint16_t Port() const { return own_.localPort(); }

  From from = From::kOwnPort;
  QByteArray answer{"\x12\x34\x56", 3};

 private:
  QUdpSocket own_, other_;
};

TEST(CycleJudgeTest, JudgesTheAnswerTheCycleTook) {
  test::TempDir dir;
  intToolKind = 2;
  InitLog(dir.str());
  ScriptedDevice device;
  bool reachable = true;
  std::function<void()> during_check;  // runs while a check is under way
  test::LoopbackCycle loopback(
      device.Port(),
      [&](const std::string&, uint8_t, std::function<void(bool)> done) {
        if (during_check) during_check();
        QTimer::singleShot(50, [done, reachable] { done(reachable); });
      },
      {0x01, 0x02}, 1, 2, 60, 20);
  std::vector<Judgement> seen;
  CycleJudge judge([&](const Judgement& j) { seen.push_back(j); });
  loopback.cycle.SetObserver(&judge);
  const auto verdict_of = [&](const std::string& pattern, SenderRule from) {
    judge.SetExpectation(Expectation{*AnswerPattern::Parse(pattern).pattern, from, {}});
    seen.clear();
    loopback.cycle.SendUdpData();
    return seen.size() == 1 ? seen[0] : Judgement{Verdict::kNotSent, {99}};
  };

  EXPECT_EQ(verdict_of("12 34 56", SenderRule::kAddressAndPort).verdict, Verdict::kMatch);
  EXPECT_EQ(judge.Answer(), (std::vector<uint8_t>{0x12, 0x34, 0x56}));
  const Judgement wrong = verdict_of("12 3? 57", SenderRule::kAddress);
  EXPECT_EQ(wrong.verdict, Verdict::kMismatch);
  EXPECT_EQ(wrong.mismatch_at, std::vector<std::size_t>{2});

  device.from = ScriptedDevice::From::kOtherPort;
  EXPECT_EQ(verdict_of("12 34 56", SenderRule::kAddress).verdict, Verdict::kMatch);
  EXPECT_EQ(verdict_of("12 34 56", SenderRule::kAddressAndPort).verdict, Verdict::kWrongSource);
  EXPECT_EQ(verdict_of("12 34 56", SenderRule::kAny).verdict, Verdict::kMatch);

  // A datagram during the check is no answer: the silent device gives 応答なし.
  device.from = ScriptedDevice::From::kSilent;
  QUdpSocket stray;
  during_check = [&] {
    stray.writeDatagram(QByteArray("\x12\x34\x56", 3), QHostAddress::LocalHost,
                        loopback.settings.lngSrcPort);
  };
  EXPECT_EQ(verdict_of("12 34 56", SenderRule::kAny).verdict, Verdict::kNoAnswer);
  EXPECT_TRUE(judge.Answer().empty());
  during_check = nullptr;

  reachable = false;
  EXPECT_EQ(verdict_of("*", SenderRule::kAny).verdict, Verdict::kNotSent);

  // Without an expectation nothing is judged.
  judge.SetExpectation(std::nullopt);
  seen.clear();
  loopback.cycle.SendUdpData();
  EXPECT_TRUE(seen.empty());
  EXPECT_FALSE(judge.Last());
  loopback.cycle.SetObserver(nullptr);
}

}  // namespace
}  // namespace ostrel
