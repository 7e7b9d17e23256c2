#include "settings/com_setting.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/run_time_error.h"
#include "common/tool_kind.h"
#include "logging/operation_log.h"
#include "settings/ini_file.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

using test::ReadFileBytes;
using test::Replaced;
using test::TempDir;
using test::WriteFileBytes;

ComSettingTexts Texts(std::string src, std::string ip, std::string dest, std::string interval,
                      int unit) {
  return {std::move(src), std::move(ip), std::move(dest), std::move(interval), unit};
}

class ComSettingTest : public ::testing::Test {
 protected:
  // Validators log overflows; keep their lines in the test's folder.
  void SetUp() override {
    intToolKind = Kiv_UdpSnd;
    InitLog(dir_.str());
  }

  // Writes the valid settings with `from` replaced by `to`.
  void Store(const std::string& from = "", const std::string& to = "") {
    WriteFileBytes(
        file_, from.empty() ? test::kSampleSettings : Replaced(test::kSampleSettings, from, to));
  }
  std::string Bytes() const { return ReadFileBytes(file_); }

  TempDir dir_;
  std::string file_ = dir_ / "Kiv_UdpSendSetting.ini";
};

// ---- Opening ----------------------------------------------------------------------------

TEST_F(ComSettingTest, LoadGivesTheStoredTextsUncheckedAndTrimmedByTheReader) {
  Store("IPAddress=192.168.0.10", "IPAddress=  not an address  ");
  const ComSettingLoad load = LoadComSetting(file_);
  EXPECT_EQ(load.texts, Texts("5000", "not an address", "6000", "3000", 0));
  EXPECT_FALSE(load.unit_error);
}

TEST_F(ComSettingTest, LoadReadsThePeriodUnderEitherSpellingOfItsKey) {
  Store("Sendinterval=3000", "SendInterval=4000");
  EXPECT_EQ(LoadComSetting(file_).texts.strSendInterval, "4000");
}

TEST_F(ComSettingTest, LoadOfAMissingFileGivesEmptyTextsAndNoUnit) {
  const ComSettingLoad load = LoadComSetting(dir_ / "missing.ini");
  EXPECT_EQ(load.texts, Texts("", "", "", "", -1));
  EXPECT_FALSE(load.unit_error);
}

TEST_F(ComSettingTest, LoadSelectsTheStoredUnitOrReportsOneTheBoxCannotShow) {
  struct Case {
    std::string stored;
    int unit;
    std::optional<std::string> error;
  };
  const std::vector<Case> cases = {
      {"0", 0, std::nullopt},
      {"1", 1, std::nullopt},
      {"2", 2, std::nullopt},
      {"-1", -1, std::nullopt},  // selects nothing, quietly
      {"", -1, std::nullopt},    // not numeric: nothing selected, quietly
      {"sec", -1, std::nullopt},
      {" 1.5 ", 2, std::nullopt},  // rounds half to even
      {"2.5", 2, std::nullopt},
      {"3", -1, desc::kInvalidPropertyValue},  // no such item
      {"5", -1, desc::kInvalidPropertyValue},
      {"-2", -1, desc::kInvalidPropertyValue},
      {"40000", -1, desc::kOverflow},  // beyond 16 bits
  };
  for (const Case& c : cases) {
    Store("SendIntervalUnit=0", "SendIntervalUnit=" + c.stored);
    const ComSettingLoad load = LoadComSetting(file_);
    EXPECT_EQ(load.texts.intTimeUnit, c.unit) << "stored unit \"" << c.stored << "\"";
    EXPECT_EQ(load.unit_error, c.error) << "stored unit \"" << c.stored << "\"";
    EXPECT_EQ(load.texts.strSrcPort, "5000") << "the texts are filled all the same";
  }
}

// ---- Apply checks -----------------------------------------------------------------------

TEST_F(ComSettingTest, ApplyPassesValidTextsWithBlanksAround) {
  EXPECT_EQ(CheckApply(Texts(" 5000", "192.168.0.1", "0", "65535", 0)), std::nullopt);
  EXPECT_EQ(CheckApply(Texts("65535", " 10.0.0.1", "80 ", " 600 ", 1)), std::nullopt);
  EXPECT_EQ(CheckApply(Texts("1", "255.255.255.255", "2", "60", 2)), std::nullopt);
}

