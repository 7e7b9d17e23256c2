#include "cli/cycle_report.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

// A run of four cycles as the recorder hears them: answered after a retransmission,
// unanswered, unreachable, answered at once; with a late and an empty datagram between.
std::vector<CycleRecord> RecordedRun() {
  CycleRecorder recorder;
  std::vector<CycleRecord> records;
  const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
  const auto end = [&](CycleOutcome outcome) {
    recorder.CycleEnded(outcome);
    records.push_back(*recorder.TakeEnded());
    EXPECT_FALSE(recorder.TakeEnded()) << "a record is taken once";
  };
  recorder.CycleStarted();
  recorder.Transmitted(16, t0, 1);
  recorder.Transmitted(16, t0 + 300ms, 2);
  recorder.Arrived(4, t0 + 302500us, true);  // answers the retransmission
  recorder.Arrived(4, t0 + 303ms, false);    // a second datagram counts for nothing
  end(CycleOutcome::kAnswered);

  recorder.CycleStarted();
  recorder.Transmitted(16, t0 + 1s, 1);
  recorder.Arrived(0, t0 + 1s + 1ms, false);
  end(CycleOutcome::kUnanswered);

  recorder.CycleStarted();
  end(CycleOutcome::kUnreachable);

  recorder.CycleStarted();
  recorder.Transmitted(8, t0 + 3s, 1);
  recorder.Arrived(8, t0 + 3s + 500us, true);
  end(CycleOutcome::kAnswered);
  return records;
}

TEST(CycleReport, LinesAndSummaryOfAMixedRun) {
  const std::vector<CycleRecord> records = RecordedRun();
  std::string lines;
  RunSummary summary;
  for (size_t i = 0; i < records.size(); ++i) {
    lines += CycleText(static_cast<int64_t>(i + 1), records[i]);
    summary.Add(records[i]);
  }
  EXPECT_EQ(lines,
            "cycle 1: answered sent=16 answer=4 rtt=2.500ms transmissions=2\n"
            "cycle 2: unanswered sent=16 answer=- rtt=- transmissions=1\n"
            "cycle 3: unreachable sent=0 answer=- rtt=- transmissions=0\n"
            "cycle 4: answered sent=8 answer=8 rtt=0.500ms transmissions=1\n");
  EXPECT_EQ(SummaryText(summary, {"127.0.0.1", 5000, 6000}),
            "Statistics for 127.0.0.1 port 5000 from port 6000:\n"
            " Cycles: 4 | Transmissions: 4 | Answered: 2 | Lost: 2 (50.00%)\n"
            " Max rtt: 2.500ms | Min rtt: 0.500ms | Avg rtt: 1.500ms\n");
  EXPECT_EQ(ExitStatus(summary), kExitNotAnswered);
}

TEST(CycleReport, JsonObjectsParseWithTheirNulls) {
  const std::vector<CycleRecord> records = RecordedRun();
  const auto parse = [](const std::string& line) {
    EXPECT_EQ(line.back(), '\n');
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    return doc.object();
  };
  const QJsonObject first = parse(CycleJson(1, records[0]));
  EXPECT_EQ(first["outcome"].toString(), "answered");
  EXPECT_EQ(first["transmissions"].toInt(), 2);
  EXPECT_DOUBLE_EQ(first["rtt_ms"].toDouble(), 2.5);
  const QJsonObject second = parse(CycleJson(2, records[1]));
  EXPECT_TRUE(second["answer_bytes"].isNull() && second["rtt_ms"].isNull());

  RunSummary empty;
  empty.interrupted = true;
  const QJsonObject summary = parse(SummaryJson(empty, {"127.0.0.1\t\"", 1, 2}));
  EXPECT_EQ(summary["destination"].toString(), "127.0.0.1\t\"");
  EXPECT_TRUE(summary["rtt_avg_ms"].isNull());
  EXPECT_EQ(summary["lost_percent"].toDouble(), 0.0) << "nothing sent, nothing lost";
  EXPECT_TRUE(summary["interrupted"].toBool());
  EXPECT_EQ(ExitStatus(empty), kExitNotAnswered) << "no cycle is no success";
}

TEST(CycleReport, AnyErrorCycleMakesTheRunARunTimeError) {
  RunSummary summary;
  summary.Add({CycleOutcome::kAnswered, 1, 1, 1, 0.1, {}});
  EXPECT_EQ(ExitStatus(summary), kExitAllAnswered);
  summary.Add({CycleOutcome::kUnreachable, 0, 0, {}, {}, {}});
  summary.Add(CycleRecord{});  // an error
  EXPECT_EQ(ExitStatus(summary), kExitRunTimeError);
}

TEST(CycleReport, LostLogLinesMakeAnAnsweredRunARunTimeErrorAndAreSaid) {
  RunSummary summary;
  summary.Add({CycleOutcome::kAnswered, 1, 1, 1, 0.1, {}});
  summary.lost_log_lines = 2;
  EXPECT_EQ(ExitStatus(summary), kExitRunTimeError);
  EXPECT_TRUE(SummaryText(summary, {"127.0.0.1", 1, 2})
                  .ends_with("\n Log: 2 lines could not be written\n"));
  EXPECT_NE(SummaryJson(summary, {"127.0.0.1", 1, 2}).find(",\"lost_log_lines\":2}"),
            std::string::npos);
}

TEST(CycleReport, VerdictsInTheLineAndSummaryAndTheExitStatusTheyGive) {
  RunSummary summary;
  summary.verdicts.emplace();
  summary.test_name = "read\nregisters";
  CycleRecord record{CycleOutcome::kAnswered, 1, 3, 2, 0.5, Judgement{Verdict::kMatch, {}}};
  summary.Add(record);
  EXPECT_EQ(ExitStatus(summary), kExitAllAnswered);
  record.judgement = Judgement{Verdict::kMismatch, {4, 5}};
  EXPECT_EQ(CycleText(2, record),
            "cycle 2: answered sent=3 answer=2 rtt=0.500ms transmissions=1 verdict=mismatch "
            "mismatch_at=4,5\n");
  summary.Add(record);
  EXPECT_EQ(ExitStatus(summary), kExitNotAsExpected);
  EXPECT_TRUE(SummaryText(summary, {"127.0.0.1", 1, 2})
                  .ends_with(" Test: read registers\n Verdicts: match 1 | mismatch 1 | "
                             "wrong-source 0 | no-answer 0 | not-sent 0\n"));
  summary.Add({CycleOutcome::kUnanswered, 1, 3, {}, {}, Judgement{Verdict::kNoAnswer, {}}});
  EXPECT_EQ(ExitStatus(summary), kExitNotAnswered) << "no answer wins over a wrong one";
}

}  // namespace
}  // namespace ostrel
