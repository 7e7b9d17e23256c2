#pragma once
// The bytes ostrel-send transmits: typed on the command line as hexadecimal, or the first
// 2048 bytes of a send-data file, loaded exactly as the window's "入力" loads them (through
// a grid held in memory, so every rule and log line of that load applies).

#include <string>

#include "senddata/hex_payload.h"

namespace ostrel {

// The first 2048 bytes of the send-data file `path`, as the window loads them: the name
// is checked first ("入力ファイルを指定してください。", "ファイルがありません。"); a file that
// then cannot be read or holds no byte leaves the log line "description(SetDataFromFileToGrid)"
// and fails.
PayloadResult LoadPayloadFile(const std::string& path);

}  // namespace ostrel
