#pragma once
// Code page 932 (Shift-JIS) at the file boundary.
//
// The program keeps text as UTF-8 inside; the settings file and the operation log
// hold code page 932. These two routines convert between them with glibc iconv.

#include <string>
#include <string_view>

namespace ostrel {

// UTF-8 to code page 932. A character that code page 932 cannot hold, and a byte
// that is not valid UTF-8, is written as '?'. Never throws for bad input.
std::string Utf8ToCp932(std::string_view utf8);

// Code page 932 to UTF-8. A byte sequence that is not valid code page 932 becomes '?'.
std::string Cp932ToUtf8(std::string_view cp932);

// True when byte b starts a double-byte character of code page 932.
constexpr bool IsCp932LeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The length of the longest prefix of `cp932` that is at most `max_bytes` long and does
// not end inside a double-byte character.
std::size_t Cp932PrefixLength(std::string_view cp932, std::size_t max_bytes);

}  // namespace ostrel
