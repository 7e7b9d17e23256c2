#pragma once
// The statistics' CSV file: UTF-8 without a byte-order mark, lines ending in LF, a
// header line, then one line per transmission since the reset, oldest first:
//
//   送信時刻,送信バイト数,応答,往復時間(ms),応答バイト数,判定
//   2024-05-06 13:07:09.400,16,1,12.345,4,一致
//   2024-05-06 13:07:09.500,16,0,,0,
//
// local time of the send to the millisecond, bytes sent, answered (1/0), the round-trip
// time in ms with three decimals (empty when unanswered), bytes of the answer, and the
// verdict of the cycle on the line of its last transmission ("一致", "不一致", …; empty
// where no expectation was set and on the lines of transmissions a retransmission
// followed).

#include <atomic>
#include <cstdint>
#include <string>

#include "statistics/statistics.h"

namespace ostrel {

inline constexpr const char* kStatisticsCsvHeader =
    "送信時刻,送信バイト数,応答,往復時間(ms),応答バイト数,判定\n";

// `microseconds` as milliseconds with three decimals, rounded to the nearest
// microsecond: 1234.5 gives "1.235", 0 gives "0.000".
std::string MillisecondsText(double microseconds);

// Formats records as CSV lines. Keeps the local time of the last second it converted,
// so that a run of records costs one time-zone conversion per second of sending.
class StatisticsCsvFormatter {
 public:
  // Appends the line of `record`, LF included.
  void AppendLine(std::string& out, const TransmissionRecord& record);

 private:
  int64_t cached_second_ = INT64_MIN;
  char cached_text_[64] = {};  // "yyyy-mm-dd hh:mm:ss."
};

// The whole file as text (for small sets and tests).
std::string StatisticsCsvText(const RecordSnapshot& records);

// Writes the records to `path`, replacing the file whole only once everything is on disk:
// a failure or cancellation leaves what was there before. An existing file keeps its
// permissions; a symbolic link stays one and its target gets the content. Safe to run on
// another thread. Returns false when `cancel` became true first (nothing written).
// Raises RunTimeError with the file-system description on failure (a missing or
// read-only folder, a full disk, a folder or device in the file's place).
bool SaveStatisticsCsv(const RecordSnapshot& records, const std::string& path,
                       const std::atomic<bool>* cancel = nullptr);

}  // namespace ostrel
