#pragma once
// The bytes ostrel-send transmits: typed on the command line as hexadecimal, or the first
// 2048 bytes of a send-data file, loaded exactly as the window's "入力" loads them (through
// a grid held in memory, so every rule and log line of that load applies).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

struct PayloadResult {
  std::vector<uint8_t> bytes;
  std::string error;  // empty on success; otherwise why nothing was taken
};

// Bytes written as hexadecimal: tokens separated by blanks (spaces, tabs, line breaks),
// each an optional "0x" or "0X" and then one or two digits (one byte) or an even number
// of digits (a byte for each pair, in order): "01 02 FF", "0x01 0xff", "0102ff".
// Fails for any other character, an odd run of more than two digits, no byte at all, or
// more than the 2048 bytes a send grid holds.
PayloadResult ParseHexPayload(std::string_view text);

// The first 2048 bytes of the send-data file `path`, as the window loads them: the name
// is checked first ("入力ファイルを指定してください。", "ファイルがありません。"); a file that
// then cannot be read or holds no byte leaves the log line "description(SetDataFromFileToGrid)"
// and fails.
PayloadResult LoadPayloadFile(const std::string& path);

}  // namespace ostrel
