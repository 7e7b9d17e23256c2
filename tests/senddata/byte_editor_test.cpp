#include "senddata/byte_editor.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "common/display_text.h"
#include "common/run_time_error.h"
#include "common/text_scan.h"
#include "common/tool_kind.h"
#include "logging/operation_log.h"
#include "senddata/fake_grid.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

std::array<bool, kDataBitCount> BitsOf(int value) {
  std::array<bool, kDataBitCount> bits{};
  for (int i = 0; i < kDataBitCount; ++i) bits[i] = ((value >> i) & 1) != 0;
  return bits;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

class ByteEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    intToolKind = Kiv_UdpSnd;
    InitLog(dir_.str());
    grid_.SetRows(3);
    for (int c = 0; c < 16; ++c) grid_.SetTextMatrix(0, c + 1, HexText2(c));
    grid_.SetTextMatrix(1, 0, "0000");
    grid_.SetTextMatrix(2, 0, "0001");
    grid_.SetTextMatrix(1, 11, "0A");
    grid_.SetTextMatrix(2, 11, "C3");
  }

  // Every cell text, row by row.
  std::vector<std::vector<std::string>> Texts() const {
    std::vector<std::vector<std::string>> texts(grid_.Rows());
    for (int r = 0; r < grid_.Rows(); ++r) {
      for (int c = 0; c < grid_.Cols(); ++c) texts[r].push_back(grid_.TextMatrix(r, c));
    }
    return texts;
  }

  std::vector<std::string> Log() const { return test::LogMessages(strLogFile[Kiv_UdpSnd]); }

  // The state after the editor shows `text` as a valid byte.
  static ByteEditorState Valid(const std::string& text, int value) {
    return {text, BitsOf(value), "", true, ""};
  }

  test::TempDir dir_;
  test::FakeGrid grid_{17};
  ByteEditor editor_;
};

TEST(ByteTextValueTest, OneOrTwoHexDigitsInEitherCaseAreAByte) {
  for (int v = 0; v < 256; ++v) {
    EXPECT_EQ(ByteTextValue(HexText2(v)), v) << HexText2(v);
    EXPECT_EQ(ByteTextValue(Lower(HexText2(v))), v) << Lower(HexText2(v));
  }
  for (int v = 0; v < 16; ++v) {
    EXPECT_EQ(ByteTextValue(HexText2(v).substr(1)), v) << v;
  }
  for (const char* text : {"", "G", "g", "1Z", "Z1", "-1", "+1", " 1", "1 ", " ", "100", "0FF",
                           "&H", "&H1", "0x", "\t", "１", "Ａ", "あ"}) {
    EXPECT_EQ(ByteTextValue(text), std::nullopt) << '"' << text << '"';
  }
  EXPECT_EQ(ByteTextValue(std::string("1\0", 2)), std::nullopt);
}

TEST_F(ByteEditorTest, EveryByteTypedInEitherCaseShowsUpperCaseAndItsBits) {
  for (int v = 0; v < 256; ++v) {
    for (const std::string& typed : {HexText2(v), Lower(HexText2(v))}) {
      editor_.SetText("");
      editor_.SetText(typed);
      EXPECT_EQ(editor_.State(), Valid(HexText2(v), v)) << typed;
      EXPECT_EQ(editor_.intInputLock(), kInputIdle) << typed;
    }
  }
  EXPECT_TRUE(Log().empty());
}

TEST_F(ByteEditorTest, EveryByteSetBitByBitSpellsItselfInTheText) {
  for (int v = 0; v < 256; ++v) {
    editor_.SetText("00");
    int built = 0;
    for (int i = kDataBitCount - 1; i >= 0; --i) {
      if (((v >> i) & 1) == 0) continue;
      editor_.SetBit(i, true);
      built |= 1 << i;
      ASSERT_EQ(editor_.State(), Valid(HexText2(built), built)) << v << " bit " << i;
    }
    // Clearing them again, lowest first, walks back down to 00.
    for (int i = 0; i < kDataBitCount; ++i) {
      if (((v >> i) & 1) == 0) continue;
      editor_.SetBit(i, false);
      built &= ~(1 << i);
      ASSERT_EQ(editor_.State(), Valid(HexText2(built), built)) << v << " bit " << i;
    }
    EXPECT_EQ(editor_.intInputLock(), kInputIdle);
  }
  EXPECT_TRUE(Log().empty());
}

TEST_F(ByteEditorTest, TypingOneLowerCaseDigitAtATimeUpperCasesEachStep) {
  editor_.SetText("a");
  EXPECT_EQ(editor_.State(), Valid("A", 0x0A));
  editor_.SetText("Af");  // the operator types f after the A
  EXPECT_EQ(editor_.State(), Valid("AF", 0xAF));
  editor_.SetText("");
  editor_.SetText("f");
  editor_.SetText("Ff");
  EXPECT_EQ(editor_.State(), Valid("FF", 0xFF));
}

