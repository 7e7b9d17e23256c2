#include "senddata/byte_grid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>
#include <optional>

#include "common/tool_kind.h"
#include "fake_grid.h"
#include "logging/operation_log.h"
#include "senddata/flex_grid.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

using Bytes = std::vector<uint8_t>;

std::string Hex(int value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

Bytes Pattern(std::size_t n, int seed) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + seed);
  return bytes;
}

// The first way in which `grid` differs from a fill with `bytes`, or "" when it does not.
// Row 0 must still hold the texts "h0".."h16".
std::string DifferenceFromFill(const FlexGrid& grid, const Bytes& bytes) {
  const std::size_t n = std::min<std::size_t>(bytes.size(), 2048);
  const int rows = static_cast<int>((n + 15) / 16) + 1;
  if (grid.Rows() != rows) return "Rows " + std::to_string(grid.Rows());
  for (int c = 0; c < 17; ++c) {
    if (grid.TextMatrix(0, c) != "h" + std::to_string(c)) return "header row touched";
  }
  for (int r = 1; r < rows; ++r) {
    const std::string at = " at " + std::to_string(r) + ",";
    if (grid.TextMatrix(r, 0) != Hex(r - 1, 4) || !grid.CellCenteredAt(r, 0))
      return "row header" + at;
    for (int c = 1; c < 17; ++c) {
      const std::size_t k = (r - 1) * 16 + (c - 1);
      const std::string text = k < n ? Hex(bytes[k], 2) : "";
      const uint32_t back = k < n ? kDefaultBackColor : kGreyBackColor;
      if (grid.TextMatrix(r, c) != text) return "text" + at + std::to_string(c);
      if (grid.CellBackColorAt(r, c) != back) return "background" + at + std::to_string(c);
      if (!grid.CellCenteredAt(r, c)) return "alignment" + at + std::to_string(c);
    }
  }
  return "";
}

class ByteGridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    intToolKind = 2;
    InitLog(dir_.str());
    for (int c = 0; c < 17; ++c) grid_.SetTextMatrix(0, c, "h" + std::to_string(c));
  }
  Bytes ReadBack() {
    Bytes bytes(7, 0xEE);  // stale content must not survive
    SetByteArrayFromGrid(bytes, grid_);
    return bytes;
  }
  std::vector<std::string> Log() { return test::LogMessages(strLogFile[2]); }

  test::TempDir dir_;
  FlexGrid grid_;
};

TEST_F(ByteGridTest, EveryLengthFillsAndReadsBackGrowingAndShrinking) {
  // Before any fill the single empty data row reads back as nothing, and an empty
  // array leaves the grid alone.
  SetGridFromByteArray(grid_, {});
  EXPECT_EQ(grid_.Rows(), 2);
  EXPECT_EQ(grid_.TextMatrix(1, 1), "");
  EXPECT_TRUE(ReadBack().empty());

  std::vector<std::size_t> lengths;
  for (std::size_t n = 1; n <= 2049; ++n) lengths.push_back(n);
  for (std::size_t n = 2049; n >= 1 && n <= 2049; n -= 13) lengths.push_back(n);
  lengths.push_back(3000);
  lengths.push_back(5);
  for (const std::size_t n : lengths) {
    const Bytes bytes = Pattern(n, static_cast<int>(n));
    SetGridFromByteArray(grid_, bytes);
    ASSERT_EQ(DifferenceFromFill(grid_, bytes), "") << "length " << n;
    ASSERT_EQ(ReadBack(), Bytes(bytes.begin(), bytes.begin() + std::min<std::size_t>(n, 2048)))
        << "length " << n;
  }
  EXPECT_TRUE(Log().empty());
}

