// ostrel-send's run in this process: a program folder of the test's own, a loopback peer
// and a reachability check that answers as told.

#include "cli/terminal_send.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>
#include <csignal>
#include <filesystem>
#include <sstream>

#include "cli/cycle_report.h"
#include "logging/operation_log.h"
#include "startup/working_folders.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

using test::LogMessages;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
using Lines = std::vector<std::string>;

uint16_t FreePort() {
  QUdpSocket probe;
  probe.bind(QHostAddress::LocalHost, 0);
  return probe.localPort();
}

class TerminalSendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolderForTesting(dir_.str());
    std::filesystem::create_directories(dir_.path() / "Config");
    std::filesystem::create_directories(dir_.path() / "Temp");
    WriteFileBytes(dir_ / "Temp/keep", "x");
    ASSERT_TRUE(peer_.bind(QHostAddress::LocalHost, 0));
    ASSERT_TRUE(other_port_.bind(QHostAddress::LocalHost, 0));
    QObject::connect(&peer_, &QUdpSocket::readyRead, [this] {
      while (peer_.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = peer_.receiveDatagram();
        ++received_;
        last_request_ = datagram.data();
        // Scripted: the fixed answer (else an echo), from the peer's port or another one.
        QUdpSocket& from = from_other_port_ ? other_port_ : peer_;
        if (echo_ && (answers_ < 0 || received_ <= answers_))
          from.writeDatagram(answer_.value_or(datagram.data()), datagram.senderAddress(),
                             datagram.senderPort());
        if (received_ == interrupt_at_) std::raise(SIGINT);
      }
    });
    src_port_ = FreePort();
    WriteSettings("IPAddress=127.0.0.1");
    options_.hex_bytes = {0x01, 0x02, 0x03};
  }
  void TearDown() override { SetProgramFolderForTesting(""); }

  void WriteSettings(const std::string& address_line,
                     const std::string& maintenance =
                         "SendInterval=2000\r\nSendIntervalUnit=0\r\n"
                         "CommonSendRetry=1\r\nPingRetry=1\r\n"
                         "UdpAnsTimerInteval=20\r\nUdpAnsTimeOut=60\r\n"
                         "LogMaxSize=3\r\nLogGenerations=10\r\n") {
    settings_text_ = "[IPAddress]\r\n" + address_line +
                     "\r\n[Port]\r\nUdpSrcPort=" + std::to_string(src_port_) +
                     "\r\nUdpDestPort=" + std::to_string(peer_.localPort()) +
                     "\r\n[Maintenance]\r\n" + maintenance;
    WriteFileBytes(SettingsFile(), settings_text_);
  }
  std::string SettingsFile() const { return dir_ / "Config/Kiv_UdpSendSetting.ini"; }

  int Run() {
    PingStart ping = [this](const std::string&, uint8_t, std::function<void(bool)> done) {
      ++checks_;
      QTimer::singleShot(0, [done, reachable = reachable_] { done(reachable); });
    };
    TerminalSend send(options_, out_, err_, ping);
    return send.Run();
  }
  Lines Log() const { return LogMessages(dir_ / "Log/Kiv_UdpSndLog.txt"); }
  Lines Out() const {
    Lines lines;
    std::istringstream in(out_.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // A --json run from a fresh output: its exit status, then the cycles' objects and the
  // summary's.
  int RunJson(std::vector<QJsonObject>& objects) {
    options_.json = true;
    out_.str("");
    const int status = Run();
    objects.clear();
    for (const std::string& line : Out())
      objects.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    return status;
  }

  TempDir dir_;
  QUdpSocket peer_, other_port_;
  uint16_t src_port_ = 0;
  std::string settings_text_;
  SendOptions options_;
  std::ostringstream out_, err_;
  bool echo_ = true;
  std::optional<QByteArray> answer_;  // none: echo
  bool from_other_port_ = false;
  int answers_ = -1;  // only the first ones are answered; -1: all
  QByteArray last_request_;
  bool reachable_ = true;
  int received_ = 0;
  int interrupt_at_ = -1;
  int checks_ = 0;
};

TEST_F(TerminalSendTest, AnsweredCyclesExitZeroWithTheWindowsLogAndTheAnswerFile) {
  std::string file(2100, '\0');
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<char>(i * 7);
  WriteFileBytes(dir_ / "data.bin", file);
  options_.data_file = dir_ / "data.bin";
  options_.count = 2;
  options_.interval_ms = 10;
  options_.answer_out = dir_ / "answer.bin";

  EXPECT_EQ(Run(), kExitAllAnswered) << err_.str();
  const Lines once = {"接続先:127.0.0.1 Ping OK", "2048バイトのデータを送信しました。",
                      "2048バイトの応答データを受信しました。"};
  Lines twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(Log(), twice);
  const Lines out = Out();
  ASSERT_EQ(out.size(), 5u) << out_.str();
  EXPECT_EQ(out[0].rfind("cycle 1: answered sent=2048 answer=2048 rtt=", 0), 0u) << out[0];
  EXPECT_EQ(out[1].rfind("cycle 2: answered ", 0), 0u) << out[1];
  EXPECT_EQ(out[3], " Cycles: 2 | Transmissions: 2 | Answered: 2 | Lost: 0 (0.00%)");
  EXPECT_EQ(ReadFileBytes(dir_ / "answer.bin"), file.substr(0, 2048));
  EXPECT_EQ(ReadFileBytes(SettingsFile()), settings_text_) << "the settings file is never written";
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "Temp/keep")) << "Temp is left alone";
}