TEST_F(ComSettingTest, ApplyStopsAtTheFirstBadTextInBoxOrder) {
  using namespace com_setting_msg;
  const std::vector<std::tuple<ComSettingTexts, ComSettingBox, std::string>> cases = {
      {Texts("65536", "bad", "-1", "0", -1), ComSettingBox::SrcPort, kBadSrcPort},
      {Texts("", "1.2.3.4", "1", "2000", 0), ComSettingBox::SrcPort, kBadSrcPort},
      {Texts("1", "1.2.3", "-1", "0", -1), ComSettingBox::DestIP, kBadDestIP},
      {Texts("1", "1.2.3.256", "1", "2000", 0), ComSettingBox::DestIP, kBadDestIP},
      {Texts("1", "1.2.3.4", "abc", "0", -1), ComSettingBox::DestPort, kBadDestPort},
  };
  for (const auto& [texts, box, message] : cases) {
    EXPECT_EQ(CheckApply(texts), (ComSettingFailure{box, message}))
        << texts.strSrcPort << " / " << texts.strDestIP << " / " << texts.strDestPort;
  }
}

TEST_F(ComSettingTest, ApplyNamesTheLimitsOfTheSelectedUnitForABadPeriod) {
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"1000", 0, "2000～65535"}, {"65536", 0, "2000～65535"}, {"601", 1, "2～600"},
      {"1", 1, "2～600"},         {"0", 2, "1～60"},           {"61", 2, "1～60"},
      {"", 0, "2000～65535"},     {"3000", -1, "0～0"},  // no unit selected
  };
  for (const auto& [interval, unit, limits] : cases) {
    EXPECT_EQ(CheckApply(Texts("5000", "1.2.3.4", "6000", interval, unit)),
              (ComSettingFailure{ComSettingBox::SendInterval,
                                 std::string("送信周期が不正です。\r\n") + limits}))
        << interval << " in unit " << unit;
  }
}

// ---- Apply writes -----------------------------------------------------------------------

TEST_F(ComSettingTest, WritingTheStoredValuesChangesNothing) {
  Store();
  EXPECT_FALSE(WriteChanges(Texts("5000", "192.168.0.10", "6000", "3000", 0), file_));
  EXPECT_EQ(Bytes(), test::kSampleSettings);
}

TEST_F(ComSettingTest, TextsAreStoredTrimmedAndCompareTrimmed) {
  Store();
  EXPECT_FALSE(WriteChanges(Texts(" 5000 ", "192.168.0.10  ", " 6000", "3000 ", 0), file_));
  EXPECT_EQ(Bytes(), test::kSampleSettings);

  EXPECT_TRUE(WriteChanges(Texts(" 600 ", "192.168.0.10", "6000", "3000", 0), file_));
  EXPECT_EQ(Bytes(), Replaced(test::kSampleSettings, "UdpSrcPort=5000", "UdpSrcPort=600"));
}

TEST_F(ComSettingTest, ComparisonIsByTextNotByValue) {
  Store("Sendinterval=3000", "Sendinterval=03000");
  EXPECT_TRUE(WriteChanges(Texts("5000", "192.168.0.10", "6000", "3000", 0), file_));
  EXPECT_EQ(Bytes(), test::kSampleSettings);
}

TEST_F(ComSettingTest, AChangedUnitAloneWritesOnlyTheUnit) {
  Store();
  EXPECT_TRUE(WriteChanges(Texts("5000", "192.168.0.10", "6000", "3000", 1), file_));
  EXPECT_EQ(Bytes(), Replaced(test::kSampleSettings, "SendIntervalUnit=0", "SendIntervalUnit=1"));
}

TEST_F(ComSettingTest, APeriodStoredAsSendIntervalIsReplacedInPlace) {
  Store("Sendinterval=3000", "SendInterval=3000");
  EXPECT_TRUE(WriteChanges(Texts("5000", "192.168.0.10", "6000", "4000", 0), file_));
  EXPECT_EQ(ReadIni("Maintenance", "SendInterval", file_), "4000");
  EXPECT_EQ(Bytes().find("3000"), std::string::npos);
  EXPECT_EQ(Bytes().find("Sendinterval"), std::string::npos) << "no second entry";
}

TEST_F(ComSettingTest, KeysMissingFromTheFileAreAddedInWritingOrder) {
  EXPECT_TRUE(WriteChanges(Texts("5000", "10.0.0.1", "6000", "5", 2), file_));
  const std::string bytes = Bytes();
  const auto at = [&](const char* text) { return bytes.find(text); };
  EXPECT_LT(at("[Port]"), at("UdpSrcPort=5000"));
  EXPECT_LT(at("UdpSrcPort=5000"), at("UdpDestPort=6000"));
  EXPECT_LT(at("UdpDestPort=6000"), at("[IPAddress]")) << "Port came first";
  EXPECT_LT(at("[IPAddress]"), at("IPAddress=10.0.0.1"));
  EXPECT_LT(at("IPAddress=10.0.0.1"), at("[Maintenance]"));
  EXPECT_LT(at("Sendinterval=5"), at("SendIntervalUnit=2"));
  EXPECT_NE(at("SendIntervalUnit=2"), std::string::npos);
}

