#include "fields/crc.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace ostrel {
namespace {

const std::string kCheckInput = "123456789";

uint64_t CrcOfCheckInput(const Crc& crc) {
  return crc.Compute({reinterpret_cast<const uint8_t*>(kCheckInput.data()), kCheckInput.size()});
}

TEST(CrcTest, EveryCatalogueModelGivesItsCheckValue) {
  for (const CrcModel& model : CrcCatalogue()) {
    SCOPED_TRACE(std::string(model.name));
    EXPECT_FALSE(CheckCrcParams(model.params));
    EXPECT_EQ(CrcOfCheckInput(CatalogueCrc(model)), model.check);
  }
}

// Custom widths off the byte grid and refin unlike refout, against their published check values.
TEST(CrcTest, CustomParametersOfEveryShapeGiveTheirCheckValues) {
  struct Case {
    const char* name;
    CrcParams params;
    uint64_t check;
  };
  const Case cases[] = {
      {"CRC-3/GSM", {3, 0x3, 0x0, false, false, 0x7}, 0x4},
      {"CRC-4/G-704", {4, 0x3, 0x0, true, true, 0x0}, 0x7},
      {"CRC-5/USB", {5, 0x05, 0x1F, true, true, 0x1F}, 0x19},
      {"CRC-7/MMC", {7, 0x09, 0x00, false, false, 0x00}, 0x75},
      {"CRC-12/UMTS", {12, 0x80F, 0x000, false, true, 0x000}, 0xDAF},
      {"CRC-24/OPENPGP", {24, 0x864CFB, 0xB704CE, false, false, 0x0}, 0x21CF02},
      {"CRC-64/ECMA-182", {64, 0x42F0E1EBA9EA3693, 0, false, false, 0}, 0x6C40DF5F0B497347},
      {"CRC-64/XZ",
       {64, 0x42F0E1EBA9EA3693, ~uint64_t{0}, true, true, ~uint64_t{0}},
       0x995DC9BBDF1939FA},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(CheckCrcParams(c.params));
    EXPECT_EQ(CrcOfCheckInput(Crc(c.params)), c.check);
  }
}

TEST(CrcTest, ModelsAreFoundByNameOrAliasInAnyCase) {
  const std::pair<const char*, const char*> names[] = {
      {"crc-16/modbus", "CRC-16/MODBUS"},
      {"CRC-32", "CRC-32/ISO-HDLC"},
      {"CRC-16/CCITT-FALSE", "CRC-16/IBM-3740"},
      {"CRC-16", "CRC-16/ARC"},
      {"crc-16/x-25", "CRC-16/IBM-SDLC"},
      {"CRC-32C", "CRC-32/ISCSI"},
      {"Modbus", "CRC-16/MODBUS"},
      {"XMODEM", "CRC-16/XMODEM"},
      {"kermit", "CRC-16/KERMIT"},
      {"MAXIM", "CRC-8/MAXIM-DOW"},
  };
  for (const auto& [name, model] : names) {
    const CrcModel* found = FindCrcModel(name);
    ASSERT_NE(found, nullptr) << name;
    EXPECT_EQ(found->name, model) << name;
  }
  EXPECT_EQ(FindCrcModel("CRC-16/MODBUS "), nullptr);
  EXPECT_EQ(FindCrcModel(""), nullptr);
  EXPECT_EQ(FindCrcModel("CRC-99"), nullptr);
}

// A name given twice would make one of the models unreachable by it.
TEST(CrcTest, NoNameOrAliasIsGivenTwice) {
  std::set<std::string> seen;
  for (const CrcModel& model : CrcCatalogue()) {
    std::string names = std::string(model.name) + " " + std::string(model.aliases);
    for (size_t pos = 0; pos < names.size();) {
      size_t blank = names.find(' ', pos);
      if (blank == std::string::npos) blank = names.size();
      std::string name = names.substr(pos, blank - pos);
      for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      if (!name.empty()) {
        EXPECT_TRUE(seen.insert(name).second) << name;
      }
      pos = blank + 1;
    }
  }
}

TEST(CrcTest, CustomParametersAreCheckedWithTheKeyAndReason) {
  EXPECT_EQ(CheckCrcParams({0, 0x7, 0, false, false, 0}),
            "model.width: 1～64 の範囲で指定してください。");
  EXPECT_EQ(CheckCrcParams({65, 0x7, 0, false, false, 0}),
            "model.width: 1～64 の範囲で指定してください。");
  EXPECT_EQ(CheckCrcParams({16, 0, 0, false, false, 0}),
            "model.poly: 0 でない、16 ビットに収まる値を指定してください。");
  EXPECT_EQ(CheckCrcParams({16, 0x18005, 0, false, false, 0}),
            "model.poly: 0 でない、16 ビットに収まる値を指定してください。");
  EXPECT_EQ(CheckCrcParams({8, 0x07, 0x100, false, false, 0}),
            "model.init: 8 ビットに収まる値を指定してください。");
  EXPECT_EQ(CheckCrcParams({8, 0x07, 0, false, false, 0x1FF}),
            "model.xorout: 8 ビットに収まる値を指定してください。");
  EXPECT_FALSE(CheckCrcParams({64, ~uint64_t{0}, ~uint64_t{0}, true, false, ~uint64_t{0}}));
}

TEST(CrcTest, ListingShowsParametersAndCheckInHexadecimal) {
  EXPECT_EQ(FormatCrcModel(*FindCrcModel("MODBUS")),
            "CRC-16/MODBUS width=16 poly=0x8005 init=0xFFFF refin=true refout=true "
            "xorout=0x0000 check=0x4B37 aliases=MODBUS");
  EXPECT_EQ(FormatCrcModel(*FindCrcModel("CRC-32/MPEG-2")),
            "CRC-32/MPEG-2 width=32 poly=0x04C11DB7 init=0xFFFFFFFF refin=false refout=false "
            "xorout=0x00000000 check=0x0376E6E7");
}

}  // namespace
}  // namespace ostrel
