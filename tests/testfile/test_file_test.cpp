#include "testfile/test_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace ostrel {
namespace {

using Bytes = std::vector<uint8_t>;

std::string Refusal(const std::string& json) {
  const TestFileRead read = ParseTestFile(json, "/tests");
  EXPECT_FALSE(read.test) << json;
  return read.error;
}

TEST(TestFileTest, ReadsPayloadExpectationAndName) {
  const TestFileRead hex = ParseTestFile(
      R"({"ostrel_test": 1, "name": "読み出し", "payload": {"hex": "0x01 0302"},
          "expect": {"pattern": "01 b1xxx0000 *", "from": "any"}})",
      "/tests");
  ASSERT_TRUE(hex.test) << hex.error;
  EXPECT_EQ(hex.test->name, "読み出し");
  EXPECT_EQ(hex.test->payload->bytes, (Bytes{0x01, 0x03, 0x02}));
  EXPECT_FALSE(hex.test->payload->FromFile());
  EXPECT_EQ(hex.test->expect->pattern.Text(), "01 b1xxx0000 *");
  EXPECT_EQ(hex.test->expect->from, SenderRule::kAny);

  const TestFileRead file = ParseTestFile(
      R"({"ostrel_test": 1.0, "payload": {"file": "sub/req.bin"}, "expect": {"pattern": "??"}})",
      "/tests");
  ASSERT_TRUE(file.test) << file.error;
  EXPECT_EQ(file.test->payload->file, "/tests/sub/req.bin") << "beside the test file";
  EXPECT_EQ(file.test->expect->from, SenderRule::kAddress) << "the default";
  EXPECT_EQ(
      ParseTestFile(R"({"ostrel_test":1,"payload":{"file":"/abs.bin"}})", "/t").test->payload->file,
      "/abs.bin");

  const TestFileRead bare = ParseTestFile(R"({"ostrel_test": 1})", "/tests");
  ASSERT_TRUE(bare.test);
  EXPECT_FALSE(bare.test->payload);
  EXPECT_FALSE(bare.test->expect);
}

TEST(TestFileTest, RefusalsNameTheKeyAndTheReason) {
  EXPECT_EQ(Refusal(R"({"ostrel_test": 2, "steps": []})"),
            "\"ostrel_test\" の値 2 は読めません（この版が読めるのは 1 です）。");
  EXPECT_EQ(Refusal(R"({"ostrel_test": "1"})"),
            "\"ostrel_test\" の値 \"1\" は読めません（この版が読めるのは 1 です）。");
  EXPECT_NE(Refusal(R"({"name": "x"})").find("\"ostrel_test\" がありません"), std::string::npos);
  EXPECT_EQ(Refusal(R"({"ostrel_test": 1, "paylaod": {"hex": "01"}})"),
            "\"paylaod\" は試験ファイルのキーではありません。");
  EXPECT_EQ(Refusal(R"({"ostrel_test": 1, "payload": {"hex": "01", "crc": 1}})"),
            "\"payload.crc\" は試験ファイルのキーではありません。");
  EXPECT_EQ(Refusal(R"({"ostrel_test": 1, "expect": {"pattern": "01", "form": "any"}})"),
            "\"expect.form\" は試験ファイルのキーではありません。");
  EXPECT_EQ(Refusal(R"({"ostrel_test": 1, "name": 5})"), "\"name\" は文字列で書いてください。");
  EXPECT_EQ(Refusal(R"({"ostrel_test": 1, "expect": {"pattern": ["01"]}})"),
            "\"expect.pattern\" は文字列で書いてください。");
  EXPECT_EQ(Refusal(R"({"ostrel_test": 1, "expect": {"pattern": "01 GG"}})"),
            "\"expect.pattern\": 期待応答の 2 番目の語 \"GG\" は 2 桁の 16 進数（どちらの桁も ? "
            "可）でも、b と 0・1・x の 8 文字でもありません。");
  EXPECT_EQ(Refusal(R"({"ostrel_test": 1, "expect": {"pattern": "01", "from": "port"}})"),
            "\"expect.from\" の値 \"port\" は \"address\"、\"address-and-port\"、\"any\" のどれでも"
            "ありません。");
  EXPECT_EQ(Refusal(R"({"ostrel_test": 1, "payload": {"hex": "01", "file": "a"}})"),
            "\"payload\" には \"hex\" か \"file\" のどちらか一つを書いてください。");
  EXPECT_EQ(Refusal(R"({"ostrel_test": 1, "payload": {"hex": "01 ZZ"}})"),
            "\"payload.hex\": \"ZZ\" は16進数のバイトではありません。");
  EXPECT_EQ(Refusal(R"({"ostrel_test": 1, "payload": {"hex": "01"}, "steps": []})"),
            "\"steps\" はこの版ではまだ使えません。");
  EXPECT_EQ(Refusal(R"({"ostrel_test": 1, "expect": {"pattern": "01", "fields": []}})"),
            "\"expect.fields\" はこの版ではまだ使えません。");
  EXPECT_NE(Refusal(R"({"ostrel_test": 1,)").find("JSON"), std::string::npos);
  EXPECT_NE(Refusal("[1]").find("オブジェクト"), std::string::npos);
}

TEST(TestFileTest, WrittenFileReadsBackAndBadPlacesAreRefused) {
  test::TempDir dir;
  Expectation expect{
      *AnswerPattern::Parse("12 3? b1x0xxxxx *").pattern, SenderRule::kAddressAndPort, {}};
  const Bytes payload{0x00, 0x7F, 0xFF};
  const std::string path = dir / "t.json";
  WriteTestFile(path, payload, &expect, "名前 \"引用\"\n");
  const TestFileRead read = ReadTestFile(path);
  ASSERT_TRUE(read.test) << read.error;
  EXPECT_EQ(read.test->name, "名前 \"引用\"\n");
  EXPECT_EQ(read.test->payload->bytes, payload);
  EXPECT_EQ(read.test->expect->pattern.Text(), "12 3? b1x0xxxxx *");
  EXPECT_EQ(read.test->expect->from, SenderRule::kAddressAndPort);
  EXPECT_EQ(test::ReadFileBytes(path).substr(0, 20), "{\n  \"ostrel_test\": 1");

  // An empty send grid writes no payload, so the file still opens.
  WriteTestFile(path, {}, nullptr);
  const TestFileRead empty = ReadTestFile(path);
  ASSERT_TRUE(empty.test) << empty.error;
  EXPECT_FALSE(empty.test->payload);
  EXPECT_FALSE(empty.test->expect);

  EXPECT_FALSE(ReadTestFile(dir / "missing.json").test);
  EXPECT_FALSE(ReadTestFile(dir.str()).test) << "a folder";
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_NE(ReadTestFile(dir / "fifo").error.find("通常のファイルではありません"),
            std::string::npos)
      << "no wait on a FIFO";
  test::WriteFileBytes(dir / "big.json", std::string(kTestFileMaxBytes + 1, ' '));
  EXPECT_NE(ReadTestFile(dir / "big.json").error.find("大きすぎます"), std::string::npos);
}

}  // namespace
}  // namespace ostrel
