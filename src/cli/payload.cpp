#include "payload.h"

#include <algorithm>

#include "common/text_scan.h"
#include "memory_grid.h"
#include "senddata/byte_grid.h"
#include "senddata/send_data_file.h"

namespace ostrel {
namespace {

// Blanks and line breaks separate the tokens.
bool IsSeparator(char ch) { return IsBlank(ch) || ch == '\r' || ch == '\n'; }

PayloadResult Failed(std::string error) { return {{}, std::move(error)}; }

}  // namespace

PayloadResult ParseHexPayload(std::string_view text) {
  PayloadResult result;
  std::size_t i = 0;
  while (i < text.size()) {
    if (IsSeparator(text[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    const std::string_view token = text.substr(i, end - i);
    i = end;
    std::string_view digits = token;
    if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
      digits.remove_prefix(2);
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return HexDigitValue(c) >= 0; }))
      return Failed("\"" + std::string(token) + "\" は16進数のバイトではありません。");
    if (digits.size() > 2 && digits.size() % 2 != 0)
      return Failed("\"" + std::string(token) + "\" の桁数が奇数です。");
    // One or two digits are one byte, as the byte editor reads them; a longer run is a
    // byte for each pair.
    const std::size_t step = digits.size() == 1 ? 1 : 2;
    for (std::size_t k = 0; k < digits.size(); k += step)
      result.bytes.push_back(*ByteTextValue(digits.substr(k, step)));
    if (result.bytes.size() > kGridByteCapacity)
      return Failed("送信データは " + std::to_string(kGridByteCapacity) + " バイトまでです。");
  }
  if (result.bytes.empty()) return Failed("送信データがありません。");
  return result;
}

PayloadResult LoadPayloadFile(const std::string& path) {
  switch (CheckInputFileName(path)) {
    case InputFileCheck::kEmptyName:
      return Failed(kInputFileNameEmptyMessage);
    case InputFileCheck::kNoSuchFile:
      return Failed(path + ": " + kInputFileMissingMessage);
    case InputFileCheck::kOk:
      break;
  }
  MemoryGrid grid;
  LoadSendDataFile(grid, path);
  PayloadResult result;
  SetByteArrayFromGrid(result.bytes, grid);
  // The load has logged why the grid stayed empty.
  if (result.bytes.empty()) return Failed(path + ": ファイルを読み込めませんでした。");
  return result;
}

}  // namespace ostrel
