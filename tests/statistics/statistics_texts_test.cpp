#include "statistics/statistics_texts.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

TEST(RttPlotTest, AnsweredPointsInMsUnansweredOnTheAxisAndRoomAround) {
  const std::vector<TransmissionRecord> records = {
      {1'000'000, 2500, 3, 4, {}},
      {1'000'100, TransmissionRecord::kUnanswered, 3, 0, {}},
      {1'060'000, 20'000, 3, 4, {}},
  };
  const RttPlot plot = MakeRttPlot(records);
  ASSERT_EQ(plot.answered.size(), 2u);
  EXPECT_EQ(plot.answered[0], std::make_pair(1'000'000.0, 2.5));
  EXPECT_EQ(plot.answered[1], std::make_pair(1'060'000.0, 20.0));
  EXPECT_EQ(plot.unanswered, std::vector<double>{1'000'100.0});
  EXPECT_DOUBLE_EQ(plot.x_min, 1'000'000.0 - 1200);  // 2 % of the minute shown
  EXPECT_DOUBLE_EQ(plot.x_max, 1'060'000.0 + 1200);
  EXPECT_DOUBLE_EQ(plot.y_max, 25.0);  // 22 ms rounded up to a tick
  EXPECT_DOUBLE_EQ(plot.y_step, 5.0);
  // Only unanswered ones, or one alone: the axes still have a range.
  const RttPlot lone = MakeRttPlot({{5000, TransmissionRecord::kUnanswered, 3, 0, {}}});
  EXPECT_DOUBLE_EQ(lone.x_max - lone.x_min, 1000.0);
  EXPECT_DOUBLE_EQ(lone.y_max, 1.0);
  EXPECT_DOUBLE_EQ(lone.y_step, 0.2);
  // Loopback times well below a millisecond still get round ticks.
  const RttPlot fast = MakeRttPlot({{0, 90, 3, 4, {}}, {100, 1000, 3, 4, {}}});
  EXPECT_DOUBLE_EQ(fast.y_step, 0.5);
  EXPECT_DOUBLE_EQ(fast.y_max, 1.5);
}

}  // namespace
}  // namespace ostrel
