#pragma once
// The simple checksums a field can hold. The Internet checksum (inet16) is
// common/internet_checksum.h.

#include <cstdint>
#include <span>

namespace ostrel {

// The sum of the bytes, modulo 256.
uint8_t Sum8(std::span<const uint8_t> bytes);

// The sum of the bytes (each byte one addend, not 16-bit words), modulo 65536.
uint16_t Sum16(std::span<const uint8_t> bytes);

// The exclusive or of the bytes.
uint8_t Xor8(std::span<const uint8_t> bytes);

// The longitudinal redundancy check: the two's complement of Sum8, so the bytes and it sum
// to 0 modulo 256.
uint8_t Lrc8(std::span<const uint8_t> bytes);

}  // namespace ostrel
