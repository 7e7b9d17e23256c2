#include "crc.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>

#include "field_messages.h"

namespace ostrel {

namespace {

uint64_t WidthMask(int width) { return width >= 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1; }

uint64_t Reflect(uint64_t value, int width) {
  uint64_t out = 0;
  for (int i = 0; i < width; ++i) {
    out = out << 1 | (value & 1);
    value >>= 1;
  }
  return out;
}

// clang-format off
constexpr CrcModel kCatalogue[] = {
  {"CRC-8/SMBUS", "CRC-8", {8, 0x07, 0x00, false, false, 0x00}, 0xF4},
  {"CRC-8/MAXIM-DOW", "CRC-8/MAXIM DOW-CRC MAXIM", {8, 0x31, 0x00, true, true, 0x00}, 0xA1},
  {"CRC-8/AUTOSAR", "", {8, 0x2F, 0xFF, false, false, 0xFF}, 0xDF},
  {"CRC-8/BLUETOOTH", "", {8, 0xA7, 0x00, true, true, 0x00}, 0x26},
  {"CRC-8/CDMA2000", "", {8, 0x9B, 0xFF, false, false, 0x00}, 0xDA},
  {"CRC-8/DARC", "", {8, 0x39, 0x00, true, true, 0x00}, 0x15},
  {"CRC-8/DVB-S2", "", {8, 0xD5, 0x00, false, false, 0x00}, 0xBC},
  {"CRC-8/GSM-A", "", {8, 0x1D, 0x00, false, false, 0x00}, 0x37},
  {"CRC-8/GSM-B", "", {8, 0x49, 0x00, false, false, 0xFF}, 0x94},
  {"CRC-8/HITAG", "", {8, 0x1D, 0xFF, false, false, 0x00}, 0xB4},
  {"CRC-8/I-432-1", "CRC-8/ITU", {8, 0x07, 0x00, false, false, 0x55}, 0xA1},
  {"CRC-8/I-CODE", "", {8, 0x1D, 0xFD, false, false, 0x00}, 0x7E},
  {"CRC-8/LTE", "", {8, 0x9B, 0x00, false, false, 0x00}, 0xEA},
  {"CRC-8/MIFARE-MAD", "", {8, 0x1D, 0xC7, false, false, 0x00}, 0x99},
  {"CRC-8/NRSC-5", "", {8, 0x31, 0xFF, false, false, 0x00}, 0xF7},
  {"CRC-8/OPENSAFETY", "", {8, 0x2F, 0x00, false, false, 0x00}, 0x3E},
  {"CRC-8/ROHC", "", {8, 0x07, 0xFF, true, true, 0x00}, 0xD0},
  {"CRC-8/SAE-J1850", "", {8, 0x1D, 0xFF, false, false, 0xFF}, 0x4B},
  {"CRC-8/TECH-3250", "CRC-8/AES CRC-8/EBU", {8, 0x1D, 0xFF, true, true, 0x00}, 0x97},
  {"CRC-8/WCDMA", "", {8, 0x9B, 0x00, true, true, 0x00}, 0x25},

  {"CRC-16/ARC", "ARC CRC-16 CRC-16/LHA CRC-IBM",
   {16, 0x8005, 0x0000, true, true, 0x0000}, 0xBB3D},
  {"CRC-16/MODBUS", "MODBUS", {16, 0x8005, 0xFFFF, true, true, 0x0000}, 0x4B37},
  {"CRC-16/IBM-3740", "CRC-16/AUTOSAR CRC-16/CCITT-FALSE",
   {16, 0x1021, 0xFFFF, false, false, 0x0000}, 0x29B1},
  {"CRC-16/XMODEM", "CRC-16/ACORN CRC-16/LTE CRC-16/V-41-MSB XMODEM ZMODEM",
   {16, 0x1021, 0x0000, false, false, 0x0000}, 0x31C3},
  {"CRC-16/KERMIT",
   "CRC-16/BLUETOOTH CRC-16/CCITT CRC-16/CCITT-TRUE CRC-16/V-41-LSB CRC-CCITT KERMIT",
   {16, 0x1021, 0x0000, true, true, 0x0000}, 0x2189},
  {"CRC-16/IBM-SDLC", "CRC-16/ISO-HDLC CRC-16/ISO-IEC-14443-3-B CRC-16/X-25 CRC-B X-25",
   {16, 0x1021, 0xFFFF, true, true, 0xFFFF}, 0x906E},
  {"CRC-16/CDMA2000", "", {16, 0xC867, 0xFFFF, false, false, 0x0000}, 0x4C06},
  {"CRC-16/CMS", "", {16, 0x8005, 0xFFFF, false, false, 0x0000}, 0xAEE7},
  {"CRC-16/DDS-110", "", {16, 0x8005, 0x800D, false, false, 0x0000}, 0x9ECF},
  {"CRC-16/DECT-R", "R-CRC-16", {16, 0x0589, 0x0000, false, false, 0x0001}, 0x007E},
  {"CRC-16/DECT-X", "X-CRC-16", {16, 0x0589, 0x0000, false, false, 0x0000}, 0x007F},
  {"CRC-16/DNP", "", {16, 0x3D65, 0x0000, true, true, 0xFFFF}, 0xEA82},
  {"CRC-16/EN-13757", "", {16, 0x3D65, 0x0000, false, false, 0xFFFF}, 0xC2B7},
  {"CRC-16/GENIBUS", "CRC-16/DARC CRC-16/EPC CRC-16/EPC-C1G2 CRC-16/I-CODE",
   {16, 0x1021, 0xFFFF, false, false, 0xFFFF}, 0xD64E},
  {"CRC-16/GSM", "", {16, 0x1021, 0x0000, false, false, 0xFFFF}, 0xCE3C},
  {"CRC-16/ISO-IEC-14443-3-A", "CRC-A", {16, 0x1021, 0xC6C6, true, true, 0x0000}, 0xBF05},
  {"CRC-16/LJ1200", "", {16, 0x6F63, 0x0000, false, false, 0x0000}, 0xBDF4},
  {"CRC-16/MAXIM-DOW", "CRC-16/MAXIM", {16, 0x8005, 0x0000, true, true, 0xFFFF}, 0x44C2},
  {"CRC-16/MCRF4XX", "", {16, 0x1021, 0xFFFF, true, true, 0x0000}, 0x6F91},
  {"CRC-16/NRSC-5", "", {16, 0x080B, 0xFFFF, true, true, 0x0000}, 0xA066},
  {"CRC-16/OPENSAFETY-A", "", {16, 0x5935, 0x0000, false, false, 0x0000}, 0x5D38},
  {"CRC-16/OPENSAFETY-B", "", {16, 0x755B, 0x0000, false, false, 0x0000}, 0x20FE},
  {"CRC-16/PROFIBUS", "CRC-16/IEC-61158-2", {16, 0x1DCF, 0xFFFF, false, false, 0xFFFF}, 0xA819},
  {"CRC-16/RIELLO", "", {16, 0x1021, 0xB2AA, true, true, 0x0000}, 0x63D0},
  {"CRC-16/SPI-FUJITSU", "CRC-16/AUG-CCITT", {16, 0x1021, 0x1D0F, false, false, 0x0000}, 0xE5CC},
  {"CRC-16/T10-DIF", "", {16, 0x8BB7, 0x0000, false, false, 0x0000}, 0xD0DB},
  {"CRC-16/TELEDISK", "", {16, 0xA097, 0x0000, false, false, 0x0000}, 0x0FB3},
  {"CRC-16/TMS37157", "", {16, 0x1021, 0x89EC, true, true, 0x0000}, 0x26B1},
  {"CRC-16/UMTS", "CRC-16/BUYPASS CRC-16/VERIFONE",
   {16, 0x8005, 0x0000, false, false, 0x0000}, 0xFEE8},
  {"CRC-16/USB", "", {16, 0x8005, 0xFFFF, true, true, 0xFFFF}, 0xB4C8},

  {"CRC-32/ISO-HDLC", "CRC-32 CRC-32/ADCCP CRC-32/V-42 CRC-32/XZ PKZIP",
   {32, 0x04C11DB7, 0xFFFFFFFF, true, true, 0xFFFFFFFF}, 0xCBF43926},
  {"CRC-32/ISCSI", "CRC-32/BASE91-C CRC-32/CASTAGNOLI CRC-32/INTERLAKEN CRC-32C",
   {32, 0x1EDC6F41, 0xFFFFFFFF, true, true, 0xFFFFFFFF}, 0xE3069283},
  {"CRC-32/BZIP2", "CRC-32/AAL5 CRC-32/DECT-B B-CRC-32",
   {32, 0x04C11DB7, 0xFFFFFFFF, false, false, 0xFFFFFFFF}, 0xFC891918},
  {"CRC-32/MPEG-2", "", {32, 0x04C11DB7, 0xFFFFFFFF, false, false, 0x00000000}, 0x0376E6E7},
  {"CRC-32/AIXM", "CRC-32Q", {32, 0x814141AB, 0x00000000, false, false, 0x00000000}, 0x3010BF7F},
  {"CRC-32/AUTOSAR", "", {32, 0xF4ACFB13, 0xFFFFFFFF, true, true, 0xFFFFFFFF}, 0x1697D06A},
  {"CRC-32/BASE91-D", "CRC-32D",
   {32, 0xA833982B, 0xFFFFFFFF, true, true, 0xFFFFFFFF}, 0x87315576},
  {"CRC-32/CD-ROM-EDC", "", {32, 0x8001801B, 0x00000000, true, true, 0x00000000}, 0x6EC2EDC4},
  {"CRC-32/CKSUM", "CKSUM CRC-32/POSIX", {32, 0x04C11DB7, 0x00000000, false, false, 0xFFFFFFFF},
   0x765E7680},
  {"CRC-32/JAMCRC", "JAMCRC", {32, 0x04C11DB7, 0xFFFFFFFF, true, true, 0x00000000}, 0x340BC6D9},
  {"CRC-32/XFER", "XFER", {32, 0x000000AF, 0x00000000, false, false, 0x00000000}, 0xBD0BE338},
};
// clang-format on

constexpr size_t kCatalogueSize = std::size(kCatalogue);

bool SameName(std::string_view a, std::string_view b) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](char x, char y) { return upper(x) == upper(y); });
}

