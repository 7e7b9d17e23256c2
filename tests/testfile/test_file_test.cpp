#include "testfile/test_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include <QJsonDocument>

#include "fields/field_messages.h"
#include "support/test_support.h"
#include "testfile/field_list.h"
#include "testfile/step_list.h"

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
  EXPECT_EQ(
      Refusal(R"({"ostrel_test": 1, "payload": {"hex": "01"}, "steps": []})"),
      "\"payload\" は \"steps\" のある試験ファイルには書けません（手順ごとに書いてください）。");
  EXPECT_NE(Refusal(R"({"ostrel_test": 1,)").find("JSON"), std::string::npos);
  EXPECT_NE(Refusal("[1]").find("オブジェクト"), std::string::npos);
}

TEST(TestFileTest, StepsAreReadWithTheirDefaults) {
  const TestFileRead read = ParseTestFile(
      R"({"ostrel_test": 1, "name": "seq", "repeat": 3, "steps": [
            {"name": "wake", "payload": {"hex": "AA 01"}, "expect": {"pattern": "AA 81"},
             "timeout_ms": 500, "retries": 3, "wait_ms": 100, "on_fail": "next"},
            {"payload": {"file": "read.bin"},
             "fields": [{"kind": "crc", "model": "CRC-16/MODBUS", "at": "end"}]}]})",
      "/tests");
  ASSERT_TRUE(read.test) << read.error;
  const TestFile& test = *read.test;
  EXPECT_FALSE(test.payload);
  EXPECT_EQ(test.repeat, 3);
  ASSERT_EQ(test.steps.size(), 2u);
  const TestStep& wake = test.steps[0];
  EXPECT_EQ(wake.name, "wake");
  EXPECT_EQ(wake.payload.bytes, (Bytes{0xAA, 0x01}));
  EXPECT_EQ(wake.expect->pattern.Text(), "AA 81");
  EXPECT_EQ(wake.timeout_ms, 500);
  EXPECT_EQ(wake.retries, 3);
  EXPECT_EQ(wake.wait_ms, 100);
  EXPECT_FALSE(wake.stop_on_fail);
  const TestStep& read_step = test.steps[1];
  EXPECT_EQ(read_step.payload.file, "/tests/read.bin") << "beside the test file";
  EXPECT_EQ(read_step.fields.size(), 1u);
  EXPECT_FALSE(read_step.expect);
  EXPECT_FALSE(read_step.timeout_ms) << "the settings' time-out";
  EXPECT_FALSE(read_step.retries) << "the settings' CommonSendRetry";
  EXPECT_EQ(read_step.wait_ms, 0);
  EXPECT_TRUE(read_step.stop_on_fail);
  EXPECT_EQ(ParseTestFile(R"({"ostrel_test": 1, "steps": [{"payload": {"hex": "01"}}]})", "/")
                .test->repeat,
            1);
}

