#pragma once
// What the statistics window shows, worked out without widgets: the caption and value
// text of every figure, and the points of the round-trip-time plot.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "statistics/statistics.h"

namespace ostrel {

// One figure of the window: `name` gives the labels' object names ("lbl" + name for the
// caption, "lbl" + name + "Data" for the value).
struct StatisticsFigure {
  const char* name;
  const char* caption;
  std::string value;
};

// Every figure in display order: the counters as whole numbers, the answer ratio in
// percent with one decimal ("66.7 %"), the round-trip times in ms with three decimals
// ("12.345 ms"); "--" where there is nothing to show yet.
std::vector<StatisticsFigure> StatisticsFigures(const TransmissionStatistics& statistics);

// The line of verdict counts, "判定  一致 5  不一致 1  送信元不一致 0  応答なし 0  未送信 0";
// the window shows it only once a cycle had a verdict since the reset.
std::string VerdictCountsText(const VerdictCounter& counts);

// The plot: x is the send time in ms since the epoch, y the round-trip time in ms.
struct RttPlot {
  std::vector<std::pair<double, double>> answered;  // (x, y) in send order
  std::vector<double> unanswered;                   // x of each unanswered transmission
  double x_min = 0, x_max = 0;                      // the time axis' range
  double y_max = 0;   // the RTT axis runs from 0 to this, a whole number of steps
  double y_step = 0;  // between its ticks: 1, 2 or 5 times a power of ten, 5 or fewer
};

// How many transmissions the plot shows: the newest ones.
inline constexpr size_t kPlotTransmissions = 600;

RttPlot MakeRttPlot(const std::vector<TransmissionRecord>& records);

}  // namespace ostrel
