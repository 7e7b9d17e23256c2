#include "statistics/statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;
using Wall = std::chrono::system_clock;

// A wall clock that shows what the test sets.
struct FakeWall {
  Wall::time_point now{Wall::duration(1'700'000'000'000ms)};
  TransmissionStatistics::WallClock Clock() {
    return [this] { return now; };
  }
};

class StatisticsTest : public ::testing::Test {
 protected:
  // One transmission of 3 bytes answered after `rtt` (none: its time runs out).
  void Exchange(std::optional<Steady::duration> rtt, int attempt = 1) {
    stats_.Transmitted(3, t_, attempt);
    if (rtt) {
      stats_.Arrived(4, t_ + *rtt, true);
    } else {
      stats_.TransmissionUnanswered();
    }
    t_ += 100ms;
    wall_.now += 100ms;
  }

  FakeWall wall_;
  TransmissionStatistics stats_{wall_.Clock()};
  Steady::time_point t_ = Steady::time_point(1h);
};

TEST_F(StatisticsTest, PercentileIsTheNearestRankAndJitterTheMeanStepAfterEveryAnswer) {
  std::vector<uint32_t> rtts;
  uint32_t seed = 12345;
  for (int i = 0; i < 1500; ++i) {
    seed = seed * 1103515245u + 12345u;
    // Few distinct values, so ties abound; some unanswered transmissions in between.
    const uint32_t rtt = (seed >> 16) % 300 * 17;
    if (i % 7 == 3) Exchange(std::nullopt);
    Exchange(std::chrono::microseconds(rtt));
    rtts.push_back(rtt);

    std::vector<uint32_t> sorted = rtts;
    std::sort(sorted.begin(), sorted.end());
    const size_t rank = (sorted.size() * 95 + 99) / 100;  // ceil(0.95 n)
    const auto figures = stats_.Rtt();
    ASSERT_TRUE(figures);
    ASSERT_EQ(figures->p95, sorted[rank - 1]) << "after " << rtts.size() << " answers";
  }
  const auto figures = *stats_.Rtt();
  uint64_t steps = 0;
  for (size_t i = 1; i < rtts.size(); ++i)
    steps += std::abs(int64_t{rtts[i]} - int64_t{rtts[i - 1]});
  ASSERT_TRUE(figures.jitter);
  EXPECT_DOUBLE_EQ(*figures.jitter, double(steps) / double(rtts.size() - 1));
  EXPECT_DOUBLE_EQ(figures.mean,
                   double(std::accumulate(rtts.begin(), rtts.end(), uint64_t{0})) / rtts.size());
  EXPECT_EQ(figures.min, *std::min_element(rtts.begin(), rtts.end()));
  EXPECT_EQ(figures.max, *std::max_element(rtts.begin(), rtts.end()));
  EXPECT_EQ(figures.last, rtts.back());
}

TEST_F(StatisticsTest, OneAnswerHasNoJitterAndRoundsToTheNearestMicrosecond) {
  Exchange(1499ns);
  EXPECT_EQ(stats_.Rtt()->p95, 1u);
  EXPECT_FALSE(stats_.Rtt()->jitter);
  Exchange(1500ns);
  EXPECT_EQ(stats_.Rtt()->last, 2u);
  // A time that would go below zero (a real-time clock set between the stamps) is 0.
  stats_.Transmitted(3, t_, 1);
  stats_.Arrived(4, t_ - 20us, true);
  EXPECT_EQ(stats_.Rtt()->last, 0u);
  EXPECT_EQ(stats_.Rtt()->min, 0u);
}

TEST_F(StatisticsTest, AKernelTransmitTimeLearnedLateReplacesTheSendMoment) {
  stats_.Transmitted(3, t_, 1);
  stats_.TransmitStamped(t_ + 30us);
  stats_.Arrived(4, t_ + 1030us, true);
  EXPECT_EQ(stats_.Rtt()->last, 1000u);
  stats_.TransmitStamped(t_);  // nothing waits: nothing changes
  EXPECT_EQ(stats_.Rtt()->last, 1000u);
}

