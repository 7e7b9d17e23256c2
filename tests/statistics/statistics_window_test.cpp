#include "statistics/statistics_window.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>
#include <algorithm>
#include <numeric>
#include <sstream>

#include "common/timer.h"
#include "logging/operation_log.h"
#include "support/delaying_peer.h"
#include "support/fake_message_box.h"
#include "support/loopback_cycle.h"
#include "support/test_support.h"
#include "transmission/socket_control.h"
#include "statistics/statistics.h"
#include "statistics/statistics_csv.h"

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using test::DelayingPeer;
using test::FakeMessageBoxes;
using test::LogMessages;
using test::TempDir;

QString Text(const StatisticsWindow& window, const char* figure) {
  return window.FigureValue(figure)->text();
}

class StatisticsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    intToolKind = 2;
    InitLog(dir_.str());
  }
  TempDir dir_;
  FakeMessageBoxes boxes_;
};

struct CsvLine {
  bool answered;
  uint32_t rtt_us;
  int bytes_sent, answer_bytes;
};

std::vector<CsvLine> ReadCsv(const std::string& text, std::string* header) {
  std::istringstream in(text);
  std::getline(in, *header);
  std::vector<CsvLine> lines;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, ',');) f.push_back(field);
    if (f.size() == 5) f.push_back("");  // getline drops an empty last field
    EXPECT_EQ(f.size(), 6u) << line;
    EXPECT_EQ(f[5], "") << "no verdict without an expectation: " << line;
    EXPECT_EQ(f[0].size(), 23u) << "yyyy-mm-dd hh:mm:ss.mmm: " << line;
    CsvLine l{f[2] == "1", 0, std::stoi(f[1]), std::stoi(f[4])};
    if (l.answered) {
      const auto dot = f[3].find('.');
      l.rtt_us =
          uint32_t(std::stoul(f[3].substr(0, dot)) * 1000 + std::stoul(f[3].substr(dot + 1)));
    } else {
      EXPECT_EQ(f[3], "") << line;
    }
    lines.push_back(l);
  }
  return lines;
}

std::string Ms(uint32_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%03u ms", us / 1000, us % 1000);
  return text;
}

