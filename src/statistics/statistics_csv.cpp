#include "statistics_csv.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "common/atomic_file.h"
#include "common/run_time_error.h"

namespace ostrel {
namespace {

void AppendNumber(std::string& out, uint64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// Whole microseconds as "m.uuu".
void AppendMilliseconds(std::string& out, uint64_t us) {
  AppendNumber(out, us / 1000);
  const auto rest = static_cast<unsigned>(us % 1000);
  const char decimals[4] = {'.', static_cast<char>('0' + rest / 100),
                            static_cast<char>('0' + rest / 10 % 10),
                            static_cast<char>('0' + rest % 10)};
  out.append(decimals, 4);
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Records are written in blocks of about this many bytes.
constexpr size_t kWriteChunk = size_t{1} << 20;

}  // namespace

std::string MillisecondsText(double microseconds) {
  std::string text;
  AppendMilliseconds(text, static_cast<uint64_t>(std::llround(std::max(0.0, microseconds))));
  return text;
}

void StatisticsCsvFormatter::AppendLine(std::string& out, const TransmissionRecord& record) {
  const int64_t second = FloorDiv(record.sent_ms, 1000);
  if (second != cached_second_) {
    cached_second_ = second;
    const auto t = static_cast<time_t>(second);
    struct tm local {};
    localtime_r(&t, &local);
    std::snprintf(cached_text_, sizeof cached_text_, "%04d-%02d-%02d %02d:%02d:%02d.",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec);
  }
  out.append(cached_text_);
  const auto ms = static_cast<unsigned>(record.sent_ms - second * 1000);
  const char millis[3] = {static_cast<char>('0' + ms / 100), static_cast<char>('0' + ms / 10 % 10),
                          static_cast<char>('0' + ms % 10)};
  out.append(millis, 3);
  out.push_back(',');
  AppendNumber(out, record.bytes_sent);
  out.append(record.answered() ? ",1," : ",0,");
  if (record.answered()) AppendMilliseconds(out, record.rtt_us);
  out.push_back(',');
  AppendNumber(out, record.answer_bytes);
  out.push_back(',');
  if (record.verdict) out.append(VerdictText(*record.verdict));
  out.push_back('\n');
}

std::string StatisticsCsvText(const RecordSnapshot& records) {
  std::string text = kStatisticsCsvHeader;
  StatisticsCsvFormatter formatter;
  records.ForEach([&](const TransmissionRecord& r) { formatter.AppendLine(text, r); });
  return text;
}

bool SaveStatisticsCsv(const RecordSnapshot& records, const std::string& path,
                       const std::atomic<bool>* cancel) {
  if (path.empty()) ThrowFileError(ENOENT);
  const std::filesystem::path target = WriteTarget(path);
  struct stat st {};
  const bool exists = stat(target.c_str(), &st) == 0;
  if (exists) {
    // Never put a file in the place of a folder, a device or a pipe.
    if (S_ISDIR(st.st_mode)) ThrowFileError(EISDIR);
    if (!S_ISREG(st.st_mode)) ThrowFileError(EINVAL);
  } else if (errno != ENOENT) {
    ThrowFileError(errno);
  }

  AtomicFile file(target);
  std::string buffer = kStatisticsCsvHeader;
  buffer.reserve(kWriteChunk + 128);
  StatisticsCsvFormatter formatter;
  bool cancelled = false;
  records.ForEach([&](const TransmissionRecord& record) {
    if (cancelled) return;
    formatter.AppendLine(buffer, record);
    if (buffer.size() >= kWriteChunk) {
      if (cancel && cancel->load()) {
        cancelled = true;
        return;
      }
      file.Write(buffer);
      buffer.clear();
    }
  });
  if (cancelled || (cancel && cancel->load())) return false;  // the temporary goes
  file.Write(buffer);
  file.Commit(ReplacementMode(target, exists ? &st : nullptr), exists ? &st : nullptr);
  return true;
}

}  // namespace ostrel
