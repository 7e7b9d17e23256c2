#include "clock.h"

#include <chrono>
#include <ctime>

namespace ostrel {
namespace {
const SystemClock kSystemClock;
const Clock* g_clock = &kSystemClock;
}  // namespace

LocalTime SystemClock::Now() const {
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
  const std::time_t seconds = static_cast<std::time_t>(ms.count() / 1000);
  // A stream of answers asks many times a second; the calendar fields change once a second.
  thread_local std::time_t cached_seconds = -1;
  thread_local std::tm tm{};
  if (seconds != cached_seconds) {
    localtime_r(&seconds, &tm);
    cached_seconds = seconds;
  }
  LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.millisecond = static_cast<int>(ms.count() % 1000);
  return t;
}

const Clock& CurrentClock() { return *g_clock; }

void SetCurrentClock(const Clock* clock) { g_clock = clock ? clock : &kSystemClock; }

}  // namespace ostrel
