#include "checksums.h"

namespace ostrel {

uint8_t Sum8(std::span<const uint8_t> bytes) { return static_cast<uint8_t>(Sum16(bytes)); }

uint16_t Sum16(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;  // wraps modulo 2^32, which keeps it right modulo 65536
  for (const uint8_t b : bytes) sum += b;
  return static_cast<uint16_t>(sum);
}

uint8_t Xor8(std::span<const uint8_t> bytes) {
  uint8_t x = 0;
  for (const uint8_t b : bytes) x ^= b;
  return x;
}

uint8_t Lrc8(std::span<const uint8_t> bytes) { return static_cast<uint8_t>(-Sum8(bytes)); }

}  // namespace ostrel
