#include "settings/read_setting.h"

#include <gtest/gtest.h>

#include "common/run_time_error.h"
#include "common/tool_kind.h"
#include "logging/operation_log.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

using test::LogMessages;
using test::TempDir;
using test::WriteFileBytes;

constexpr const char* kFailed = "設定ファイルの読み込みに失敗しました。";

class FakeHost : public ReadSettingHost {
 public:
  void ShowCriticalMessage(const std::string& text) override { messages.push_back(text); }
  void SetAnswerTimerInterval(int32_t ms) override {
    if (ms < 0 || ms > 65535) throw RunTimeError(desc::kInvalidPropertyValue);
    interval = ms;
  }
  std::vector<std::string> messages;
  int32_t interval = 0;
};

const char* const kGoodFile =
    "[IPAddress]\r\nIPAddress=192.168.1.20\r\n"
    "[Port]\r\nUdpSrcPort=50001\r\nUdpDestPort=50000\r\n"
    "[Maintenance]\r\nSendInterval=5\r\nSendIntervalUnit=1\r\nCommonSendRetry=3\r\n"
    "PingRetry=2\r\nUdpAnsTimerInteval=300\r\nUdpAnsTimeOut=1000\r\nLogMaxSize=4\r\n"
    "LogGenerations=6\r\n";

class ReadSettingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    intToolKind = 2;
    InitLog(dir_.str());
    intLogMaxSize = 0;
    intLogGenerations = 0;
  }
  // The good file with the line starting `key=` replaced by `line` (removed when empty).
  void WriteWith(const std::string& key, const std::string& line) {
    std::string text = kGoodFile;
    const auto pos = text.find(key + "=");
    const auto end = text.find("\r\n", pos) + 2;
    text.replace(pos, end - pos, line.empty() ? "" : line + "\r\n");
    WriteFileBytes(file_, text);
  }
  std::vector<std::string> Log() { return LogMessages(strLogFile[2]); }

  TempDir dir_;
  std::string file_ = dir_ / "Kiv_UdpSendSetting.ini";
  MainSettings s_;
  FakeHost host_;
};

TEST_F(ReadSettingTest, GoodFileLoadsEveryKeyWithoutMessages) {
  WriteFileBytes(file_, kGoodFile);
  ReadSetting(file_, s_, host_);
  EXPECT_EQ(s_.strDestIpAddress, "192.168.1.20");
  EXPECT_EQ(s_.lngSrcPort, 50001);
  EXPECT_EQ(s_.lngDestPort, 50000);
  EXPECT_EQ(s_.lngSendInterval, 5);
  EXPECT_EQ(s_.intSendIntervalUnit, 1);
  EXPECT_EQ(s_.intCommonSendRetry, 3);
  EXPECT_EQ(s_.intPingRetry, 2);
  EXPECT_EQ(host_.interval, 300);
  EXPECT_EQ(s_.lngAnsTimeOut, 1000);
  EXPECT_EQ(intLogMaxSize, 4);
  EXPECT_EQ(intLogGenerations, 6);
  EXPECT_TRUE(host_.messages.empty());
  EXPECT_TRUE(Log().empty());
}

TEST_F(ReadSettingTest, MissingFileFailsAtTheFirstStrictKey) {
  ReadSetting(dir_ / "missing.ini", s_, host_);
  EXPECT_EQ(host_.messages, (std::vector<std::string>{"共通のリトライ回数が不正です。", kFailed}));
  EXPECT_EQ(Log(), std::vector<std::string>{"(ReadSetting)"});
  EXPECT_EQ(s_.strDestIpAddress, "");
  EXPECT_EQ(s_.lngSrcPort, 0);
}

TEST_F(ReadSettingTest, EachStrictKeyEmptyOrMissingShowsItsOwnMessage) {
  const struct {
    const char* key;
    const char* message;
  } keys[] = {{"CommonSendRetry", "共通のリトライ回数が不正です。"},
              {"PingRetry", "Pingリトライ回数が不正です。"},
              {"UdpAnsTimerInteval", "UDP応答タイマインターバルが不正です。"},
              {"UdpAnsTimeOut", "UDP応答タイムアウト値が不正です。"},
              {"LogMaxSize", "ログ最大サイズが不正です。"},
              {"LogGenerations", "ログ最大世代数が不正です。"}};
  for (const auto& k : keys) {
    for (const std::string& line : {std::string(k.key) + "=", std::string(k.key) + "=abc",
                                   std::string()}) {
      host_.messages.clear();
      WriteWith(k.key, line);
      ReadSetting(file_, s_, host_);
      EXPECT_EQ(host_.messages, (std::vector<std::string>{k.message, kFailed}))
          << "line '" << line << "' of " << k.key;
    }
  }
}

