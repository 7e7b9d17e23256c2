// The grid read-back on arbitrary cell texts.
//
// Input: the data cells as text, one grid row per line, cells separated by tabs. The grid
// gets as many data rows as lines and as many data columns as the longest line has cells
// (both capped); cells a line does not reach stay empty. The header row and column hold
// "7F", readable text that the read-back must never take.
//
// Properties:
// - ReadableCellValue: a value exactly for non-empty texts of hexadecimal digits, equal
//   to their value or INT_MAX when larger;
// - SetByteArrayFromGrid reads the data cells in byte-index order, each row up to its first
//   unreadable cell; with a readable cell above FF it logs one overflow line and leaves
//   the working size with zeros after the bytes read; otherwise it logs nothing. Whatever
//   the vector held before does not matter;
// - the input's own bytes, filled into a grid of 16 columns, read back unchanged, and the
//   fill leaves the current cell where it was.

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/cp932.h"
#include "common/tool_kind.h"
#include "fuzz_support.h"
#include "logging/operation_log.h"
#include "senddata/byte_grid.h"
#include "senddata/fake_grid.h"

namespace ostrel {
namespace {

constexpr int kMaxDataRows = 130;
constexpr int kMaxDataCols = 33;
constexpr const char* kHeaderText = "7F";

// The value of a readable cell text, from its digits; INT_MAX beyond.
std::optional<int> ReadableValue(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
  }
  while (text.size() > 1 && text.front() == '0') text.remove_prefix(1);
  if (text.size() > 8) return INT_MAX;
  const unsigned long value = std::stoul(std::string(text), nullptr, 16);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

std::vector<std::vector<std::string>> Cells(std::string_view text) {
  std::vector<std::vector<std::string>> rows;
  while (!text.empty() && rows.size() < kMaxDataRows) {
    const std::size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    std::vector<std::string> cells;
    for (;;) {
      const std::size_t tab = line.find('\t');
      cells.emplace_back(line.substr(0, tab));
      if (tab == std::string_view::npos || cells.size() == kMaxDataCols) break;
      line.remove_prefix(tab + 1);
    }
    rows.push_back(std::move(cells));
  }
  return rows;
}

// The log's content since the last call; the log is emptied.
std::string TakeLog() {
  const std::string path = strLogFile[Kiv_UdpSnd];
  std::string log = fuzz::ReadBytes(path);
  unlink(path.c_str());
  return log;
}

void CheckCellTexts(std::string_view text) {
  const auto rows = Cells(text);
  std::size_t cols = 0;
  for (const auto& row : rows) cols = std::max(cols, row.size());

  test::FakeGrid grid(static_cast<int>(cols) + 1);
  grid.SetRows(static_cast<int>(rows.size()) + 1);
  for (int c = 0; c < grid.Cols(); ++c) grid.SetTextMatrix(0, c, kHeaderText);
  for (int r = 0; r < grid.Rows(); ++r) grid.SetTextMatrix(r, 0, kHeaderText);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      FUZZ_CHECK(ReadableCellValue(rows[r][c]) == ReadableValue(rows[r][c]));
      grid.SetTextMatrix(static_cast<int>(r) + 1, static_cast<int>(c) + 1, rows[r][c]);
    }
  }

  std::vector<uint8_t> expected;
  bool overflow = false;
  for (std::size_t r = 0; r < rows.size() && !overflow; ++r) {
    for (std::size_t c = 0; c < cols; ++c) {
      const std::optional<int> value = ReadableValue(c < rows[r].size() ? rows[r][c] : "");
      if (!value) break;
      if (*value > 0xFF) {
        overflow = true;
        break;
      }
      expected.push_back(static_cast<uint8_t>(*value));
    }
  }
  if (overflow) expected.resize(rows.size() * cols, 0);

  std::vector<uint8_t> bytes(text.size() % 7, 0xEE);
  SetByteArrayFromGrid(bytes, grid);
  FUZZ_CHECK(bytes == expected);

  const std::string log = TakeLog();
  if (overflow) {
    const std::string line = Utf8ToCp932("オーバーフローしました。(SetByteArrayFromGrid)") + "\r\n";
    FUZZ_CHECK(log.ends_with(line) && log.find("\r\n") == log.size() - 2);
  } else {
    FUZZ_CHECK(log.empty());
  }
}

void CheckRoundTrip(std::string_view text) {
  const std::vector<uint8_t> bytes(text.begin(),
                                   text.begin() + std::min(text.size(), kGridByteCapacity));
  test::FakeGrid grid;
  grid.SetRows(3);
  const int row = static_cast<int>(text.size() % 3);
  const int col = static_cast<int>(text.size() % 17);
  grid.SetRow(row);
  grid.SetCol(col);

  SetGridFromByteArray(grid, bytes);
  FUZZ_CHECK(grid.Row() == (bytes.empty() ? row : std::min(row, grid.Rows() - 1)));
  FUZZ_CHECK(grid.Col() == col);
  std::vector<uint8_t> read;
  SetByteArrayFromGrid(read, grid);
  FUZZ_CHECK(read == bytes);
  FUZZ_CHECK(TakeLog().empty());
}

}  // namespace
}  // namespace ostrel

// The log goes into the private folder, its lines stamped with a fixed time.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using namespace ostrel;
  intToolKind = Kiv_UdpSnd;
  InitLog(fuzz::PrivateFolder().string());
  static const FixedClock clock(LocalTime{2024, 5, 6, 13, 7, 9, 850});
  SetCurrentClock(&clock);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = ostrel::fuzz::AsText(data, size);
  ostrel::CheckCellTexts(text);
  ostrel::CheckRoundTrip(text);
  return 0;
}
