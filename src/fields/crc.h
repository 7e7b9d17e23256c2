#pragma once
// Parametrised CRCs (the Rocksoft/Williams model) and the catalogue of named models.
//
// A model is width, poly, init, refin, refout and xorout, each as the catalogue writes it:
// poly in normal form without its top bit, init the register's value before the first
// byte (not reflected), xorout applied last. Widths 1 to 64 bits are accepted; the value
// of a CRC of width w fills ceil(w / 8) bytes, right-aligned.
//
// Every engine works from the model's 256-entry table and seven more derived from it, which
// take eight bytes a step (slicing by eight); no bit is handled alone. They are built once:
// a catalogue model's on first use (thread-safe), a custom model's when its Crc is made.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ostrel {

struct CrcParams {
  int width = 0;  // bits, 1..64
  uint64_t poly = 0;
  uint64_t init = 0;
  bool refin = false;
  bool refout = false;
  uint64_t xorout = 0;

  friend bool operator==(const CrcParams&, const CrcParams&) = default;
};

// The widths CheckCrcParams accepts.
inline constexpr int kMinCrcWidth = 1;
inline constexpr int kMaxCrcWidth = 64;

// Why `params` cannot be used ("model.poly: …", Japanese, naming the key under "model"),
// or nothing when they can: width 1..64, poly non-zero, poly, init and xorout within width.
std::optional<std::string> CheckCrcParams(const CrcParams& params);

// The number of bytes a CRC of `width` bits fills.
inline int CrcBytes(int width) { return (width + 7) / 8; }

class Crc {
 public:
  // `params` must pass CheckCrcParams.
  explicit Crc(const CrcParams& params);

  const CrcParams& Params() const { return params_; }

  // The CRC of `bytes`.
  uint64_t Compute(std::span<const uint8_t> bytes) const;

 private:
  CrcParams params_;
  // tables_[k][i]: byte value i entered, then k zero bytes. A reflected model's register
  // holds the CRC reflected in its low bits; another's holds it in its top bits.
  std::array<std::array<uint64_t, 256>, 8> tables_{};
  uint64_t start_ = 0;
};

struct CrcModel {
  std::string_view name;     // the catalogue name, "CRC-16/MODBUS"
  std::string_view aliases;  // other names it is known by, separated by single blanks
  CrcParams params;
  uint64_t check = 0;  // the CRC of the nine bytes "123456789"
};

// Every named model, in the order --list-crc shows them.
std::span<const CrcModel> CrcCatalogue();

// The model called `name` (its catalogue name or an alias, in any case), or nullptr.
const CrcModel* FindCrcModel(std::string_view name);

// The engine of a catalogue model (an element of CrcCatalogue()), built on first use.
const Crc& CatalogueCrc(const CrcModel& model);

// One line for --list-crc: "CRC-16/MODBUS width=16 poly=0x8005 init=0xFFFF refin=true
// refout=true xorout=0x0000 check=0x4B37 aliases=MODBUS" (values in as many hexadecimal
// digits as the width's bytes need; aliases separated by commas, none: no aliases=).
std::string FormatCrcModel(const CrcModel& model);

}  // namespace ostrel
