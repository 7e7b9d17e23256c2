#include "read_setting.h"

#include <optional>

#include "common/numeric_text.h"
#include "common/run_time_error.h"
#include "ini_file.h"
#include "logging/error_handler.h"
#include "logging/operation_log.h"

namespace ostrel {
namespace {

constexpr const char* kReadFailed = "設定ファイルの読み込みに失敗しました。";

// A strict key whose value is empty or not numeric: its message has been shown.
struct KeyRejected {};

std::optional<std::string> NumericValue(const std::string& file, const char* section,
                                        const char* key) {
  std::string value = ReadIni(section, key, file);
  if (value.empty() || !IsNumericText(value)) return std::nullopt;
  return value;
}

std::string StrictValue(const std::string& file, const char* key, const char* message,
                        ReadSettingHost& host) {
  auto value = NumericValue(file, "Maintenance", key);
  if (!value) {
    host.ShowCriticalMessage(message);
    throw KeyRejected{};
  }
  return *value;
}

}  // namespace

void ReadSetting(const std::string& strIniFile, MainSettings& s, ReadSettingHost& host) {
  std::string description;
  try {
    const std::string& f = strIniFile;
    // Lenient: the communication keys keep their old values when unusable.
    if (auto v = NumericValue(f, "Port", "UdpSrcPort")) s.lngSrcPort = TextToLong(*v);
    if (auto v = ReadIni("IPAddress", "IPAddress", f); !v.empty()) s.strDestIpAddress = v;
    if (auto v = NumericValue(f, "Port", "UdpDestPort")) s.lngDestPort = TextToLong(*v);
    if (auto v = NumericValue(f, "Maintenance", "SendInterval")) s.lngSendInterval = TextToLong(*v);
    if (auto v = NumericValue(f, "Maintenance", "SendIntervalUnit"))
      s.intSendIntervalUnit = TextToInteger(*v);

    // Strict: the maintenance keys must all be there.
    s.intCommonSendRetry = TextToInteger(
        StrictValue(f, "CommonSendRetry", "共通のリトライ回数が不正です。", host));
    s.intPingRetry =
        TextToInteger(StrictValue(f, "PingRetry", "Pingリトライ回数が不正です。", host));
    host.SetAnswerTimerInterval(TextToLong(
        StrictValue(f, "UdpAnsTimerInteval", "UDP応答タイマインターバルが不正です。", host)));
    s.lngAnsTimeOut =
        TextToLong(StrictValue(f, "UdpAnsTimeOut", "UDP応答タイムアウト値が不正です。", host));
    intLogMaxSize =
        TextToInteger(StrictValue(f, "LogMaxSize", "ログ最大サイズが不正です。", host));
    intLogGenerations =
        TextToInteger(StrictValue(f, "LogGenerations", "ログ最大世代数が不正です。", host));
    return;
  } catch (const KeyRejected&) {
    description.clear();  // a rejected key leaves no error pending
  } catch (const std::exception& error) {
    description = DescriptionOf(error);
  } catch (...) {
  }
  try {
    host.ShowCriticalMessage(kReadFailed);
  } catch (...) {
  }
  LogErrorText("ReadSetting", description);
}

}  // namespace ostrel
