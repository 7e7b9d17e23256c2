// ostrel-send's run in this process: a program folder of the test's own, a loopback peer
// and a reachability check that answers as told.

#include "cli/terminal_send.h"

#include <gtest/gtest.h>

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
    QObject::connect(&peer_, &QUdpSocket::readyRead, [this] {
      while (peer_.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = peer_.receiveDatagram();
        ++received_;
        if (echo_) peer_.writeDatagram(datagram.makeReply(datagram.data()));
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

  TempDir dir_;
  QUdpSocket peer_;
  uint16_t src_port_ = 0;
  std::string settings_text_;
  SendOptions options_;
  std::ostringstream out_, err_;
  bool echo_ = true;
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

TEST_F(TerminalSendTest, CrcIsAppendedToEveryCycleOnceAndMustFit) {
  options_.hex_bytes = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
  FieldSpec crc;
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