TEST_F(TerminalSendTest, SilentPeerIsRetriedAndExitsOneWithoutAnAnswerFile) {
  echo_ = false;
  options_.retries = 3;
  options_.answer_out = dir_ / "answer.bin";

  EXPECT_EQ(Run(), kExitNotAnswered);
  EXPECT_EQ(received_, 3);
  EXPECT_EQ(Log(), (Lines{"接続先:127.0.0.1 Ping OK", "3バイトのデータを送信しました。",
                          "リトライ開始(1)(送信時)", "3バイトのデータを送信しました。",
                          "リトライ開始(2)(送信時)", "3バイトのデータを送信しました。",
                          "リトライオーバー(送信時)"}));
  EXPECT_EQ(Out().at(0), "cycle 1: unanswered sent=3 answer=- rtt=- transmissions=3");
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "answer.bin"));
  EXPECT_NE(err_.str().find("書き出していません"), std::string::npos) << err_.str();
}

TEST_F(TerminalSendTest, UnreachableDestinationSendsNothingAndExitsOne) {
  reachable_ = false;
  options_.ping_retries = 2;
  EXPECT_EQ(Run(), kExitNotAnswered);
  EXPECT_EQ(checks_, 2);
  EXPECT_EQ(received_, 0);
  EXPECT_EQ(Out().at(0), "cycle 1: unreachable sent=0 answer=- rtt=- transmissions=0");
}

TEST_F(TerminalSendTest, HeldSourcePortIsARunTimeErrorThatEndsTheRun) {
  QUdpSocket holder;
  ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, src_port_));
  options_.count = 3;
  options_.interval_ms = 10;
  EXPECT_EQ(Run(), kExitRunTimeError);
  ASSERT_EQ(Log().size(), 2u);
  EXPECT_TRUE(Log()[1].ends_with("(SendUdpData)")) << Log()[1];
  EXPECT_EQ(Out().at(0).rfind("cycle 1: error ", 0), 0u);
  EXPECT_EQ(Out().at(1).rfind("Statistics", 0), 0u) << "no second cycle after an error";
}

TEST_F(TerminalSendTest, UnusableSettingsExitTwoBeforeAnythingIsSent) {
  const struct {
    std::string address_line, maintenance, message;
  } cases[] = {
      {"IPAddress=abc",
       "SendInterval=2000\r\nSendIntervalUnit=0\r\nCommonSendRetry=1\r\n"
       "PingRetry=1\r\nUdpAnsTimerInteval=20\r\nUdpAnsTimeOut=60\r\n"
       "LogMaxSize=3\r\nLogGenerations=10\r\n",
       "[IPAddress] IPAddress \"abc\": 送信先IPアドレスが不正です。(0.0.0.0～255.255.255.255)"},
      {"IPAddress=127.0.0.1", "", "共通のリトライ回数が不正です。"},
  };
  for (const auto& c : cases) {
    WriteSettings(c.address_line, c.maintenance);
    err_.str("");
    EXPECT_EQ(Run(), kExitUsage) << c.message;
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
    EXPECT_EQ(checks_, 0);
    EXPECT_EQ(received_, 0);
  }
  options_.dest = "127.0.0.1";  // an override replaces the unusable stored address
  WriteSettings("IPAddress=abc");
  EXPECT_EQ(Run(), kExitAllAnswered) << err_.str();
}

