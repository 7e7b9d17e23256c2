#include "settings/validators.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "common/run_time_error.h"
#include "common/tool_kind.h"
#include "logging/operation_log.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

struct Case {
  std::string text;
  bool expected;
  bool logged = false;  // an overflow writes one line
};

// Runs the validators as this program (kind 2) with its log in a fresh folder.
class ValidatorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_kind_ = intToolKind;
    saved_log_files_ = strLogFile;
    intToolKind = Kiv_UdpSnd;
    InitLog(dir_.str());
  }
  void TearDown() override {
    intToolKind = saved_kind_;
    strLogFile = saved_log_files_;
  }

  std::vector<std::string> Messages() const { return test::LogMessages(strLogFile[Kiv_UdpSnd]); }

  // Runs `check` and returns the log lines it wrote.
  template <typename Check>
  std::vector<std::string> NewMessages(Check check) {
    const std::size_t before = Messages().size();
    check();
    const std::vector<std::string> after = Messages();
    return std::vector<std::string>(after.begin() + static_cast<std::ptrdiff_t>(before),
                                    after.end());
  }

  // Checks each case's result and the log lines it wrote.
  template <typename Check>
  void RunCases(const std::vector<Case>& cases, const std::string& tag, Check check) {
    for (const auto& c : cases) {
      bool result = !c.expected;
      const auto lines = NewMessages([&] { result = check(c.text); });
      EXPECT_EQ(result, c.expected) << tag << "[" << c.text << "]";
      if (c.logged) {
        ASSERT_EQ(lines.size(), 1u) << tag << "[" << c.text << "]";
        EXPECT_EQ(lines[0], std::string(desc::kOverflow) + "(" + tag + ")") << "[" << c.text << "]";
      } else {
        EXPECT_TRUE(lines.empty()) << tag << "[" << c.text << "] logged " << lines.front();
      }
    }
  }

  test::TempDir dir_;
  int16_t saved_kind_ = 0;
  std::array<std::string, kToolKindCount> saved_log_files_;
};

TEST_F(ValidatorsTest, CheckIpAddress) {
  // clang-format off
  const std::vector<Case> cases = {
      {"192.168.0.1", true}, {"0.0.0.0", true}, {"255.255.255.255", true},
      {" 192.168.0.1", true}, {"192.168.0.1\t", true}, {" 1 . 2 .\t3. 4", true},
      // Every form the numeric test accepts is taken at its value.
      {"+1.-0.1e2.&HFF", true}, {"1,0.2.3.4", true}, {"&hff.&H0.0.0", true},
      // Parts counted at every dot.
      {"", false}, {"192.168.0", false}, {"192.168.0.1.", false}, {".192.168.0.1", false},
      {"192..0.1", false}, {"192.168.0.", false}, {"...", false}, {"....", false},
      {"1.2.3.4.5", false}, {"192.168.0.1/24", false}, {"１.２.３.４", false},
      {"a.b.c.d", false}, {"192.168.0. ", false},
      // Out of range, no line.
      {"192.168.0.256", false}, {"192.168.0.-1", false}, {"256.0.0.0", false},
      {"192.168.0.32767", false}, {"192.168.0.-32768", false}, {"192.168.0.&HFFFFFFFF", false},
      {"192.168.0.255.5", false},
      // Beyond 16 bits: an overflow, logged.
      {"192.168.0.70000", false, true}, {"192.168.0.32768", false, true},
      {"192.168.0.-32769", false, true}, {"192.168.0.&HFFFF", false, true},
      {"1e5.0.0.0", false, true}, {"1.2.3.99999999999999999999", false, true},
      // Parts are checked in order: a bad part ends the check before a later overflow.
      {"x.70000.1.1", false}, {"300.70000.1.1", false}, {"1.70000.x.1", false, true},
  };
  // clang-format on
  RunCases(cases, "CheckIpAddress", [](const std::string& t) { return CheckIpAddress(t); });
}

TEST_F(ValidatorsTest, CheckPortNo) {
  // clang-format off
  const std::vector<Case> cases = {
      {"0", true}, {"65535", true}, {"80", true}, {" 80 ", true}, {"80.4", true}, {"1e3", true},
      {"65,535", true}, {"65534.5", true}, {"-0.5", true}, {"0.5", true}, {"&HFFFF", true},
      {"65536", false}, {"-1", false}, {"", false}, {" ", false}, {"abc", false},
      {"80a", false}, {"65535.5", false}, {"-0.51", false}, {"&HFFFFFFFF", false},
      {"2147483647", false}, {"-2147483648", false},
      {"2147483648", false, true}, {"-2147483649", false, true}, {"1e10", false, true},
      {"&H100000000", false, true},
  };
  // clang-format on
  RunCases(cases, "CheckPortNo", [](const std::string& t) { return CheckPortNo(t); });
}

