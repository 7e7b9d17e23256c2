#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "verification/answer_judge.h"
#include "verification/verdict.h"

namespace ostrel {
namespace {

using Bytes = std::vector<uint8_t>;
using Offsets = std::vector<std::size_t>;

Expectation Expect(const std::string& pattern, SenderRule from) {
  return {*AnswerPattern::Parse(pattern).pattern, from, {}};
}

constexpr Endpoint kDevice{0x7F000001, 50000};

TEST(VerdictTest, FromRulesDecideWhichSenderMayAnswer) {
  const Bytes right{0x12, 0x34};
  const Endpoint other_port{kDevice.address, 50001};
  const Endpoint other_host{0x7F000002, kDevice.port};
  struct Case {
    SenderRule from;
    Endpoint sender;
    Verdict verdict;
  };
  for (const Case& c : std::vector<Case>{
           {SenderRule::kAddress, kDevice, Verdict::kMatch},
           {SenderRule::kAddress, other_port, Verdict::kMatch},
           {SenderRule::kAddress, other_host, Verdict::kWrongSource},
           {SenderRule::kAddressAndPort, kDevice, Verdict::kMatch},
           {SenderRule::kAddressAndPort, other_port, Verdict::kWrongSource},
           {SenderRule::kAddressAndPort, other_host, Verdict::kWrongSource},
           {SenderRule::kAny, other_host, Verdict::kMatch},
       }) {
    EXPECT_EQ(JudgeAnswer(Expect("12 34", c.from), right, c.sender, kDevice).verdict, c.verdict)
        << SenderRuleName(c.from) << " " << c.sender.address << ":" << c.sender.port;
  }
  // A wrong sender is not the device: its bytes are not looked at.
  const Judgement stranger =
      JudgeAnswer(Expect("12 34", SenderRule::kAddress), Bytes{0}, other_host, kDevice);
  EXPECT_EQ(stranger.verdict, Verdict::kWrongSource);
  EXPECT_TRUE(stranger.mismatch_at.empty());

  for (const char* name : {"address", "address-and-port", "any"})
    EXPECT_STREQ(SenderRuleName(*SenderRuleFromName(name)), name);
  EXPECT_FALSE(SenderRuleFromName("Address"));
}

TEST(VerdictTest, MismatchKeepsPatternAndFieldOffsetsTogether) {
  Expectation expect = Expect("01 02 03 04 *", SenderRule::kAddress);
  const Judgement one = JudgeAnswer(expect, Bytes{1, 2, 9, 4, 7}, kDevice, kDevice);
  EXPECT_EQ(one.verdict, Verdict::kMismatch);
  EXPECT_EQ(one.mismatch_at, Offsets{2});

  // A field check's wrong bytes join the pattern's, sorted, each once.
  expect.fields = [](std::span<const uint8_t> answer) {
    return answer.size() > 4 ? Offsets{4, 2} : Offsets{};
  };
  EXPECT_EQ(JudgeAnswer(expect, Bytes{1, 2, 9, 4, 7}, kDevice, kDevice).mismatch_at,
            (Offsets{2, 4}));
  EXPECT_EQ(JudgeAnswer(expect, Bytes{1, 2, 3, 4}, kDevice, kDevice).verdict, Verdict::kMatch);
  expect.fields = [](std::span<const uint8_t>) {
    Offsets all;
    for (std::size_t i = 0; i < 40; ++i) all.push_back(39 - i);
    return all;
  };
  EXPECT_EQ(JudgeAnswer(expect, Bytes{1, 2, 3, 4}, kDevice, kDevice).mismatch_at.size(),
            kReportedOffsets);
}

TEST(VerdictTest, TextsNamesAndLogLines) {
  const std::vector<std::vector<std::string>> expected = {
      {"一致", "match", "判定:一致"},
      {"不一致", "mismatch", "判定:不一致"},
      {"送信元不一致", "wrong-source", "判定:送信元不一致"},
      {"応答なし", "no-answer", "判定:応答なし"},
      {"未送信", "not-sent", "判定:未送信"},
  };
  for (std::size_t i = 0; i < kVerdictCount; ++i) {
    const Verdict v = kAllVerdicts[i];
    EXPECT_EQ(VerdictText(v), expected[i][0]);
    EXPECT_EQ(VerdictJsonName(v), expected[i][1]);
    EXPECT_EQ(VerdictLogLine({v, {}}), expected[i][2]);
  }
  EXPECT_EQ(VerdictLogLine({Verdict::kMismatch, {4, 5, 0xABC, 0xFFE2}}),
            "判定:不一致(0004,0005,0ABC,FFE2)");

  EXPECT_EQ(JudgeUnanswered(CycleOutcome::kUnreachable, 0).verdict, Verdict::kNotSent);
  EXPECT_EQ(JudgeUnanswered(CycleOutcome::kError, 0).verdict, Verdict::kNotSent);
  EXPECT_EQ(JudgeUnanswered(CycleOutcome::kUnanswered, 3).verdict, Verdict::kNoAnswer);
  EXPECT_EQ(JudgeUnanswered(CycleOutcome::kError, 1).verdict, Verdict::kNoAnswer);

  VerdictCounter counter;
  counter.Add(Verdict::kMatch);
  counter.Add(Verdict::kMatch);
  counter.Add(Verdict::kNotSent);
  EXPECT_EQ(counter.Count(Verdict::kMatch), 2u);
  EXPECT_EQ(counter.Count(Verdict::kMismatch), 0u);
  EXPECT_EQ(counter.Total(), 3u);
  counter.Reset();
  EXPECT_EQ(counter.Total(), 0u);
}

}  // namespace
}  // namespace ostrel
