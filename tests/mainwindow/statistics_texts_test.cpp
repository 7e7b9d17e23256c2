#include "mainwindow/statistics_texts.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

TEST(RttPlotTest, AnsweredPointsInMsUnansweredOnTheAxisAndRoomAround) {
  const std::vector<TransmissionRecord> records = {
      {1'000'000, 2500, 3, 4},
      {1'000'100, TransmissionRecord::kUnanswered, 3, 0},
      {1'060'000, 20'000, 3, 4},
  };
  const RttPlot plot = MakeRttPlot(records);
  ASSERT_EQ(plot.answered.size(), 2u);
  EXPECT_EQ(plot.answered[0], std::make_pair(1'000'000.0, 2.5));
  EXPECT_EQ(plot.answered[1], std::make_pair(1'060'000.0, 20.0));
  EXPECT_EQ(plot.unanswered, std::vector<double>{1'000'100.0});
  EXPECT_DOUBLE_EQ(plot.x_min, 1'000'000.0 - 1200);  // 2 % of the minute shown
  EXPECT_DOUBLE_EQ(plot.x_max, 1'060'000.0 + 1200);
  EXPECT_DOUBLE_EQ(plot.y_max, 22.0);
  // Only unanswered ones, or one alone: the axes still have a range.
  const RttPlot lone = MakeRttPlot({{5000, TransmissionRecord::kUnanswered, 3, 0}});
  EXPECT_DOUBLE_EQ(lone.x_max - lone.x_min, 1000.0);
  EXPECT_DOUBLE_EQ(lone.y_max, 1.0);
}

}  // namespace
}  // namespace ostrel