TEST_F(ByteEditorTest, InvalidEntryEmptiesTheBoxUntilAValidOneIsTyped) {
  for (const char* typed : {"G", "1Z", "-", " ", "Ａ"}) {
    editor_.SetText("0A");
    editor_.SetText(typed);
    EXPECT_EQ(editor_.State(), (ByteEditorState{"", {}, byte_editor_msg::kInvalidData, false, ""}))
        << typed;
    EXPECT_EQ(editor_.intInputLock(), kInputIdle);

    editor_.SetText("1");
    EXPECT_EQ(editor_.State(), Valid("1", 1)) << typed;
  }
}

TEST_F(ByteEditorTest, TheBoxKeepsTwoCharactersOfALongerText) {
  editor_.SetText("ABC");
  EXPECT_EQ(editor_.State(), Valid("AB", 0xAB));
  editor_.SetText("あいう");  // two characters kept, and they are no byte
  EXPECT_EQ(editor_.State().text, "");
  EXPECT_EQ(editor_.State().status, byte_editor_msg::kInvalidData);
}

TEST_F(ByteEditorTest, BitBoxesChangeTheirOwnBitOnly) {
  editor_.SetText("0A");
  editor_.SetBit(7, true);
  EXPECT_EQ(editor_.State(), Valid("8A", 0x8A));
  editor_.SetBit(1, false);
  EXPECT_EQ(editor_.State(), Valid("88", 0x88));
  // A box set to the mark it already carries raises nothing.
  editor_.SetBit(3, true);
  EXPECT_EQ(editor_.State(), Valid("88", 0x88));
  // A one-digit text is read as its value and comes back as two digits.
  editor_.SetText("5");
  editor_.SetBit(4, true);
  EXPECT_EQ(editor_.State(), Valid("15", 0x15));
  EXPECT_THROW(editor_.SetBit(8, true), RunTimeError);
}

TEST_F(ByteEditorTest, ErasingClearsTheBitsAndKeepsApplyThenApplyWrites00) {
  editor_.LoadCell(grid_, 1, 11);
  editor_.SetText("");
  EXPECT_EQ(editor_.State(), (ByteEditorState{"", {}, "", true, "0000-0A"}));
  editor_.ApplyToCell();
  EXPECT_EQ(grid_.TextMatrix(1, 11), "00");
  EXPECT_EQ(editor_.State(), (ByteEditorState{"00", {}, "", true, "0000-0A"}));
}

TEST_F(ByteEditorTest, BitClickOnAnEmptyBoxCountsTheTextAs00) {
  editor_.SetText("0A");
  editor_.SetText("");
  editor_.SetBit(3, true);
  EXPECT_EQ(editor_.State(), Valid("08", 0x08));

  // After an invalid entry the box holds a byte again, so Apply comes back.
  editor_.SetText("G");
  editor_.SetBit(0, true);
  EXPECT_EQ(editor_.State(), Valid("01", 0x01));
  EXPECT_EQ(editor_.intInputLock(), kInputIdle);
  EXPECT_TRUE(Log().empty());
}

TEST_F(ByteEditorTest, LoadCellOnAnEmptyCellEmptiesTheBoxAndRaises) {
  editor_.LoadCell(grid_, 1, 11);
  try {
    editor_.LoadCell(grid_, 2, 16);
    FAIL() << "no error";
  } catch (const RunTimeError& error) {
    EXPECT_EQ(error.Description(), desc::kTypeMismatch);
  }
  EXPECT_EQ(editor_.State().text, "");
  EXPECT_EQ(editor_.State().bits, BitsOf(0));
  EXPECT_EQ(editor_.intInputLock(), kInputIdle);
  // Also when the box was empty already, so no change rule ran.
  EXPECT_THROW(editor_.LoadCell(grid_, 2, 16), RunTimeError);
  EXPECT_THROW(editor_.LoadCell(grid_, 3, 1), RunTimeError);  // past the grid
}

TEST_F(ByteEditorTest, ApplyPadsToTwoDigitsAndWritesOnlyTheOpenedCell) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a", "0A"}, {"7", "07"}, {"ff", "FF"}, {"3c", "3C"}, {"", "00"}};
  for (const auto& [typed, written] : cases) {
    editor_.LoadCell(grid_, 2, 11);
    editor_.SetText(typed);
    auto expected = Texts();
    expected[2][11] = written;
    editor_.ApplyToCell();
    EXPECT_EQ(Texts(), expected) << typed;
    EXPECT_EQ(editor_.State().text, written) << typed;
    EXPECT_EQ(grid_.Row(), 1);
    EXPECT_EQ(grid_.Col(), 1);
    EXPECT_EQ(grid_.Rows(), 3);
  }
  EXPECT_EQ(grid_.TextMatrix(1, 11), "0A");
}

TEST_F(ByteEditorTest, ApplyBeforeAnyCellWasOpenedRaises) {
  EXPECT_THROW(editor_.ApplyToCell(), RunTimeError);
}

}  // namespace
}  // namespace ostrel