std::string Hex(uint64_t value, int width) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llX", CrcBytes(width) * 2,
                static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

std::optional<std::string> CheckCrcParams(const CrcParams& params) {
  if (params.width < kMinCrcWidth || params.width > kMaxCrcWidth) return field_msg::kCrcWidth;
  const uint64_t mask = WidthMask(params.width);
  const std::string bits = std::to_string(params.width);
  if (params.poly == 0 || (params.poly & ~mask) != 0)
    return FillMessage(field_msg::kCrcPoly, {bits});
  if ((params.init & ~mask) != 0) return FillMessage(field_msg::kCrcInit, {bits});
  if ((params.xorout & ~mask) != 0) return FillMessage(field_msg::kCrcXorout, {bits});
  return std::nullopt;
}

Crc::Crc(const CrcParams& params) : params_(params) {
  std::array<uint64_t, 256>& table = tables_[0];
  if (params.refin) {
    const uint64_t poly = Reflect(params.poly, params.width);
    for (uint64_t i = 0; i < 256; ++i) {
      uint64_t r = i;
      for (int bit = 0; bit < 8; ++bit) r = (r & 1) ? (r >> 1) ^ poly : r >> 1;
      table[i] = r;
    }
    for (size_t k = 1; k < 8; ++k) {
      for (size_t i = 0; i < 256; ++i) {
        const uint64_t before = tables_[k - 1][i];
        tables_[k][i] = table[before & 0xFF] ^ (before >> 8);
      }
    }
    start_ = Reflect(params.init, params.width);
  } else {
    const int up = 64 - params.width;
    const uint64_t poly = params.poly << up;
    for (uint64_t i = 0; i < 256; ++i) {
      uint64_t r = i << 56;
      for (int bit = 0; bit < 8; ++bit) r = (r >> 63) ? (r << 1) ^ poly : r << 1;
      table[i] = r;
    }
    for (size_t k = 1; k < 8; ++k) {
      for (size_t i = 0; i < 256; ++i) {
        const uint64_t before = tables_[k - 1][i];
        tables_[k][i] = table[before >> 56] ^ (before << 8);
      }
    }
    start_ = params.init << up;
  }
}