TEST_F(TerminalSendTest, InterruptEndsTheRunAfterTheRunningCycle) {
  options_.count = 0;  // until interrupted
  options_.interval_ms = 10;
  interrupt_at_ = 2;  // Ctrl-C while the second cycle waits for its answer
  EXPECT_EQ(Run(), kExitAllAnswered);
  const Lines out = Out();
  ASSERT_EQ(out.size(), 5u) << out_.str();
  EXPECT_EQ(out[1].rfind("cycle 2: answered ", 0), 0u);
  EXPECT_TRUE(out[2].ends_with("(interrupted):")) << out[2];
  EXPECT_EQ(received_, 2);
}

// The verdicts of a scripted device's answers, as a script reads them: the exit status,
// the JSON and the log line after the cycle's own.
TEST_F(TerminalSendTest, VerdictsReachTheExitStatusTheJsonAndTheLog) {
  answer_ = QByteArray("\x12\x34\x56", 3);
  std::vector<QJsonObject> json;
  const auto expect = [&](const char* pattern, SenderRule from = SenderRule::kAddress) {
    options_.expect = AnswerPattern::Parse(pattern).pattern;
    options_.expect_from = from;
  };

  expect("12 34 5?");
  EXPECT_EQ(RunJson(json), kExitAllAnswered) << err_.str();
  ASSERT_EQ(json.size(), 2u);
  EXPECT_EQ(json[0]["verdict"].toString(), "match");
  EXPECT_FALSE(json[0].contains("mismatch_at"));
  EXPECT_EQ(json[1]["verdicts"].toObject()["match"].toInt(), 1);
  EXPECT_EQ(Log(), (Lines{"接続先:127.0.0.1 Ping OK", "3バイトのデータを送信しました。",
                          "3バイトの応答データを受信しました。", "判定:一致"}));

  expect("12 35 56 78");  // one wrong byte, one missing
  EXPECT_EQ(RunJson(json), kExitNotAsExpected);
  EXPECT_EQ(json[0]["verdict"].toString(), "mismatch");
  EXPECT_EQ(json[0]["mismatch_at"].toArray(), (QJsonArray{1, 3}));
  EXPECT_EQ(Log().back(), "判定:不一致(0001,0003)");

  from_other_port_ = true;
  expect("12 34 56", SenderRule::kAddressAndPort);
  EXPECT_EQ(RunJson(json), kExitNotAsExpected);
  EXPECT_EQ(json[0]["verdict"].toString(), "wrong-source");
  expect("12 34 56", SenderRule::kAddress);
  EXPECT_EQ(RunJson(json), kExitAllAnswered) << "any port of the destination's address";
  from_other_port_ = false;

  // A cycle without an answer wins over a wrong answer.
  expect("FF");
  received_ = 0;
  answers_ = 1;
  options_.count = 2;
  options_.interval_ms = 10;
  EXPECT_EQ(RunJson(json), kExitNotAnswered);
  ASSERT_EQ(json.size(), 3u);
  EXPECT_EQ(json[1]["verdict"].toString(), "no-answer");
  const QJsonObject counts = json[2]["verdicts"].toObject();
  EXPECT_EQ(counts["mismatch"].toInt(), 1);
  EXPECT_EQ(counts["no-answer"].toInt(), 1);
  EXPECT_EQ(Log().back(), "判定:応答なし");

  reachable_ = false;
  options_.count = 1;
  EXPECT_EQ(RunJson(json), kExitNotAnswered);
  EXPECT_EQ(json[0]["verdict"].toString(), "not-sent");
  EXPECT_EQ(Log().back(), "判定:未送信");
}

