#include "statistics/statistics_csv.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>

#include "common/atomic_file.h"
#include "common/run_time_error.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
namespace fs = std::filesystem;

// Statistics with three transmissions sent at 2024-05-06 13:07:09.400 JST and after.
class StatisticsCsvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    saved_tz_ = tz ? std::optional<std::string>(tz) : std::nullopt;
    setenv("TZ", "JST-9", 1);
    tzset();
    const auto at = [&](std::chrono::milliseconds ms) {
      wall_ = std::chrono::system_clock::time_point(ms);
    };
    const std::chrono::steady_clock::time_point t{1h};
    // A cycle without an expectation, then one with a retransmission that is judged:
    // its verdict goes on the line of its last transmission only.
    at(1714968429400ms);
    stats_.CycleStarted();
    stats_.Transmitted(16, t, 1);
    stats_.Arrived(4, t + 12345us, true);
    stats_.CycleEnded(CycleOutcome::kAnswered);
    stats_.CycleStarted();
    at(1714968429999ms);
    stats_.Transmitted(16, t + 1s, 1);
    stats_.TransmissionUnanswered();
    at(1714968430005ms);
    stats_.Transmitted(2048, t + 2s, 2);
    stats_.Arrived(65507, t + 2s + 999us, true);
    stats_.CycleEnded(CycleOutcome::kAnswered);
    stats_.AddVerdict(Verdict::kMismatch);
    // A cycle that sent nothing is counted but has no line.
    stats_.CycleStarted();
    stats_.CheckFailed();
    stats_.CycleEnded(CycleOutcome::kUnreachable);
    stats_.AddVerdict(Verdict::kNotSent);
  }
  void TearDown() override {
    if (saved_tz_)
      setenv("TZ", saved_tz_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  static std::vector<std::string> Leftovers(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    return names;
  }

  std::optional<std::string> saved_tz_;
  std::chrono::system_clock::time_point wall_;
  TransmissionStatistics stats_{[this] { return wall_; }};
  TempDir dir_;
};

constexpr const char* kExpected =
    "送信時刻,送信バイト数,応答,往復時間(ms),応答バイト数,判定\n"
    "2024-05-06 13:07:09.400,16,1,12.345,4,\n"
    "2024-05-06 13:07:09.999,16,0,,0,\n"
    "2024-05-06 13:07:10.005,2048,1,0.999,65507,不一致\n";

TEST_F(StatisticsCsvTest, LinesHoldLocalTimeBytesAnswerRoundTripTimeAndVerdict) {
  EXPECT_EQ(StatisticsCsvText(stats_.Snapshot()), kExpected);
  EXPECT_EQ(stats_.verdicts().Count(Verdict::kMismatch), 1u);
  EXPECT_EQ(stats_.verdicts().Count(Verdict::kNotSent), 1u);
  EXPECT_EQ(stats_.verdicts().Total(), 2u);
  EXPECT_EQ(MillisecondsText(1234.5), "1.235");
  EXPECT_EQ(MillisecondsText(0), "0.000");
  EXPECT_EQ(MillisecondsText(65'432'100), "65432.100");
}

TEST_F(StatisticsCsvTest, SaveReplacesTheFileWholeAndAFailureLeavesWhatWasThere) {
  const fs::path fresh = dir_ / "fresh.csv";
  ASSERT_TRUE(SaveStatisticsCsv(stats_.Snapshot(), fresh));
  EXPECT_EQ(ReadFileBytes(fresh), kExpected);
  EXPECT_EQ(fs::status(fresh).permissions(), fs::perms(0666 & ~CurrentUmask()));

  // An existing file keeps its permissions; a link stays a link.
  const fs::path kept = dir_ / "kept.csv";
  WriteFileBytes(kept, "old");
  chmod(kept.c_str(), 0640);
  fs::create_symlink(kept, dir_ / "link.csv");
  ASSERT_TRUE(SaveStatisticsCsv(stats_.Snapshot(), dir_ / "link.csv"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.csv"));
  EXPECT_EQ(ReadFileBytes(kept), kExpected);
  EXPECT_EQ(fs::status(kept).permissions(), fs::perms(0640));

  // Failures: a missing folder, a folder in the file's place, a cancelled save.
  EXPECT_THROW(SaveStatisticsCsv(stats_.Snapshot(), dir_ / "missing/x.csv"), RunTimeError);
  fs::create_directory(dir_ / "folder.csv");
  EXPECT_THROW(SaveStatisticsCsv(stats_.Snapshot(), dir_ / "folder.csv"), RunTimeError);
  WriteFileBytes(kept, "old");
  const std::atomic<bool> cancel{true};
  EXPECT_FALSE(SaveStatisticsCsv(stats_.Snapshot(), kept, &cancel));
  EXPECT_EQ(ReadFileBytes(kept), "old");
  EXPECT_TRUE(fs::is_empty(dir_ / "folder.csv"));
  auto names = Leftovers(dir_.path());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"folder.csv", "fresh.csv", "kept.csv", "link.csv"}))
      << "no temporary file is left behind";
}

}  // namespace
}  // namespace ostrel