TEST_F(StatisticsTest, CountsEveryKindOfEventAsTheCycleReportsIt) {
  // A cycle with a failed check, an unanswered transmission, an answered retransmission,
  // a second datagram and an empty one.
  stats_.CycleStarted();
  stats_.CheckFailed();
  Exchange(std::nullopt);
  Exchange(5ms, 2);
  stats_.Arrived(2, t_, false);
  stats_.Arrived(0, t_, false);
  stats_.CycleEnded(CycleOutcome::kAnswered);
  // A cycle ended by a run-time error while its transmission waited, then its late answer.
  stats_.CycleStarted();
  stats_.Transmitted(3, t_, 1);
  stats_.CycleEnded(CycleOutcome::kError);
  stats_.Arrived(4, t_ + 1ms, false);

  const auto& c = stats_.counters();
  EXPECT_EQ(c.cycles, 2u);
  EXPECT_EQ(c.failed_checks, 1u);
  EXPECT_EQ(c.transmissions, 3u);
  EXPECT_EQ(c.retransmissions, 1u);
  EXPECT_EQ(c.answered, 1u);
  EXPECT_EQ(c.unanswered, 2u);
  EXPECT_EQ(c.unsolicited, 3u);
  EXPECT_NEAR(*stats_.AnswerRatioPercent(), 100.0 / 3, 1e-9);

  const auto records = stats_.LastRecords(10);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_FALSE(records[0].answered());
  EXPECT_EQ(records[0].answer_bytes, 0);
  EXPECT_EQ(records[1].rtt_us, 5000u);
  EXPECT_EQ(records[1].answer_bytes, 4);
  EXPECT_EQ(records[1].sent_ms - records[0].sent_ms, 100);
  EXPECT_FALSE(records[2].answered());
}

TEST_F(StatisticsTest, ResetForgetsEverythingAndTheTransmissionThatWaits) {
  for (int i = 0; i < 5; ++i) Exchange(2ms);
  int changes = 0;
  stats_.SetChangeListener([&] { ++changes; });
  stats_.Transmitted(3, t_, 1);
  stats_.Reset();
  stats_.Arrived(4, t_ + 1ms, true);  // answers the transmission before the reset
  stats_.TransmissionUnanswered();
  stats_.CycleEnded(CycleOutcome::kAnswered);
  EXPECT_EQ(changes, 2);  // the transmission and the reset
  EXPECT_EQ(stats_.counters().answered + stats_.counters().unanswered +
                stats_.counters().unsolicited + stats_.counters().transmissions,
            0u);
  EXPECT_EQ(stats_.RecordCount(), 0u);
  EXPECT_FALSE(stats_.AnswerRatioPercent());
  EXPECT_FALSE(stats_.Rtt());
  Exchange(7ms);
  EXPECT_EQ(stats_.Rtt()->min, 7000u);
  EXPECT_FALSE(stats_.Rtt()->jitter);
}

TEST_F(StatisticsTest, RecordsKeepTheirOrderAcrossBlocksClockJumpsAndSnapshots) {
  constexpr int kCount = 70'000;  // more than one block
  std::vector<int64_t> sent;
  for (int i = 0; i < kCount; ++i) {
    if (i == 100) wall_.now -= 24h;       // the clock set back
    if (i == 200) wall_.now += 24h * 60;  // and far forward
    sent.push_back(
        std::chrono::duration_cast<std::chrono::milliseconds>(wall_.now.time_since_epoch())
            .count());
    Exchange(i % 3 ? std::optional<Steady::duration>(std::chrono::microseconds(i)) : std::nullopt);
  }
  const RecordSnapshot snapshot = stats_.Snapshot();
  Exchange(1ms);
  stats_.Reset();
  ASSERT_EQ(snapshot.size(), size_t{kCount});
  int i = 0;
  bool all_match = true;
  snapshot.ForEach([&](const TransmissionRecord& r) {
    const bool answered = i % 3 != 0;
    all_match = all_match && r.sent_ms == sent[i] && r.answered() == answered &&
                (!answered || r.rtt_us == uint32_t(i)) && r.bytes_sent == 3;
    ++i;
  });
  EXPECT_EQ(i, kCount);
  EXPECT_TRUE(all_match);
}

TEST_F(StatisticsTest, LastRecordsAreTheNewestInOrder) {
  for (int i = 1; i <= 70'000; ++i) Exchange(std::chrono::microseconds(i));
  const auto last = stats_.LastRecords(600);
  ASSERT_EQ(last.size(), 600u);
  EXPECT_EQ(last.front().rtt_us, 69'401u);
  EXPECT_EQ(last.back().rtt_us, 70'000u);
  EXPECT_TRUE(std::is_sorted(last.begin(), last.end(),
                             [](auto& a, auto& b) { return a.sent_ms < b.sent_ms; }));
}

}  // namespace
}  // namespace ostrel