TEST_F(TerminalSendTest, TestFileGivesPayloadAndExpectationAndOptionsReplaceTheirParts) {
  WriteFileBytes(dir_ / "request.bin", "\xA1\xA2");
  WriteFileBytes(dir_ / "echo.json", R"({"ostrel_test": 1, "name": "echo",
      "payload": {"file": "request.bin"},
      "expect": {"pattern": "A1 A2", "from": "address-and-port"}})");
  options_.hex_bytes.clear();
  options_.test_file = dir_ / "echo.json";
  std::vector<QJsonObject> json;
  EXPECT_EQ(RunJson(json), kExitAllAnswered) << err_.str();
  EXPECT_EQ(last_request_, QByteArray("\xA1\xA2")) << "the payload file beside the test file";
  EXPECT_EQ(json.at(1)["test"].toString(), "echo");
  EXPECT_EQ(json.at(1)["verdicts"].toObject()["match"].toInt(), 1);

  options_.hex_bytes = {0xA1, 0xFF};  // --hex replaces the payload, not the expectation
  EXPECT_EQ(RunJson(json), kExitNotAsExpected);
  EXPECT_EQ(json.at(0)["mismatch_at"].toArray(), QJsonArray{1});
  options_.expect = AnswerPattern::Parse("A1 FF").pattern;  // --expect: the file's "from" stays
  from_other_port_ = true;
  EXPECT_EQ(RunJson(json), kExitNotAsExpected);
  EXPECT_EQ(json.at(0)["verdict"].toString(), "wrong-source");
  options_.expect_from = SenderRule::kAny;
  EXPECT_EQ(RunJson(json), kExitAllAnswered);
}

TEST_F(TerminalSendTest, TestFileThatDoesNotOpenExitsTwoAndSendsNothing) {
  const struct {
    std::string json, message;
  } cases[] = {
      {R"({"ostrel_test": 2, "payload": {"hex": "01"}})",
       "\"ostrel_test\" の値 2 は読めません（この版が読めるのは 1 です）。"},
      {R"({"ostrel_test": 1, "paylaod": {"hex": "01"}})",
       "\"paylaod\" は試験ファイルのキーではありません。"},
      {R"({"ostrel_test": 1, "payload": {"hex": "01"}, "expect": {"pattern": "01 GG"}})",
       "\"expect.pattern\": 期待応答の 2 番目の語 \"GG\" は"},
      {R"({"ostrel_test": 1, "payload": {"file": "missing.bin"}})",
       "missing.bin: ファイルがありません。"},
      {R"({"ostrel_test": 1, "expect": {"pattern": "01"}})",
       "送信データ（\"payload\"）がありません。--data か --hex で指定してください。"},
  };
  options_.hex_bytes.clear();
  options_.test_file = dir_ / "test.json";
  for (const auto& c : cases) {
    WriteFileBytes(dir_ / "test.json", c.json);
    err_.str("");
    EXPECT_EQ(Run(), kExitUsage) << c.json;
    EXPECT_EQ(err_.str().rfind("ostrel-send: --test " + *options_.test_file + ": ", 0), 0u)
        << err_.str();
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
  }
  EXPECT_EQ(checks_, 0);
  EXPECT_EQ(received_, 0);
  EXPECT_TRUE(Out().empty());
  EXPECT_TRUE(Log().empty());
}

TEST_F(TerminalSendTest, CrcIsAppendedToEveryCycleOnceAndMustFit) {
  options_.hex_bytes = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
  FieldDefinition crc;
  crc.model = "CRC-16/MODBUS";
  crc.at.reset();
  crc.order = ByteOrder::kLittle;
  options_.fields = {crc};
  options_.count = 2;
  options_.interval_ms = 0;
  options_.answer_out = dir_ / "answer.bin";
  EXPECT_EQ(Run(), kExitAllAnswered) << err_.str();
  EXPECT_EQ(ReadFileBytes(dir_ / "answer.bin"), std::string("\x01\x03\x00\x00\x00\x0A\xC5\xCD", 8))
      << "the echo of what went out";
  EXPECT_EQ(Log().at(4), "8バイトのデータを送信しました。") << "the second cycle appends it once";

  options_.hex_bytes.assign(2047, 0);
  received_ = 0;
  EXPECT_EQ(Run(), kExitUsage);
  EXPECT_EQ(received_, 0);
  EXPECT_NE(err_.str().find("2049 バイトになり、2048 バイトを超えます。"), std::string::npos)
      << err_.str();
}

}  // namespace
}  // namespace ostrel