TEST_F(ByteGridTest, EveryByteValueShowsAsTwoDigitsAndReadsBackInEitherCase) {
  Bytes all(256);
  for (int b = 0; b < 256; ++b) all[b] = static_cast<uint8_t>(b);
  SetGridFromByteArray(grid_, all);
  for (int b = 0; b < 256; ++b) {
    ASSERT_EQ(grid_.TextMatrix(b / 16 + 1, b % 16 + 1), Hex(b, 2)) << b;
  }
  EXPECT_EQ(ReadBack(), all);

  for (int b = 0; b < 256; ++b) {
    std::string lower = Hex(b, 2);
    for (char& ch : lower) ch = static_cast<char>(std::tolower(ch));
    grid_.SetTextMatrix(b / 16 + 1, b % 16 + 1, b % 2 ? lower : lower.substr(lower[0] == '0'));
  }
  EXPECT_EQ(ReadBack(), all);
}

TEST(ReadableCellValueTest, HexDigitsOnlyInEitherCase) {
  const struct {
    const char* text;
    std::optional<int> value;
  } cases[] = {
      {"", std::nullopt},    {"0", 0},
      {"a", 0x0A},           {"Ab", 0xAB},
      {"0ff", 0xFF},         {"100", 0x100},
      {"0000000001", 1},     {"G", std::nullopt},
      {" 1", std::nullopt},  {"1 ", std::nullopt},
      {"-1", std::nullopt},  {"+1", std::nullopt},
      {"&H1", std::nullopt}, {"0x1", std::nullopt},
      {"１", std::nullopt},  {"FFFFFFFFFFFFFFFFFFFF", std::numeric_limits<int>::max()},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadableCellValue(c.text), c.value) << '"' << c.text << '"';
}

TEST_F(ByteGridTest, EachRowIsReadUpToItsFirstUnreadableCell) {
  const Bytes bytes = Pattern(40, 0);
  SetGridFromByteArray(grid_, bytes);
  grid_.SetTextMatrix(1, 3, "");    // cell 5 of this row still holds a byte
  grid_.SetTextMatrix(2, 9, "G1");  // unreadable text stops the row too
  grid_.SetTextMatrix(3, 1, " 1");
  Bytes expected(bytes.begin(), bytes.begin() + 2);
  for (int k = 16; k < 24; ++k) expected.push_back(bytes[k]);
  EXPECT_EQ(ReadBack(), expected);
  EXPECT_TRUE(Log().empty());
}

TEST_F(ByteGridTest, ValueAboveFfFailsTheReadBackAtItsWorkingSize) {
  const Bytes bytes = Pattern(20, 0);
  for (const char* bad : {"100", "FFFFFFFFFFFFFFFFFFFF"}) {
    SetGridFromByteArray(grid_, bytes);
    grid_.SetTextMatrix(2, 2, bad);
    Bytes expected(32, 0);
    std::copy(bytes.begin(), bytes.begin() + 17, expected.begin());
    EXPECT_EQ(ReadBack(), expected) << bad;
  }
  EXPECT_EQ(Log(), std::vector<std::string>(2, "オーバーフローしました。(SetByteArrayFromGrid)"));
}

TEST_F(ByteGridTest, AFailedFillLogsAndLeavesTheGridPartlyRefilled) {
  test::FakeGrid grid;
  SetGridFromByteArray(grid, Bytes(40, 0x11));
  grid.SetRow(3);
  grid.SetCol(7);
  // A fill of 20 bytes writes 2 row headers, then the cells; the sixth cell fails.
  grid.fail_at_set_text = grid.set_text_calls + 2 + 5;
  SetGridFromByteArray(grid, Bytes(20, 0x22));
  EXPECT_EQ(Log(), std::vector<std::string>{"デバイス I/O エラーです。(SetGridFromByteArray)"});
  EXPECT_EQ(grid.Rows(), 3);
  EXPECT_EQ(grid.At(1, 5).text, "22");
  EXPECT_EQ(grid.At(1, 6).text, "11");
  // The operator's current cell survives the fill, moved up when its row went away.
  EXPECT_EQ(grid.Row(), 2);
  EXPECT_EQ(grid.Col(), 7);
  grid.fail_at_set_text = -1;
  grid.SetRow(1);
  SetGridFromByteArray(grid, Bytes(40, 0x33));
  EXPECT_EQ(grid.Row(), 1);
  EXPECT_EQ(grid.Col(), 7);
}

}  // namespace
}  // namespace ostrel
