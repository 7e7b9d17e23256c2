// The responder's rules read from their JSON text and applied to requests, without sockets.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "respond/rules_file.h"

namespace ostrel {
namespace {

using Bytes = std::vector<uint8_t>;

ResponderRules Rules(const std::string& json) {
  RulesFileRead read = ParseRulesFile(json, ".");
  EXPECT_TRUE(read.rules) << read.error;
  return read.rules ? std::move(*read.rules) : ResponderRules{};
}

std::string Refusal(const std::string& json) {
  RulesFileRead read = ParseRulesFile(json, ".");
  EXPECT_FALSE(read.rules);
  return read.error;
}

TEST(Responder, FirstFittingRuleAnswersAndCopiesRequestBytes) {
  Responder responder(Rules(R"({"ostrel_responder": 1, "rules": [
      {"when": {"pattern": "AA ?? ?? 01 *"}, "answer": {"hex": "?? ?? ?? 81"}, "delay_ms": 7},
      {"when": {"pattern": "AA *"}, "answer": {"hex": "EE"}},
      {"when": {"pattern": "AA ?? ?? 01 *"}, "answer": {"hex": "DD"}}]})"));
  Bytes answer;
  Response response = responder.Respond(Bytes{0xAA, 0x12, 0x34, 0x01, 0x99}, answer);
  EXPECT_EQ(response.action, ResponseAction::kAnswered);
  EXPECT_EQ(response.rule, 0u);
  EXPECT_EQ(response.delay_ms, 7);
  EXPECT_EQ(answer, (Bytes{0xAA, 0x12, 0x34, 0x81}));
  // Not the first rule's pattern: the second answers, though the third would fit too.
  response = responder.Respond(Bytes{0xAA, 0x12, 0x34, 0x02}, answer);
  EXPECT_EQ(response.rule, 1u);
  EXPECT_EQ(answer, Bytes{0xEE});
}

TEST(Responder, ACopyBeyondTheRequestMakesTheRuleNotFit) {
  Responder responder(Rules(R"({"ostrel_responder": 1, "default": "silent", "rules": [
      {"when": {"pattern": "01 *"}, "answer": {"hex": "81 ?? ?? ??"}},
      {"when": {"pattern": "01 *"}, "answer": {"hex": "7F"}}]})"));
  Bytes answer;
  EXPECT_EQ(responder.Respond(Bytes{0x01, 0x02, 0x03}, answer).rule, 1u);
  EXPECT_EQ(answer, Bytes{0x7F});
  EXPECT_EQ(responder.Respond(Bytes{0x01, 0x02, 0x03, 0x04}, answer).rule, 0u);
  EXPECT_EQ(answer, (Bytes{0x81, 0x02, 0x03, 0x04}));
}

TEST(Responder, RequestFieldsGateTheRuleAndAnswerFieldsAreComputed) {
  Responder responder(Rules(R"({"ostrel_responder": 1, "rules": [
      {"when": {"pattern": "01 03 00 00 00 02 ?? ??",
                "fields": [{"kind": "crc", "model": "CRC-16/MODBUS", "at": -2, "order": "little"}]},
       "answer": {"hex": "01 03 04 00 0A 00 0B",
                  "fields": [{"kind": "crc", "model": "CRC-16/MODBUS", "at": "end", "order": "little"}]}},
      {"when": {"pattern": "A5 ?? 01"},
       "answer": {"hex": "A5 ?? 81 00 00",
                  "fields": [{"kind": "counter", "at": 3, "width": 2, "start": 1}]}}]})"));
  Bytes answer;
  Response response =
      responder.Respond(Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B}, answer);
  EXPECT_EQ(response.action, ResponseAction::kAnswered);
  EXPECT_EQ(answer, (Bytes{0x01, 0x03, 0x04, 0x00, 0x0A, 0x00, 0x0B, 0x9B, 0xF6}));
  // A wrong CRC in the request: no rule fits, and the default is silence.
  response = responder.Respond(Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0C}, answer);
  EXPECT_EQ(response.action, ResponseAction::kSilent);
  EXPECT_FALSE(response.rule);
  EXPECT_TRUE(answer.empty());
  // The counter numbers the rule's answers from its start.
  for (uint8_t number = 1; number <= 3; ++number) {
    responder.Respond(Bytes{0xA5, number, 0x01}, answer);
    EXPECT_EQ(answer, (Bytes{0xA5, number, 0x81, 0x00, number}));
  }
}

TEST(Responder, SilentRulesAndTheDefault) {
  const char* rules = R"({"ostrel_responder": 1, "default": "echo", "rules": [
      {"when": {"pattern": "FF *"}, "answer": null}]})";
  Responder echo(Rules(rules));
  Bytes answer;
  Response response = echo.Respond(Bytes{0xFF, 0x01}, answer);
  EXPECT_EQ(response.action, ResponseAction::kSilent);
  EXPECT_EQ(response.rule, 0u);
  response = echo.Respond(Bytes{0x10, 0x20}, answer);
  EXPECT_EQ(response.action, ResponseAction::kEchoed);
  EXPECT_EQ(answer, (Bytes{0x10, 0x20}));
  Responder silent(Rules(R"({"ostrel_responder": 1, "rules": []})"));
  EXPECT_EQ(silent.Respond(Bytes{0x10}, answer).action, ResponseAction::kSilent);
}

