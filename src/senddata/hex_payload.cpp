#include "hex_payload.h"

#include "byte_grid.h"
#include "common/blank_tokens.h"

namespace ostrel {
namespace {

PayloadResult Failed(std::string error) { return {{}, std::move(error)}; }

}  // namespace

PayloadResult ParseHexPayload(std::string_view text) {
  PayloadResult result;
  for (const std::string_view token : BlankSeparatedTokens(text)) {
    std::string_view digits = token;
    if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
      digits.remove_prefix(2);
    // The digits a grid cell takes: hexadecimal, either case.
    if (!ReadableCellValue(digits))
      return Failed("\"" + std::string(token) + "\" は16進数のバイトではありません。");
    if (digits.size() > 2 && digits.size() % 2 != 0)
      return Failed("\"" + std::string(token) + "\" の桁数が奇数です。");
    const std::size_t step = digits.size() == 1 ? 1 : 2;
    for (std::size_t k = 0; k < digits.size(); k += step)
      result.bytes.push_back(static_cast<uint8_t>(*ReadableCellValue(digits.substr(k, step))));
    if (result.bytes.size() > kGridByteCapacity)
      return Failed("送信データは " + std::to_string(kGridByteCapacity) + " バイトまでです。");
  }
  if (result.bytes.empty()) return Failed("送信データがありません。");
  return result;
}

}  // namespace ostrel
