#include "run_settings.h"

#include "common/numeric_text.h"
#include "common/run_time_error.h"
#include "common/timer.h"
#include "common/tool_kind.h"
#include "settings/ini_file.h"
#include "settings/validators.h"
#include "value_messages.h"

namespace ostrel {
namespace {

constexpr ValueRule kIntervalUnit{"送信周期の単位が不正です。", 0, 2};

// FILE: [Port] UdpSrcPort "abc": 送信元ポート番号が不正です。(0～65535)
std::string StoredValueMessage(const std::string& file, const char* section, const char* key,
                               const std::string& value, const ValueRule& rule) {
  return file + ": [" + section + "] " + key + " \"" + value + "\": " + RuleMessage(rule);
}

// The period in milliseconds from the stored period and unit; empty error when usable.
std::string StoredPeriod(const std::string& file, int64_t& period_ms) {
  const std::string interval = ReadIni("Maintenance", "Sendinterval", file);
  const std::string unit_text = ReadIni("Maintenance", "SendIntervalUnit", file);
  int16_t unit = -1;
  try {
    if (IsNumericText(unit_text)) unit = TextToInteger(unit_text);
  } catch (const RunTimeError&) {  // beyond 16 bits
  }
  if (!SendIntervalLimits(unit).valid) {
    return StoredValueMessage(file, "Maintenance", "SendIntervalUnit", unit_text, kIntervalUnit);
  }
  if (!CheckInterval(interval, Kiv_UdpSnd, unit)) {
    return StoredValueMessage(file, "Maintenance", "SendInterval", interval, IntervalRule(unit));
  }
  static constexpr int64_t kUnitMs[] = {1, 1000, 60000};
  period_ms = TextToLong(interval) * kUnitMs[unit];
  return "";
}

}  // namespace

void TerminalSettingHost::ShowCriticalMessage(const std::string& text) {
  err_ << "ostrel-send: " << text << std::endl;
  failed_ = true;
}

void TerminalSettingHost::SetAnswerTimerInterval(int32_t milliseconds) {
  tmrRcvAns_.SetInterval(milliseconds);
}

std::string ResolveRunSettings(const std::string& file, const SendOptions& o, MainSettings& s,
                               int64_t& period_ms) {
  if (o.dest) {
    s.strDestIpAddress = *o.dest;
  } else if (const std::string text = ReadIni("IPAddress", "IPAddress", file);
             !CheckIpAddress(text)) {
    return StoredValueMessage(file, "IPAddress", "IPAddress", text, value_msg::kDestIp);
  }
  struct Port {
    const std::optional<int32_t>& override_value;
    int32_t& field;
    const char* key;
    const ValueRule& rule;
  };
  for (const Port& port : {Port{o.src_port, s.lngSrcPort, "UdpSrcPort", value_msg::kSrcPort},
                           Port{o.dest_port, s.lngDestPort, "UdpDestPort", value_msg::kDestPort}}) {
    if (port.override_value) {
      port.field = *port.override_value;
    } else if (const std::string text = ReadIni("Port", port.key, file); !CheckPortNo(text)) {
      return StoredValueMessage(file, "Port", port.key, text, port.rule);
    }
  }
  if (o.interval_ms) {
    period_ms = *o.interval_ms;
  } else if (o.count != 1) {
    if (std::string error = StoredPeriod(file, period_ms); !error.empty()) return error;
  }
  if (o.timeout_ms) s.lngAnsTimeOut = *o.timeout_ms;
  if (o.retries) s.intCommonSendRetry = *o.retries;
  if (o.ping_retries) s.intPingRetry = *o.ping_retries;
  return "";
}

}  // namespace ostrel
