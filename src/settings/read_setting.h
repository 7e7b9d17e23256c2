#pragma once
// Loading the settings file into the running program, once at start-up.
//
// Five communication keys are read leniently (an empty or non-numeric value keeps the
// old one, silently); six maintenance keys strictly (an empty or non-numeric value shows
// its message and ends the load). Any failure then shows "設定ファイルの読み込みに失敗しました。"
// and logs "description(ReadSetting)". Fields set before the failing key keep their new
// values; the failing key and the keys after it are left as they were.

#include <cstdint>
#include <string>

namespace ostrel {

// The settings the main window carries for the whole run. 0 and empty before loading.
struct MainSettings {
  std::string strDestIpAddress;
  int32_t lngSrcPort = 0;
  int32_t lngDestPort = 0;
  int32_t lngSendInterval = 0;
  int16_t intSendIntervalUnit = 0;
  int16_t intCommonSendRetry = 0;
  int16_t intPingRetry = 0;
  int32_t lngAnsTimeOut = 0;
};

// What the load needs from its window: message boxes and the answer timer.
class ReadSettingHost {
 public:
  virtual ~ReadSettingHost() = default;
  // A message box with the critical icon and an OK button; returns when dismissed.
  virtual void ShowCriticalMessage(const std::string& text) = 0;
  // Stores the answer timer's interval. Raises RunTimeError outside 0..65535.
  virtual void SetAnswerTimerInterval(int32_t milliseconds) = 0;
};

// Loads `strIniFile` into `settings`, intLogMaxSize and intLogGenerations. Never raises.
void ReadSetting(const std::string& strIniFile, MainSettings& settings, ReadSettingHost& host);

}  // namespace ostrel