TEST_F(ComSettingTest, AFailedWriteRaisesAndLeavesTheFileAsItWas) {
  Store();
  ASSERT_EQ(chmod(file_.c_str(), 0444), 0);
  try {
    WriteChanges(Texts("600", "192.168.0.10", "6000", "3000", 0), file_);
    FAIL() << "a write to a read-only file must raise";
  } catch (const RunTimeError& error) {
    EXPECT_EQ(error.Description(), desc::kPermissionDenied);
  }
  EXPECT_EQ(Bytes(), test::kSampleSettings);
  // Nothing to write: the read-only file is no failure.
  EXPECT_FALSE(WriteChanges(Texts("5000", "192.168.0.10", "6000", "3000", 0), file_));
}

// ---- Cancel -----------------------------------------------------------------------------

TEST_F(ComSettingTest, CancelPassesValidStoredSettingsAndWritesNothing) {
  Store();
  EXPECT_EQ(CheckCancel(file_), std::nullopt);
  EXPECT_EQ(Bytes(), test::kSampleSettings);
}

TEST_F(ComSettingTest, CancelChecksTheAddressBeforeTheSourcePort) {
  using namespace com_setting_msg;
  const std::vector<std::tuple<std::string, std::string, ComSettingBox, std::string>> cases = {
      {"IPAddress=192.168.0.10", "IPAddress=192.168.0.256", ComSettingBox::DestIP, kSetValidIP},
      {"UdpSrcPort=5000", "UdpSrcPort=70000", ComSettingBox::SrcPort, kSetValidPort},
      {"UdpSrcPort=5000", "UdpSrcPort=", ComSettingBox::SrcPort, kSetValidPort},
      {"UdpDestPort=6000", "UdpDestPort=-1", ComSettingBox::DestPort, kSetValidPort},
  };
  for (const auto& [from, to, box, message] : cases) {
    Store(from, to);
    EXPECT_EQ(CheckCancel(file_), (ComSettingFailure{box, message})) << to;
    EXPECT_EQ(Bytes(), Replaced(test::kSampleSettings, from, to));
  }

  // Both bad: the address is named first.
  WriteFileBytes(file_,
                 Replaced(Replaced(test::kSampleSettings, "IPAddress=192.168.0.10", "IPAddress=x"),
                          "UdpSrcPort=5000", "UdpSrcPort=x"));
  EXPECT_EQ(CheckCancel(file_), (ComSettingFailure{ComSettingBox::DestIP, kSetValidIP}));
}

TEST_F(ComSettingTest, CancelChecksThePeriodInTheStoredUnit) {
  const std::string bad = "正常な送信周期を設定してください。\r\n";
  struct Case {
    std::string interval;
    std::string unit;
    std::optional<std::string> limits;  // nothing: valid
  };
  const std::vector<Case> cases = {
      {"3000", "0", std::nullopt},
      {"1000", "0", "2000～65535"},
      {"601", "1", "2～600"},
      {"600", "1", std::nullopt},
      {"0", "2", "1～60"},
      {"1000", "abc", "2000～65535"},  // a non-numeric unit counts as milliseconds
      {"3000", "", std::nullopt},
      {"5", "", "2000～65535"},
      {"5", "5", "0～0"},  // a unit with no limits
      {"5", "-1", "0～0"},
  };
  for (const Case& c : cases) {
    Store("Sendinterval=3000\r\nSendIntervalUnit=0",
          "Sendinterval=" + c.interval + "\r\nSendIntervalUnit=" + c.unit);
    const auto failure = CheckCancel(file_);
    if (c.limits) {
      EXPECT_EQ(failure, (ComSettingFailure{ComSettingBox::SendInterval, bad + *c.limits}))
          << c.interval << " in unit \"" << c.unit << "\"";
    } else {
      EXPECT_EQ(failure, std::nullopt) << c.interval << " in unit \"" << c.unit << "\"";
    }
  }
}

TEST_F(ComSettingTest, CancelRaisesForAStoredUnitBeyondSixteenBits) {
  Store("SendIntervalUnit=0", "SendIntervalUnit=40000");
  try {
    CheckCancel(file_);
    FAIL() << "an overflow must reach the caller's handler";
  } catch (const RunTimeError& error) {
    EXPECT_EQ(error.Description(), desc::kOverflow);
  }
}

}  // namespace
}  // namespace ostrel