TEST(TestFileTest, StepRefusalsNameTheStepsKey) {
  const auto steps = [](const std::string& second) {
    return Refusal(R"({"ostrel_test": 1, "steps": [{"payload": {"hex": "01"}}, )" + second + "]}");
  };
  EXPECT_EQ(steps(R"({"payload": {"hex": "01"}, "timeout_ms": 3600001})"),
            "\"steps[1].timeout_ms\" の値 3600001 は 整数 0～3600000 の範囲で書いてください。");
  EXPECT_EQ(steps(R"({"payload": {"hex": "01"}, "retries": 1.5})"),
            "\"steps[1].retries\" の値 1.5 は 整数 0～32767 の範囲で書いてください。");
  EXPECT_EQ(steps(R"({"payload": {"hex": "01 ZZ"}})"),
            "\"steps[1].payload.hex\": \"ZZ\" は16進数のバイトではありません。");
  for (const auto& [second, key] :
       {std::pair{R"({"payload": {"hex": "01"}, "expect": {"pattern": "01", "from": "x"}})",
                  "\"steps[1].expect.from\" "},
        std::pair{R"({"payload": {"hex": "01"}, "fields": [{"kind": "sum8", "at": 5}]})",
                  "\"steps[1].fields[0].at\""}}) {
    const std::string refusal = steps(second);
    EXPECT_TRUE(refusal.starts_with(key)) << refusal;
  }
  EXPECT_EQ(steps(R"({"payload": {"hex": "01"}, "on_fail": "retry"})"),
            "\"steps[1].on_fail\" の値 \"retry\" は \"stop\"、\"next\" のどちらでもありません。");
  EXPECT_EQ(steps(R"({"payload": {"hex": "01"}, "wait": 5})"),
            "\"steps[1].wait\" は試験ファイルのキーではありません。");
  EXPECT_EQ(steps(R"({"expect": {"pattern": "01"}})"),
            "\"steps[1]\" に \"payload\" がありません。");
  EXPECT_EQ(Refusal(R"({"ostrel_test": 1, "repeat": 0, "steps": [{"payload": {"hex": "01"}}]})"),
            "\"repeat\" の値 0 は 整数 1～1000000 の範囲で書いてください。");
  EXPECT_NE(Refusal(R"({"ostrel_test": 1, "steps": []})").find("一つ以上"), std::string::npos);
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

TEST(TestFileTest, FieldsAreReadCheckedAgainstThePayloadAndWrittenBack) {
  const TestFileRead read = ParseTestFile(
      R"({"ostrel_test": 1, "payload": {"hex": "00 00 01 03 00 00 00 0A"},
          "fields": [{"kind": "counter", "at": 0, "width": 2, "start": 1, "step": 1},
                     {"kind": "crc", "model": "modbus", "at": "end", "order": "little", "from": 2},
                     {"kind": "crc", "at": "end",
                      "model": {"width": 16, "poly": "0x1021", "init": 65535, "xorout": "0x0"}}],
          "expect": {"pattern": "01 03 04 ?? ?? ?? ?? ?? ??",
                     "fields": [{"kind": "crc", "model": "CRC-16/MODBUS", "at": -2,
                                 "order": "little"}]}})",
      "/tests");
  ASSERT_TRUE(read.test) << read.error;
  const TestFile& test = *read.test;
  ASSERT_EQ(test.fields.size(), 3u);
  EXPECT_EQ(test.fields[0].kind, FieldKind::kCounter);
  EXPECT_EQ(test.fields[0].start, 1);
  EXPECT_EQ(test.fields[1].order, ByteOrder::kLittle);
  EXPECT_FALSE(test.fields[1].at) << "end";
  EXPECT_EQ(test.fields[2].params, (CrcParams{16, 0x1021, 0xFFFF, false, false, 0}));
  ASSERT_EQ(test.expect_fields.size(), 1u);
  ASSERT_TRUE(test.expect->fields);
  const Bytes right{0x01, 0x03, 0x04, 0x00, 0x0A, 0x00, 0x0B, 0x9B, 0xF6};
  Bytes wrong = right;
  wrong[8] ^= 1;
  EXPECT_TRUE(test.expect->fields(right).empty());
  EXPECT_EQ(test.expect->fields(wrong), (std::vector<size_t>{7, 8}));

  // What is written reads back as the same fields.
  test::TempDir dir;
  WriteTestFile(dir / "f.json", test.payload->bytes, &*test.expect, "", test.fields,
                test.expect_fields);
  const TestFileRead again = ReadTestFile(dir / "f.json");
  ASSERT_TRUE(again.test) << again.error << test::ReadFileBytes(dir / "f.json");
  EXPECT_EQ(again.test->fields, test.fields);
  EXPECT_EQ(again.test->expect_fields, test.expect_fields);
  EXPECT_NE(test::ReadFileBytes(dir / "f.json").find(R"("poly": "0x1021")"), std::string::npos);
}

TEST(TestFileTest, BadFieldsAndFieldsThatWouldNotFitAreRefused) {
  const auto with_fields = [](const std::string& fields, const std::string& hex = "01 02") {
    return Refusal(R"({"ostrel_test": 1, "payload": {"hex": ")" + hex + R"("}, "fields": [)" +
                   fields + "]}");
  };
  EXPECT_EQ(with_fields(R"({"kind": "crc32", "at": 0})"),
            FieldMessageAt("fields[0]", field_msg::kBadKind));
  EXPECT_EQ(with_fields(R"({"kind": "sum8", "at": 0}, {"kind": "crc", "model": "X", "at": 0})"),
            "\"fields[1].model\": \"X\" という CRC モデルはありません。");
  EXPECT_EQ(with_fields(R"({"kind": "sum16", "at": "end", "order": "middle"})"),
            FieldMessageAt("fields[0]", field_msg::kBadOrder));
  EXPECT_EQ(with_fields(R"({"kind": "sum16", "at": 1.5})"),
            FieldMessageAt("fields[0]", field_msg::kBadAtText));
  EXPECT_EQ(with_fields(R"({"kind": "sum8"})"),
            "\"fields[0]\" に \"at\" がありません（位置か \"end\" を書いてください）。");
  EXPECT_EQ(with_fields(R"({"kind": "sum8", "at": 0, "colour": 1})"),
            "\"fields[0].colour\" は試験ファイルのキーではありません。");
  EXPECT_NE(with_fields(R"({"kind": "crc", "at": 0, "model": {"width": 8, "poly": "8005"}})")
                .find("\"fields[0].model.poly\" は"),
            std::string::npos);
  EXPECT_EQ(with_fields(R"({"kind": "crc", "at": 0, "model": {"width": 8, "poly": "0x1FF"}})"),
            "\"fields[0].model.poly\": 0 でない、8 ビットに収まる値を指定してください。");
  EXPECT_EQ(with_fields(R"({"kind": "crc", "model": "CRC-16/ARC", "at": 1})"),
            "\"fields[0].at\": 1 バイト目からの 2 バイトが、2 バイトのデータに収まりません。")
      << "does not fit the payload";
  std::string hex_2045;
  for (int i = 0; i < 2045; ++i) hex_2045 += "00 ";
  EXPECT_EQ(with_fields(R"({"kind": "crc", "model": "CRC-32/ISO-HDLC", "at": "end"})", hex_2045),
            "\"fields[0].at\": フィールドを加えると 2049 バイトになり、2048 バイトを超えます。");
  EXPECT_EQ(Refusal(R"({"ostrel_test": 1, "expect": {"pattern": "01 *",
                        "fields": [{"kind": "counter", "at": 0, "width": 1}]}})"),
            "\"expect.fields[0].kind\": \"counter\" は送るデータにだけ使えます。応答では確かめられ"
            "ません。");
  EXPECT_EQ(Refusal(R"({"ostrel_test": 1, "fields": {"kind": "sum8"}})"),
            "\"fields\" はフィールドの配列 [{\"kind\": …}, …] で書いてください。");
}

