#include "payload.h"

#include <algorithm>

#include "common/text_scan.h"
#include "memory_grid.h"
#include "senddata/byte_grid.h"
#include "senddata/send_data_file.h"

namespace ostrel {
namespace {

PayloadResult Failed(std::string error) { return {{}, std::move(error)}; }

}  // namespace

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
