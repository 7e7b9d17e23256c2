#include "statistics_texts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "statistics/statistics_csv.h"

namespace ostrel {
namespace {

constexpr const char* kNone = "--";

std::string Count(uint64_t value) { return std::to_string(value); }

std::string Ms(double microseconds) { return MillisecondsText(microseconds) + " ms"; }

std::string Percent(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", value);
  return text;
}

}  // namespace

std::vector<StatisticsFigure> StatisticsFigures(const TransmissionStatistics& statistics) {
  const auto& c = statistics.counters();
  const auto ratio = statistics.AnswerRatioPercent();
  const auto rtt = statistics.Rtt();
  const auto ms = [&](auto field) { return rtt ? Ms(field(*rtt)) : kNone; };
  using R = TransmissionStatistics::RttFigures;
  return {
      {"Cycles", "送信サイクル数", Count(c.cycles)},
      {"Transmissions", "送信回数", Count(c.transmissions)},
      {"Answered", "応答あり", Count(c.answered)},
      {"Unanswered", "応答なし", Count(c.unanswered)},
      {"Retransmissions", "再送回数", Count(c.retransmissions)},
      {"FailedChecks", "Ping無応答回数", Count(c.failed_checks)},
      {"Unsolicited", "応答以外の受信", Count(c.unsolicited)},
      {"AnswerRatio", "応答率", ratio ? Percent(*ratio) : kNone},
      {"RttLast", "往復時間 最新", ms([](const R& r) { return double(r.last); })},
      {"RttMin", "往復時間 最小", ms([](const R& r) { return double(r.min); })},
      {"RttMean", "往復時間 平均", ms([](const R& r) { return r.mean; })},
      {"RttMax", "往復時間 最大", ms([](const R& r) { return double(r.max); })},
      {"Rtt95", "往復時間 95%値", ms([](const R& r) { return double(r.p95); })},
      {"Jitter", "ジッタ", rtt && rtt->jitter ? Ms(*rtt->jitter) : std::string(kNone)},
  };
}

std::string VerdictCountsText(const VerdictCounter& counts) {
  std::string text = "判定";
  for (Verdict verdict : kAllVerdicts)
    text += std::string("  ") + VerdictText(verdict) + " " + Count(counts.Count(verdict));
  return text;
}

RttPlot MakeRttPlot(const std::vector<TransmissionRecord>& records) {
  RttPlot plot;
  double y_max = 0;
  for (const TransmissionRecord& r : records) {
    const auto x = static_cast<double>(r.sent_ms);
    if (r.answered()) {
      const double y = r.rtt_us / 1000.0;
      plot.answered.emplace_back(x, y);
      y_max = std::max(y_max, y);
    } else {
      plot.unanswered.push_back(x);
    }
  }
  if (!records.empty()) {
    const auto [first, last] =
        std::minmax_element(records.begin(), records.end(),
                            [](const TransmissionRecord& a, const TransmissionRecord& b) {
                              return a.sent_ms < b.sent_ms;
                            });
    // A margin of 2 % (at least half a second) keeps the outermost marks off the frame.
    const double span = static_cast<double>(last->sent_ms - first->sent_ms);
    const double margin = std::max(500.0, span * 0.02);
    plot.x_min = static_cast<double>(first->sent_ms) - margin;
    plot.x_max = static_cast<double>(last->sent_ms) + margin;
  }
  // Room of 10 % above the highest point, rounded up to a round tick.
  const double top = std::max(1.0, y_max * 1.1);
  const double magnitude = std::pow(10.0, std::floor(std::log10(top / 5)));
  const double unit = top / 5 / magnitude - 1e-9;  // 2.0000000001 is still 2
  plot.y_step = magnitude * (unit <= 1 ? 1 : unit <= 2 ? 2 : unit <= 5 ? 5 : 10);
  plot.y_max = std::ceil(top / plot.y_step - 1e-9) * plot.y_step;
  return plot;
}

}  // namespace ostrel