uint64_t Crc::Compute(std::span<const uint8_t> bytes) const {
  const auto& t = tables_;
  const uint8_t* p = bytes.data();
  size_t n = bytes.size();
  uint64_t r = start_;
  if (params_.refin) {
    for (; n >= 8; p += 8, n -= 8) {
      uint64_t v = 0;
      for (int k = 7; k >= 0; --k) v = v << 8 | p[k];  // little-endian: one load
      v ^= r;
      r = t[7][v & 0xFF] ^ t[6][(v >> 8) & 0xFF] ^ t[5][(v >> 16) & 0xFF] ^ t[4][(v >> 24) & 0xFF] ^
          t[3][(v >> 32) & 0xFF] ^ t[2][(v >> 40) & 0xFF] ^ t[1][(v >> 48) & 0xFF] ^ t[0][v >> 56];
    }
    for (; n > 0; ++p, --n) r = t[0][(r ^ *p) & 0xFF] ^ (r >> 8);
  } else {
    for (; n >= 8; p += 8, n -= 8) {
      uint64_t v = 0;
      for (int k = 0; k < 8; ++k) v = v << 8 | p[k];  // big-endian: one load and a swap
      v ^= r;
      r = t[7][v >> 56] ^ t[6][(v >> 48) & 0xFF] ^ t[5][(v >> 40) & 0xFF] ^ t[4][(v >> 32) & 0xFF] ^
          t[3][(v >> 24) & 0xFF] ^ t[2][(v >> 16) & 0xFF] ^ t[1][(v >> 8) & 0xFF] ^ t[0][v & 0xFF];
    }
    for (; n > 0; ++p, --n) r = t[0][(r >> 56) ^ *p] ^ (r << 8);
    r >>= 64 - params_.width;
  }
  if (params_.refin != params_.refout) r = Reflect(r, params_.width);
  return r ^ params_.xorout;
}

