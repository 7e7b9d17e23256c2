#pragma once
// Send data typed as hexadecimal (ostrel-send's --hex, a test file's "payload.hex").

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

}  // namespace ostrel
