#include "internet_checksum.h"

namespace ostrel {

uint32_t InternetSum(std::span<const uint8_t> bytes, uint32_t sum) {
  // Summed in 64 bits and folded at the end: no carry is lost however long the input.
  uint64_t total = sum;
  const size_t even = bytes.size() & ~static_cast<size_t>(1);
  for (size_t i = 0; i < even; i += 2) total += static_cast<uint32_t>(bytes[i] << 8 | bytes[i + 1]);
  if (even != bytes.size()) total += static_cast<uint32_t>(bytes.back()) << 8;
  while (total > 0xFFFFFFFFu) total = (total & 0xFFFFFFFFu) + (total >> 32);
  return static_cast<uint32_t>(total);
}

uint16_t FoldInternetSum(uint32_t sum) {
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

}  // namespace ostrel