// Real cycles against a device that holds its answers 3 or 60 ms and drops two
// datagrams; the window's labels and the saved CSV against the device's own record.
TEST_F(StatisticsWindowTest, ShowsWhatTheLoopbackPeerRecorded) {
  DelayingPeer peer([](int n) -> std::optional<std::chrono::microseconds> {
    if (n == 2 || n == 6) return std::nullopt;
    return n % 2 ? 60ms : 3ms;
  });
  int checks = 0;
  test::LoopbackCycle loopback(
      peer.port(),
      [&](const std::string&, uint8_t, std::function<void(bool)> done) {
        const bool reachable = ++checks != 1;  // the very first check fails
        QTimer::singleShot(0, [done, reachable] { done(reachable); });
      },
      {0x01, 0x02, 0x03}, 2, 2, 300, 50);
  SendCycle& cycle = loopback.cycle;
  const MainSettings& settings = loopback.settings;
  TransmissionStatistics stats;
  cycle.SetObserver(&stats);
  StatisticsWindow window(stats);

  constexpr int kCycles = 6;
  for (int i = 0; i < kCycles; ++i) ASSERT_TRUE(cycle.SendUdpData());
  window.Open();
  QUdpSocket third_party;  // a datagram while no cycle waits
  third_party.writeDatagram(QByteArray("x"), QHostAddress::LocalHost, settings.lngSrcPort);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Text(window, "Unsolicited") == "1"; }, 5000));

  const auto record = peer.Record();
  const auto answered =
      std::count_if(record.begin(), record.end(), [](auto& e) { return e.answered.has_value(); });
  ASSERT_EQ(record.size(), 8u);
  EXPECT_EQ(Text(window, "Cycles"), QString::number(kCycles));
  EXPECT_EQ(Text(window, "Transmissions"), QString::number(record.size()));
  EXPECT_EQ(Text(window, "Answered"), QString::number(answered));
  EXPECT_EQ(Text(window, "Unanswered"), QString::number(record.size() - answered));
  EXPECT_EQ(Text(window, "Retransmissions"), QString::number(record.size() - kCycles));
  EXPECT_EQ(Text(window, "FailedChecks"), "1");
  EXPECT_EQ(Text(window, "AnswerRatio"), "75.0 %");
  EXPECT_EQ(window.RttSeries()->count(), answered);
  EXPECT_EQ(window.UnansweredSeries()->count(), 2);

  const std::string path = dir_ / "stats.csv";
  QSignalSpy saved(&window, &StatisticsWindow::SaveFinished);
  ASSERT_TRUE(window.SaveCsv(QString::fromStdString(path)));
  ASSERT_TRUE(saved.wait(5000));
  EXPECT_TRUE(saved.front().front().toBool());
  std::string header;
  const auto lines = ReadCsv(test::ReadFileBytes(path), &header);
  EXPECT_EQ(header + "\n", kStatisticsCsvHeader);
  ASSERT_EQ(lines.size(), record.size());
  std::vector<uint32_t> rtts;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].bytes_sent, 3);
    ASSERT_EQ(lines[i].answered, record[i].answered.has_value()) << "transmission " << i;
    if (!lines[i].answered) continue;
    EXPECT_EQ(lines[i].answer_bytes, 4);
    // The round trip holds the device's own hold, give or take the way through the
    // machine; a time paired with the wrong transmission would be 57 ms off.
    const double hold_us = std::chrono::duration<double, std::micro>(record[i].Hold()).count();
    EXPECT_GT(lines[i].rtt_us, hold_us - 20'000) << "transmission " << i;
    EXPECT_LT(lines[i].rtt_us, hold_us + 40'000) << "transmission " << i;
    rtts.push_back(lines[i].rtt_us);
  }

  // The figures, worked out again from the saved times.
  std::vector<uint32_t> sorted = rtts;
  std::sort(sorted.begin(), sorted.end());
  uint64_t steps = 0;
  for (size_t i = 1; i < rtts.size(); ++i)
    steps += std::max(rtts[i], rtts[i - 1]) - std::min(rtts[i], rtts[i - 1]);
  const double mean = std::accumulate(rtts.begin(), rtts.end(), 0.0) / double(rtts.size());
  EXPECT_EQ(Text(window, "RttLast").toStdString(), Ms(rtts.back()));
  EXPECT_EQ(Text(window, "RttMin").toStdString(), Ms(sorted.front()));
  EXPECT_EQ(Text(window, "RttMax").toStdString(), Ms(sorted.back()));
  EXPECT_EQ(Text(window, "Rtt95").toStdString(), Ms(sorted[(95 * sorted.size() + 99) / 100 - 1]));
  EXPECT_EQ(Text(window, "RttMean").toStdString(), MillisecondsText(mean) + " ms");
  EXPECT_EQ(Text(window, "Jitter").toStdString(),
            MillisecondsText(double(steps) / double(rtts.size() - 1)) + " ms");

  // The verdict counts show only once a cycle had a verdict.
  EXPECT_TRUE(window.lblVerdicts()->isHidden());
  stats.AddVerdict(Verdict::kMatch);
  stats.AddVerdict(Verdict::kWrongSource);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window.lblVerdicts()->isHidden(); }, 5000));
  EXPECT_EQ(window.lblVerdicts()->text(),
            "判定  一致 1  不一致 0  送信元不一致 1  応答なし 0  未送信 0");

  window.cmdReset()->click();
  EXPECT_EQ(Text(window, "Transmissions"), "0");
  EXPECT_EQ(Text(window, "RttMean"), "--");
  EXPECT_EQ(window.RttSeries()->count(), 0);
  EXPECT_TRUE(window.lblVerdicts()->isHidden());
}

TEST_F(StatisticsWindowTest, FailedSaveSaysSoLogsItAndKeepsTheOldFile) {
  TransmissionStatistics stats;
  stats.Transmitted(3, std::chrono::steady_clock::now(), 1);
  stats.TransmissionUnanswered();
  StatisticsWindow window(stats);
  const std::string kept = dir_ / "folder.csv";
  std::filesystem::create_directory(kept);  // a folder where the file should go
  QSignalSpy saved(&window, &StatisticsWindow::SaveFinished);
  ASSERT_TRUE(window.SaveCsv(QString::fromStdString(kept)));
  EXPECT_FALSE(window.SaveCsv(QString::fromStdString(kept))) << "one save at a time";
  ASSERT_TRUE(saved.wait(5000));
  EXPECT_FALSE(saved.front().front().toBool());
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].icon, MsgIcon::Critical);
  EXPECT_EQ(
      boxes_.shown[0].text.rfind("CSVファイルを保存できませんでした。\r\n" + kept + "\r\n", 0), 0u)
      << boxes_.shown[0].text;
  const auto log = LogMessages(strLogFile[2]);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(log[0].ends_with("(cmdSaveCsv_Click)")) << log[0];
  EXPECT_TRUE(std::filesystem::is_empty(kept));
  EXPECT_EQ(stats.RecordCount(), 1u) << "the statistics are kept";
  EXPECT_TRUE(window.cmdSaveCsv()->isEnabled());
}

}  // namespace
}  // namespace ostrel