// Which of 2000 requests a 25 % share drops.
std::vector<bool> Drops(uint64_t seed) {
  Responder responder(Rules(R"({"ostrel_responder": 1, "rules": [
      {"when": {"pattern": "01"}, "answer": {"hex": "02"}, "drop_percent": 25}]})"),
                      seed);
  std::vector<bool> dropped;
  Bytes answer;
  for (int i = 0; i < 2000; ++i)
    dropped.push_back(responder.Respond(Bytes{0x01}, answer).action == ResponseAction::kDropped);
  return dropped;
}

TEST(Responder, TheDropShareRepeatsWithItsSeed) {
  const std::vector<bool> first = Drops(kDefaultSeed);
  const auto count = std::count(first.begin(), first.end(), true);
  EXPECT_GT(count, 400);  // 500 expected; a standard deviation is about 19
  EXPECT_LT(count, 600);
  EXPECT_EQ(Drops(kDefaultSeed), first);
  EXPECT_NE(Drops(kDefaultSeed + 1), first);
}

TEST(RulesFile, RefusalsNameTheKeyPath) {
  const std::string head = R"({"ostrel_responder": 1, "rules": [{"when": {"pattern": "01"}, )";
  EXPECT_EQ(Refusal(head + R"("answer": null, "delay": 5}]})"),
            "\"rules[0].delay\" は応答ルールファイルのキーではありません。");
  EXPECT_NE(Refusal(head + R"("answer": {"hex": "01 ?? 0G"}}]})")
                .find("\"rules[0].answer.hex\": 3 番目の \"0G\""),
            std::string::npos);
  EXPECT_NE(
      Refusal(
          R"({"ostrel_responder": 1, "rules": [{"when": {"pattern": "01 xyz"}, "answer": null}]})")
          .find("\"rules[0].when.pattern\": "),
      std::string::npos);
  // A field that falls outside the answer's fixed length is refused when the file opens.
  EXPECT_EQ(
      Refusal(head + R"("answer": {"hex": "01 02", "fields": [{"kind": "sum8", "at": 5}]}}]})")
          .rfind("\"rules[0].answer.fields[0].at\": ", 0),
      0u);
  EXPECT_EQ(
      Refusal(head + R"("answer": {"hex": "01", "fields": [{"kind": "crc", "at": "end"}]}}]})"),
      "\"rules[0].answer.fields[0].model\": crc には CRC "
      "モデルの名前かパラメータを指定してください。");
  EXPECT_EQ(Refusal(head + R"("answer": {"hex": "01", "fields": [{"kind": "sum8", "at": "end",
                                                                  "size": 1}]}}]})"),
            "\"rules[0].answer.fields[0].size\" は応答ルールファイルのキーではありません。");
  EXPECT_EQ(Refusal(head + R"("answer": null, "when2": 1}]})").rfind("\"rules[0].when2\"", 0), 0u);
  EXPECT_NE(Refusal(head + R"("answer": null, "delay_ms": -1}]})").find("\"rules[0].delay_ms\""),
            std::string::npos);
  EXPECT_NE(
      Refusal(head + R"("answer": null, "drop_percent": 101}]})").find("\"rules[0].drop_percent\""),
      std::string::npos);
  EXPECT_NE(Refusal(head + R"("answer": null}], "default": "loud"})").find("\"default\""),
            std::string::npos);
  EXPECT_NE(Refusal(R"({"ostrel_responder": 2, "rules": []})").find("\"ostrel_responder\""),
            std::string::npos);
  // Request fields are checked: a counter cannot be found in a request.
  EXPECT_EQ(Refusal(R"({"ostrel_responder": 1, "rules": [{"when": {"pattern": "01 02",
              "fields": [{"kind": "counter", "at": 0, "width": 1}]}, "answer": null}]})")
                .rfind("\"rules[0].when.fields[0].kind\": ", 0),
            0u);
}

TEST(RulesFile, ACrcModelGivenByItsParametersComputesAsItsName) {
  Responder responder(Rules(R"({"ostrel_responder": 1, "rules": [
      {"when": {"pattern": "01 *"},
       "answer": {"hex": "01 03 04 00 0A 00 0B",
                  "fields": [{"kind": "crc", "at": "end", "order": "little",
                              "model": {"width": 16, "poly": "0x8005", "init": 65535,
                                        "refin": true, "refout": true, "xorout": 0}}]}}]})"));
  Bytes answer;
  responder.Respond(Bytes{0x01}, answer);
  EXPECT_EQ(answer, (Bytes{0x01, 0x03, 0x04, 0x00, 0x0A, 0x00, 0x0B, 0x9B, 0xF6}));
}

TEST(RulesFile, SamplesOpen) {
  for (const char* name : {"echo-device", "modbus-device", "numbered-device"}) {
    const RulesFileRead read =
        ReadRulesFile(std::string(OSTREL_SAMPLES_DIR) + "/" + name + ".rules.json");
    EXPECT_TRUE(read.rules) << name << ": " << read.error;
  }
}

}  // namespace
}  // namespace ostrel