TEST(FieldListTest, EditsAreRefusedAsAFileWouldBeAndLeaveTheListAsItWas) {
  FieldList list(FieldUse::kWrite, "fields");
  std::size_t data = 6;
  list.SetDataLength([&data] { return data; });
  int changes = 0;
  list.SetChangeListener([&changes] { ++changes; });
  const auto read = [&list](const char* json, std::size_t index, FieldDefinition& out) {
    return list.Read(QJsonDocument::fromJson(json).object(), index, out);
  };

  FieldDefinition crc;
  ASSERT_EQ(read(R"({"kind": "crc", "model": "modbus", "at": "end", "order": "little"})", 0, crc),
            "");
  EXPECT_EQ(list.Add(crc), "");
  FieldDefinition bad;
  EXPECT_EQ(read(R"({"kind": "sum16", "at": "end", "order": "middle"})", 1, bad),
            FieldMessageAt("fields[1]", field_msg::kBadOrder));
  FieldDefinition counter;
  counter.kind = FieldKind::kCounter;
  counter.at = 0;
  EXPECT_EQ(list.Add(counter), "\"fields[1].width\": counter には width を指定してください。");
  counter.at = 7;
  counter.width = 2;
  EXPECT_EQ(list.Add(counter),
            "\"fields[1].at\": 7 バイト目からの 2 バイトが、8 バイトのデータに収まりません。")
      << "placed after the CRC grew the data";
  counter.at = 0;
  EXPECT_EQ(list.Replace(0, counter), "");
  EXPECT_EQ(list.Add(crc), "");
  ASSERT_EQ(list.Fields(), (std::vector<FieldDefinition>{counter, crc}));

  // Fields that would grow the data beyond 2048 bytes; the data's own length is what counts.
  data = 2045;
  FieldDefinition crc32 = crc;
  crc32.model = "CRC-32/ISO-HDLC";
  EXPECT_EQ(list.Replace(1, crc32),
            "\"fields[1].at\": フィールドを加えると 2049 バイトになり、2048 バイトを超えます。");
  data = 0;  // nothing to send yet: only the fields themselves are checked
  EXPECT_EQ(list.Replace(1, crc32), "");
  list.Remove(0);
  list.Remove(5);
  EXPECT_EQ(list.Fields(), std::vector<FieldDefinition>{crc32});
  EXPECT_EQ(changes, 5) << "a refused change and the removal of nothing change nothing";

  FieldList answer(FieldUse::kCheck, "expect.fields");
  EXPECT_EQ(answer.Add(crc), FieldMessageAt("expect.fields[0]", field_msg::kEndInAnswer));
  EXPECT_TRUE(answer.Fields().empty());
}

QJsonObject Object(const char* json) { return QJsonDocument::fromJson(json).object(); }

// A Modbus read with its CRC, expecting a Modbus answer with a right CRC, as "read".
StepList ReadAndWake() {
  StepList list;
  const TestFile parts =
      *ParseTestFile(R"({"ostrel_test": 1, "payload": {"hex": "01 03 00 00 00 0A"},
      "fields": [{"kind": "crc", "model": "CRC-16/MODBUS", "at": "end", "order": "little"}],
      "expect": {"pattern": "01 03 *", "from": "any",
                 "fields": [{"kind": "crc", "model": "CRC-16/MODBUS", "at": -2}]}})",
                     "/")
           .test;
  TestStep request;
  request.fields = parts.fields;
  request.expect = parts.expect;
  request.expect_fields = parts.expect_fields;
  EXPECT_EQ(list.Add(request, {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A},
                     Object(R"({"name": "read", "timeout_ms": 500, "on_fail": "next"})")),
            "");
  EXPECT_EQ(list.Add(TestStep{}, {0xAA, 0x01}, Object(R"({"name": "wake", "wait_ms": 50})")), "");
  return list;
}