TEST_F(ReadSettingTest, FailureKeepsEarlierKeysAndLeavesLaterOnesAlone) {
  WriteWith("UdpAnsTimeOut", "UdpAnsTimeOut=");
  s_.lngAnsTimeOut = 77;
  ReadSetting(file_, s_, host_);
  EXPECT_EQ(s_.intPingRetry, 2);
  EXPECT_EQ(host_.interval, 300);
  EXPECT_EQ(s_.lngAnsTimeOut, 77);
  EXPECT_EQ(intLogMaxSize, 0);
  EXPECT_EQ(intLogGenerations, 0);
}

TEST_F(ReadSettingTest, OverflowShowsOnlyTheFailureMessageAndLogsTheError) {
  const struct {
    const char* key;
    const char* line;
  } cases[] = {{"CommonSendRetry", "CommonSendRetry=32768"},
               {"UdpSrcPort", "UdpSrcPort=4294967296"},
               {"SendIntervalUnit", "SendIntervalUnit=40000"},
               {"LogGenerations", "LogGenerations=-32769"}};
  for (const auto& c : cases) {
    host_.messages.clear();
    WriteWith(c.key, c.line);
    ReadSetting(file_, s_, host_);
    EXPECT_EQ(host_.messages, std::vector<std::string>{kFailed}) << c.line;
    EXPECT_EQ(Log().back(), "オーバーフローしました。(ReadSetting)") << c.line;
  }
}

TEST_F(ReadSettingTest, OverflowInACommunicationKeyEndsTheLoadThere) {
  WriteWith("UdpSrcPort", "UdpSrcPort=99999999999");
  ReadSetting(file_, s_, host_);
  EXPECT_EQ(s_.strDestIpAddress, "") << "keys after the failing one are not read";
  EXPECT_EQ(s_.intCommonSendRetry, 0);
}

TEST_F(ReadSettingTest, TimerIntervalOutsideItsRangeLogsTheTimersError) {
  WriteWith("UdpAnsTimerInteval", "UdpAnsTimerInteval=70000");
  ReadSetting(file_, s_, host_);
  EXPECT_EQ(host_.messages, std::vector<std::string>{kFailed});
  EXPECT_EQ(Log(), std::vector<std::string>{"プロパティの値が無効です。(ReadSetting)"});
  EXPECT_EQ(s_.lngAnsTimeOut, 0);
}

TEST_F(ReadSettingTest, CommunicationKeysAreLenient) {
  std::string text = kGoodFile;
  text.replace(text.find("UdpSrcPort=50001"), 16, "UdpSrcPort=abc");
  text.replace(text.find("IPAddress=192.168.1.20"), 22, "IPAddress=not-an-address");
  text.replace(text.find("UdpDestPort=50000"), 17, "UdpDestPort=");
  WriteFileBytes(file_, text);
  s_.lngDestPort = 9;
  ReadSetting(file_, s_, host_);
  EXPECT_EQ(s_.lngSrcPort, 0);
  EXPECT_EQ(s_.strDestIpAddress, "not-an-address");
  EXPECT_EQ(s_.lngDestPort, 9);
  EXPECT_TRUE(host_.messages.empty());
}

TEST_F(ReadSettingTest, HalvesRoundToEvenAndBlanksAreTrimmed) {
  WriteWith("PingRetry", "PingRetry = 2.5 ");
  ReadSetting(file_, s_, host_);
  EXPECT_EQ(s_.intPingRetry, 2);
  WriteWith("PingRetry", "PingRetry=3.5");
  ReadSetting(file_, s_, host_);
  EXPECT_EQ(s_.intPingRetry, 4);
}

TEST_F(ReadSettingTest, SendIntervalIsFoundInEitherSpelling) {
  WriteWith("SendInterval", "Sendinterval=42");
  ReadSetting(file_, s_, host_);
  EXPECT_EQ(s_.lngSendInterval, 42);
}

TEST_F(ReadSettingTest, LogMaxSizeZeroIsAccepted) {
  WriteWith("LogMaxSize", "LogMaxSize=0");
  ReadSetting(file_, s_, host_);
  EXPECT_TRUE(host_.messages.empty());
  EXPECT_EQ(intLogMaxSize, 0);
  EXPECT_EQ(intLogGenerations, 6);
}

}  // namespace
}  // namespace ostrel
