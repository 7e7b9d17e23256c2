#pragma once
// The Internet checksum (RFC 1071): the ones' complement of the ones' complement sum of
// the bytes taken as big-endian 16-bit words, an odd last byte padded with a zero byte.
// Used by the ICMP echo request, by computed fields and by the capture file's IPv4 and
// UDP headers.

#include <cstdint>
#include <span>

namespace ostrel {

// The running ones' complement sum of `bytes` added to `sum` (not yet folded or
// complemented), for checksums over several pieces such as a UDP pseudo-header and its
// datagram. Every piece but the last must have an even length.
uint32_t InternetSum(std::span<const uint8_t> bytes, uint32_t sum = 0);

// The checksum of a sum: folded to 16 bits and complemented.
uint16_t FoldInternetSum(uint32_t sum);

// The checksum of `bytes`.
inline uint16_t InternetChecksum(std::span<const uint8_t> bytes) {
  return FoldInternetSum(InternetSum(bytes));
}

}  // namespace ostrel
