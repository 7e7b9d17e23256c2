#pragma once
// The operation log: one CR LF line per event in the Log folder, code page 932,
//   "1001 yy/mm/dd hh:mm:ss.t HOST message"
// opened, appended and closed per line, and rotated into numbered generations
// ("<log>.1" the newest older file) when it grows past LogMaxSize MiB.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/clock.h"
#include "common/tool_kind.h"

namespace ostrel {

// Full path of each kind's log file; empty until InitLog has run.
extern std::array<std::string, kToolKindCount> strLogFile;
// The kinds' identifiers, filled by InitLog.
extern std::array<std::string, kToolKindCount> strToolKindName;
// This computer's host name, written into every line.
extern std::string strHostName;
// The log limits loaded from the settings; RotateLog writes its defaults back.
extern int16_t intLogMaxSize;
extern int16_t intLogGenerations;

// Reads the host name and fills strToolKindName and strLogFile from `strFolder`.
// Raises RunTimeError when the host name cannot be read.
void InitLog(const std::string& strFolder);

// Appends one line to the log of `intKind`, whole or not at all. Never raises: a kind
// outside 0..9, a missing folder, a read-only or full disk lose the line silently. The log
// is never followed through a link nor waited on: anything but a regular file in its
// place loses the line too.
void WriteLog(int intKind, std::string_view strMessage, std::string_view strTimeStamp = {},
              int16_t intCode = 0) noexcept;

// How many lines WriteLog has lost since the program started (kinds outside the table
// and lines before InitLog not counted), for a program that must tell its caller.
uint64_t LostLogLines() noexcept;

// 0 when a line could be appended to the log `path` now (the file, or when it is missing
// its folder, takes it), else the errno that says why not. Writes nothing.
int LogAppendError(const std::string& path) noexcept;

// Moves the live file `strPath` to the generations when it is larger than
// intMaxSize MiB. Processes sharing the log take turns (a lock file beside it), so a
// rotation another process has just made is never made twice. A size below 1 becomes 3 and generations below 1 become 10; both are
// written back. With one generation the live file is removed instead. Raises
// RunTimeError when a file cannot be deleted or moved (also onto an existing name).
void RotateLog(const std::string& strPath, int16_t& intMaxSize, int16_t& intGenerations);

// "yy/mm/dd hh:mm:ss.t", the tenths digit 0 for 0..99 ms, else the first digit.
std::string LogTimeStamp(const LocalTime& time);

// The whole line for a message, without CR LF, in UTF-8.
std::string LogLineText(std::string_view strMessage, std::string_view strTimeStamp,
                        int16_t intCode);

}  // namespace ostrel
