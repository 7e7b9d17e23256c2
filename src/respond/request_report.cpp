#include "request_report.h"

#include <cstdio>
#include <ctime>

namespace ostrel {
namespace {

// The local time to the millisecond: "12:00:00.123", with the date "2026-12-08T" before it.
std::string LocalTimeText(std::chrono::system_clock::time_point time, bool with_date) {
  const auto since = time.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
  const int millis = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since - seconds).count());
  const std::time_t whole = static_cast<std::time_t>(seconds.count());
  std::tm local{};
  localtime_r(&whole, &local);
  char text[80];
  if (with_date)
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  millis);
  else
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, millis);
  return text;
}

bool HasAnswer(ResponseAction action) {
  return action == ResponseAction::kAnswered || action == ResponseAction::kEchoed;
}

}  // namespace

const char* ActionName(ResponseAction action) {
  switch (action) {
    case ResponseAction::kAnswered:
      return "answered";
    case ResponseAction::kEchoed:
      return "echoed";
    case ResponseAction::kDropped:
      return "dropped";
    case ResponseAction::kSilent:
      break;
  }
  return "silent";
}

void AppendRequestText(const RequestRecord& record, std::string& out) {
  const Response& response = record.response;
  out += LocalTimeText(record.time, false);
  out += ' ';
  out += record.sender;
  out += ' ';
  out += std::to_string(record.bytes);
  out += " bytes ";
  out += response.rule ? "rule " + std::to_string(*response.rule + 1) : std::string("default");
  out += ": ";
  out += ActionName(response.action);
  if (HasAnswer(response.action)) {
    out += ' ';
    out += std::to_string(record.answer_bytes);
    out += " bytes";
    if (response.delay_ms > 0) out += " after " + std::to_string(response.delay_ms) + " ms";
  }
  out += '\n';
}

void AppendRequestJson(const RequestRecord& record, std::string& out) {
  const Response& response = record.response;
  const bool answer = HasAnswer(response.action);
  out += "{\"type\":\"request\",\"time\":\"";
  out += LocalTimeText(record.time, true);
  out += "\",\"from\":\"";
  out += record.sender;  // digits, dots and a colon: nothing to escape
  out += "\",\"bytes\":";
  out += std::to_string(record.bytes);
  out += ",\"rule\":";
  out += response.rule ? std::to_string(*response.rule + 1) : std::string("null");
  out += ",\"action\":\"";
  out += ActionName(response.action);
  out += "\",\"answer_bytes\":";
  out += answer ? std::to_string(record.answer_bytes) : std::string("null");
  out += ",\"delay_ms\":";
  out += answer ? std::to_string(response.delay_ms) : std::string("null");
  out += "}\n";
}

}  // namespace ostrel