TEST(StepListTest, StepsAreAddedMovedChangedAndRemovedAndRefusedAsAFileWouldBe) {
  StepList list = ReadAndWake();
  int changes = 0;
  list.SetChangeListener([&changes] { ++changes; });
  ASSERT_EQ(list.Steps().size(), 2u);
  EXPECT_EQ(list.Steps()[0].fields.size(), 1u);
  EXPECT_EQ(list.Steps()[0].timeout_ms, 500);
  EXPECT_FALSE(list.Steps()[0].stop_on_fail);
  ASSERT_TRUE(list.Steps()[0].expect && list.Steps()[0].expect->fields) << "the answer's CRC";

  // Refused with the file's texts, the step named by the place it would take.
  EXPECT_EQ(list.Add(TestStep{}, {0xAA}, Object(R"({"wait_ms": "5s"})")),
            "\"steps[2].wait_ms\" の値 \"5s\" は 整数 0～3600000 の範囲で書いてください。");
  EXPECT_EQ(list.Add(TestStep{}, {}, Object("{}")), "\"steps[2]\" に \"payload\" がありません。")
      << "an empty send grid";
  TestStep counter;
  counter.fields = ParseTestFile(R"({"ostrel_test": 1, "payload": {"hex": "00 00 00 00 00 00"},
      "fields": [{"kind": "counter", "at": 4, "width": 2}]})",
                                 "/")
                       .test->fields;
  EXPECT_EQ(
      list.Add(counter, {0x01, 0x02}, Object("{}")),
      "\"steps[2].fields[0].at\": 4 バイト目からの 2 バイトが、2 バイトのデータに収まりません。");
  EXPECT_EQ(list.Change(1, Object(R"({"name": "wake", "retries": 40000})")),
            "\"steps[1].retries\" の値 40000 は 整数 0～32767 の範囲で書いてください。");
  EXPECT_EQ(list.Steps()[1].wait_ms, 50) << "a refused change changes nothing";

  EXPECT_FALSE(list.Move(0, true));
  EXPECT_FALSE(list.Move(1, false));
  EXPECT_TRUE(list.Move(1, true));
  EXPECT_EQ(list.Steps()[0].name, "wake");
  EXPECT_EQ(list.Payloads()[0], (Bytes{0xAA, 0x01})) << "the bytes move with their step";
  EXPECT_EQ(list.Change(0, Object(R"({"name": "wake up"})")), "");
  EXPECT_EQ(list.Steps()[0].name, "wake up");
  EXPECT_EQ(list.Steps()[0].wait_ms, 0) << "a box left empty takes the default";
  list.Remove(7);
  list.Remove(0);
  ASSERT_EQ(list.Steps().size(), 1u);
  EXPECT_EQ(list.Steps()[0].name, "read");
  EXPECT_EQ(changes, 3);
}

TEST(StepListTest, SavedStepsOpenAsTheyWere) {
  const StepList list = ReadAndWake();
  const TestFileRead read =
      ParseTestFile(TestStepsFileText("register test", list.Steps(), list.Payloads(), 3), "/");
  ASSERT_TRUE(read.test) << read.error;
  EXPECT_EQ(read.test->name, "register test");
  EXPECT_EQ(read.test->repeat, 3);
  ASSERT_EQ(read.test->steps.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const TestStep& saved = list.Steps()[i];
    const TestStep& opened = read.test->steps[i];
    EXPECT_EQ(opened.name, saved.name);
    EXPECT_EQ(opened.payload.bytes, list.Payloads()[i]);
    EXPECT_EQ(opened.fields, saved.fields);
    EXPECT_EQ(opened.expect.has_value(), saved.expect.has_value());
    if (saved.expect) {
      EXPECT_EQ(opened.expect->pattern.Text(), saved.expect->pattern.Text());
      EXPECT_EQ(opened.expect->from, saved.expect->from);
    }
    EXPECT_EQ(opened.expect_fields, saved.expect_fields);
    EXPECT_EQ(opened.timeout_ms, saved.timeout_ms);
    EXPECT_EQ(opened.retries, saved.retries);
    EXPECT_EQ(opened.wait_ms, saved.wait_ms);
    EXPECT_EQ(opened.stop_on_fail, saved.stop_on_fail);
  }
}

}  // namespace
}  // namespace ostrel