TEST_F(ValidatorsTest, CheckIntervalInEachUnit) {
  struct UnitCases {
    int16_t unit;
    std::vector<Case> cases;
  };
  // clang-format off
  const std::vector<UnitCases> units = {
      {0,
       {{"2000", true}, {"65535", true}, {"1999", false}, {"65536", false}, {"1999.5", true},
        {"1999.49", false}, {"65534.5", true}, {"65535.5", false}, {"2e3", true},
        {" 10000 ", true}, {"2,000", true}, {"-2000", false}, {"", false}, {"abc", false},
        {"2147483648", false, true}}},
      {1,
       {{"2", true}, {"600", true}, {"1", false}, {"601", false}, {"1.5", true},
        {"600.5", true}, {"600.51", false}, {"0", false}, {"1e400", false, true}}},
      {2,
       {{"1", true}, {"60", true}, {"0", false}, {"61", false}, {"0.5", false},
        {"0.51", true}, {"60.5", true}, {"-1", false}, {"-1e10", false, true}}},
      {3, {{"1", false}, {"60", false}, {"2000", false}, {"1e10", false, true}}},
      {-1, {{"1", false}, {"60", false}, {"2000", false}}},
      {32767, {{"1", false}, {"2000", false}}},
  };
  // clang-format on
  for (const auto& u : units) {
    RunCases(u.cases, "CheckInterval",
             [&](const std::string& t) { return CheckInterval(t, Kiv_UdpSnd, u.unit); });
  }
}

TEST_F(ValidatorsTest, CheckIntervalAgreesAcrossSendingKindsAndRefusesTheOthers) {
  const std::vector<std::string> texts = {"0",      "1",    "2",     "60",    "61", "600", "601",
                                          "1999.5", "2000", "65535", "65536", "",   "x"};
  for (int16_t unit = -1; unit <= 3; ++unit) {
    for (const auto& text : texts) {
      const bool reference = CheckInterval(text, Kiv_UdpSnd, unit);
      for (int16_t kind = -2; kind <= 11; ++kind) {
        const bool result = CheckInterval(text, kind, unit);
        if (IsSendingKind(kind)) {
          EXPECT_EQ(result, reference)
              << "kind " << kind << " unit " << unit << " [" << text << "]";
        } else {
          EXPECT_FALSE(result) << "kind " << kind << " unit " << unit << " [" << text << "]";
        }
      }
    }
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ValidatorsTest, CheckIntervalLogsAnOverflowEvenForAReceivingKind) {
  // The text is converted before the kind is looked at.
  const auto lines = NewMessages([] { EXPECT_FALSE(CheckInterval("1e10", Kiv_UdpRcv, 0)); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], std::string(desc::kOverflow) + "(CheckInterval)");
}

TEST_F(ValidatorsTest, SendIntervalLimitsAreTheBoundsCheckIntervalApplies) {
  struct Expected {
    int unit;
    int32_t lower;
    int32_t upper;
  };
  for (const Expected e : {Expected{0, 2000, 65535}, Expected{1, 2, 600}, Expected{2, 1, 60}}) {
    const IntervalLimits limits = SendIntervalLimits(e.unit);
    EXPECT_TRUE(limits.valid) << e.unit;
    EXPECT_EQ(limits.lower, e.lower) << e.unit;
    EXPECT_EQ(limits.upper, e.upper) << e.unit;
    const auto unit = static_cast<int16_t>(e.unit);
    EXPECT_TRUE(CheckInterval(std::to_string(e.lower), Kiv_UdpSnd, unit)) << e.unit;
    EXPECT_TRUE(CheckInterval(std::to_string(e.upper), Kiv_UdpSnd, unit)) << e.unit;
    EXPECT_FALSE(CheckInterval(std::to_string(e.lower - 1), Kiv_UdpSnd, unit)) << e.unit;
    EXPECT_FALSE(CheckInterval(std::to_string(e.upper + 1), Kiv_UdpSnd, unit)) << e.unit;
  }
  for (int unit : {-1, 3, 100}) {
    const IntervalLimits limits = SendIntervalLimits(unit);
    EXPECT_FALSE(limits.valid) << unit;
    EXPECT_EQ(limits.lower, 0) << unit;
    EXPECT_EQ(limits.upper, 0) << unit;
  }
}

}  // namespace
}  // namespace ostrel