std::span<const CrcModel> CrcCatalogue() { return kCatalogue; }

const CrcModel* FindCrcModel(std::string_view name) {
  for (const CrcModel& model : kCatalogue) {
    if (SameName(model.name, name)) return &model;
    std::string_view rest = model.aliases;
    while (!rest.empty()) {
      const size_t blank = rest.find(' ');
      if (SameName(rest.substr(0, blank), name)) return &model;
      rest = blank == std::string_view::npos ? std::string_view{} : rest.substr(blank + 1);
    }
  }
  return nullptr;
}

const Crc& CatalogueCrc(const CrcModel& model) {
  static std::once_flag built[kCatalogueSize];
  static std::unique_ptr<const Crc> engines[kCatalogueSize];
  const size_t index = static_cast<size_t>(&model - kCatalogue);
  std::call_once(built[index], [&] { engines[index] = std::make_unique<const Crc>(model.params); });
  return *engines[index];
}

std::string FormatCrcModel(const CrcModel& model) {
  const CrcParams& p = model.params;
  std::string line = std::string(model.name) + " width=" + std::to_string(p.width) +
                     " poly=" + Hex(p.poly, p.width) + " init=" + Hex(p.init, p.width) +
                     " refin=" + (p.refin ? "true" : "false") +
                     " refout=" + (p.refout ? "true" : "false") +
                     " xorout=" + Hex(p.xorout, p.width) + " check=" + Hex(model.check, p.width);
  if (!model.aliases.empty()) {
    std::string aliases(model.aliases);
    std::replace(aliases.begin(), aliases.end(), ' ', ',');
    line += " aliases=" + aliases;
  }
  return line;
}

}  // namespace ostrel
