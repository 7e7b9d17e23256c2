#pragma once
// The rules of the communication settings dialog, without any widget: what it shows on
// opening, what Apply and Cancel check, and what Apply stores.
//
//   settings file --LoadComSetting--> ComSettingTexts --(operator edits)--> CheckApply
//        ^                                                                    | passed
//        +------------------------- WriteChanges <----------------------------+
//   settings file --CheckCancel--> failure or nothing (Cancel never writes)
//
// The dialog turns a ComSettingFailure into a message box on the named box.

#include <optional>
#include <string>

namespace ostrel {

// The dialog's five inputs: the four texts as typed (not trimmed) and the selected unit,
// 0 milliseconds, 1 seconds, 2 minutes, -1 none.
struct ComSettingTexts {
  std::string strSrcPort;
  std::string strDestIP;
  std::string strDestPort;
  std::string strSendInterval;
  int intTimeUnit = -1;

  bool operator==(const ComSettingTexts&) const = default;
};

// The text box a failed check points at.
enum class ComSettingBox { SrcPort, DestIP, DestPort, SendInterval };

struct ComSettingFailure {
  ComSettingBox box;
  std::string message;  // lines joined with CR LF

  bool operator==(const ComSettingFailure&) const = default;
};

// What the dialog shows on opening.
struct ComSettingLoad {
  // The stored texts exactly as ReadIni returns them. intTimeUnit is the numeric stored
  // unit when it is one of -1..2, else -1.
  ComSettingTexts texts;
  // Set when the stored unit is numeric but cannot be selected: the description of the
  // error (a unit outside -1..2, or one beyond 16 bits). The texts are filled all the same.
  std::optional<std::string> unit_error;
};

// Reads the five keys of `strIniFile`. Never raises.
ComSettingLoad LoadComSetting(const std::string& strIniFile);

// Checks typed texts in the order source port, address, destination port, send period
// (with the selected unit); the first failure, or nothing when all pass.
std::optional<ComSettingFailure> CheckApply(const ComSettingTexts& texts);

// Stores each trimmed text whose stored value differs (exact comparison), in the order
// UdpSrcPort, IPAddress, UdpDestPort, Sendinterval, then the unit as "0", "1" or "2".
// `texts` must have passed CheckApply. Returns true when anything was written. Raises
// RunTimeError when a write fails; keys written before the failing one stay written.
bool WriteChanges(const ComSettingTexts& texts, const std::string& strIniFile);

// Checks the stored values in the order address, source port, destination port, send
// period (unit from the stored unit text; a non-numeric one counts as milliseconds).
// Raises RunTimeError when the stored unit lies beyond 16 bits.
std::optional<ComSettingFailure> CheckCancel(const std::string& strIniFile);

// The texts of the messages.
namespace com_setting_msg {
inline constexpr const char* kBadSrcPort = "送信元ポート番号が不正です。";
inline constexpr const char* kBadDestIP = "送信先IPアドレスが不正です。";
inline constexpr const char* kBadDestPort = "送信先ポート番号が不正です。";
inline constexpr const char* kBadSendInterval = "送信周期が不正です。";
inline constexpr const char* kSetValidIP = "正常なIPアドレスを設定してください。";
inline constexpr const char* kSetValidPort = "正常なポート番号を設定してください。";
inline constexpr const char* kSetValidSendInterval = "正常な送信周期を設定してください。";
inline constexpr const char* kChanged =
    "通信設定を変更しました。\r\nアプリケーションを再起動してください。";
inline constexpr const char* kWriteFailed = "設定ファイルに書き込めませんでした。";
}  // namespace com_setting_msg

}  // namespace ostrel
