#pragma once
// The family of test tools that share this code, told apart by a tool kind 0..9.
// This program is the UDP sender, kind 2.

#include <array>
#include <cstdint>
#include <string_view>

namespace ostrel {

inline constexpr int16_t Kiv_TcpSnd = 0;
inline constexpr int16_t Kiv_TcpRcv = 1;
inline constexpr int16_t Kiv_UdpSnd = 2;
inline constexpr int16_t Kiv_UdpRcv = 3;
inline constexpr int16_t Kiv_SerialSnd = 4;
inline constexpr int16_t Kiv_SerialRcv = 5;
inline constexpr int16_t Kiv_TcpTextSnd = 6;
inline constexpr int16_t Kiv_TcpTextRcv = 7;
inline constexpr int16_t Kiv_UdpTextSnd = 8;
inline constexpr int16_t Kiv_UdpTextRcv = 9;

inline constexpr int kToolKindCount = 10;

struct ToolKindInfo {
  std::string_view identifier;    // "Kiv_UdpSnd"
  std::string_view setting_file;  // file name in the Config folder; empty when the kind has none
  std::string_view log_file;      // file name in the Log folder
};

// Indexed by kind. Settings file names say Send/Recv, identifiers and logs Snd/Rcv.
inline constexpr std::array<ToolKindInfo, kToolKindCount> kToolKinds{{
    {"Kiv_TcpSnd", "Kiv_TcpSendSetting.ini", "Kiv_TcpSndLog.txt"},
    {"Kiv_TcpRcv", "Kiv_TcpRecvSetting.ini", "Kiv_TcpRcvLog.txt"},
    {"Kiv_UdpSnd", "Kiv_UdpSendSetting.ini", "Kiv_UdpSndLog.txt"},
    {"Kiv_UdpRcv", "Kiv_UdpRecvSetting.ini", "Kiv_UdpRcvLog.txt"},
    {"Kiv_SerialSnd", "Kiv_SerialSendSetting.ini", "Kiv_SerialSndLog.txt"},
    {"Kiv_SerialRcv", "Kiv_SerialRecvSetting.ini", "Kiv_SerialRcvLog.txt"},
    {"Kiv_TcpTextSnd", "", "Kiv_TcpTextSndLog.txt"},
    {"Kiv_TcpTextRcv", "", "Kiv_TcpTextRcvLog.txt"},
    {"Kiv_UdpTextSnd", "", "Kiv_UdpTextSndLog.txt"},
    {"Kiv_UdpTextRcv", "", "Kiv_UdpTextRcvLog.txt"},
}};

// Sending kinds are the even ones; they share the send-period rules.
constexpr bool IsSendingKind(int kind) { return kind >= 0 && kind < kToolKindCount && kind % 2 == 0; }

}  // namespace ostrel

namespace ostrel {
// The kind of the running program. Set first thing by InitEnvironment, read by every
// error handler to pick the log file. 0 until then.
extern int16_t intToolKind;
}  // namespace ostrel
