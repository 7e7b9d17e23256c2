#include "cli/command_line.h"

#include <gtest/gtest.h>

#include "cli/payload.h"
#include "fields/crc.h"

namespace ostrel {
namespace {

CommandLine Parse(QStringList arguments) {
  arguments.prepend(QStringLiteral("ostrel-send"));
  return ParseCommandLine(arguments);
}

TEST(CommandLine, EveryOverrideIsTakenAsTheSettingsWouldGiveIt) {
  const CommandLine c =
      Parse({"--dest",    " 10.0.0.2 ", "--port",         "80.4",    "--src-port", "1e3",
             "-c",        "0",          "--interval",     "3600000", "--timeout",  "-1",
             "--retries", "2.5",        "--ping-retries", "&H7FFF",  "--hex",      "01",
             "--json",    "-q",         "--answer-out",   "a.bin",   "--settings", "s.ini"});
  ASSERT_EQ(c.action, CommandLine::Action::kRun) << c.text;
  const SendOptions& o = c.options;
  EXPECT_EQ(o.dest, "10.0.0.2");
  EXPECT_EQ(o.dest_port, 80);
  EXPECT_EQ(o.src_port, 1000);
  EXPECT_EQ(o.count, 0);
  EXPECT_EQ(o.interval_ms, 3600000);
  EXPECT_EQ(o.timeout_ms, -1);
  EXPECT_EQ(o.retries, 2) << "halves to even";
  EXPECT_EQ(o.ping_retries, 32767);
  EXPECT_TRUE(o.json && o.quiet);
  EXPECT_EQ(o.answer_out, "a.bin");
  EXPECT_EQ(o.settings_file, "s.ini");

  const CommandLine plain = Parse({"--data", "f.bin"});
  ASSERT_EQ(plain.action, CommandLine::Action::kRun);
  EXPECT_EQ(plain.options.count, 1);
  EXPECT_EQ(plain.options.data_file, "f.bin");
  EXPECT_FALSE(plain.options.dest || plain.options.dest_port || plain.options.interval_ms);

  const CommandLine test = Parse({"--test", "t.json", "--expect", "01 *", "--expect-from", "any"});
  ASSERT_EQ(test.action, CommandLine::Action::kRun) << "the test file may give the payload";
  EXPECT_EQ(test.options.test_file, "t.json");
  EXPECT_EQ(test.options.expect->Text(), "01 *");
  EXPECT_EQ(test.options.expect_from, SenderRule::kAny);
}

TEST(CommandLine, BadValuesNameTheOptionAndItsRange) {
  const struct {
    QStringList arguments;
    std::string message;
  } cases[] = {
      {{"--port", "65536"}, "--port \"65536\": 送信先ポート番号が不正です。(0～65535)"},
      {{"--src-port", "-1"}, "--src-port \"-1\": 送信元ポート番号が不正です。(0～65535)"},
      {{"--dest", "192.168.0"},
       "--dest \"192.168.0\": 送信先IPアドレスが不正です。(0.0.0.0～255.255.255.255)"},
      {{"--interval", "3600001"}, "--interval \"3600001\": 送信周期が不正です。(0～3600000)"},
      {{"--interval", "-1"}, "--interval \"-1\": 送信周期が不正です。(0～3600000)"},
      {{"--retries", "32768"},
       "--retries \"32768\": 共通のリトライ回数が不正です。(-32768～32767)"},
      {{"--ping-retries", "x"},
       "--ping-retries \"x\": Pingリトライ回数が不正です。(-32768～32767)"},
      {{"--timeout", "3e9"},
       "--timeout \"3e9\": UDP応答タイムアウト値が不正です。(-2147483648～2147483647)"},
      {{"--count", "-1"}, "--count \"-1\": 送信回数が不正です。(0～2147483647)"},
      {{"--hex", "01 0G"}, "--hex: \"0G\" は16進数のバイトではありません。"},
      {{"--data", "a", "--hex", "01"}, "--data と --hex は同時に指定できません。"},
      {{}, "送信データを --data FILE か --hex BYTES（または --test FILE）で指定してください。"},
      {{"--hex", "01", "extra"}, "余分な引数があります: extra"},
      {{"--expect", "01 GG"},
       "--expect: 期待応答の 2 番目の語 \"GG\" は 2 桁の 16 進数（どちらの桁も ? 可）でも、b と "
       "0・1・x の 8 文字でもありません。"},
      {{"--expect", "01", "--expect-from", "port"},
       "--expect-from \"port\": address、address-and-port、any のどれかを指定してください。"},
      {{"--expect-from", "any"}, "--expect-from には --expect か --test が要ります。"},
  };
  for (const auto& c : cases) {
    QStringList arguments = c.arguments;
    if (!arguments.contains("--hex") && !arguments.contains("--data") && !c.arguments.isEmpty())
      arguments << "--hex"
                << "01";
    const CommandLine result = Parse(arguments);
    EXPECT_EQ(result.action, CommandLine::Action::kError) << c.message;
    EXPECT_EQ(result.text, "ostrel-send: " + c.message + "\n");
  }
  EXPECT_EQ(Parse({"--hex"}).action, CommandLine::Action::kError) << "a value is missing";
  EXPECT_EQ(Parse({"--bogus"}).action, CommandLine::Action::kError);
}

TEST(HexPayload, BlanksPrefixesAndRunsOfPairs) {
  EXPECT_EQ(ParseHexPayload(" 01\t02 FF\n").bytes, (std::vector<uint8_t>{0x01, 0x02, 0xFF}));
  EXPECT_EQ(ParseHexPayload("0x1 0XaB 0102ff").bytes,
            (std::vector<uint8_t>{0x01, 0xAB, 0x01, 0x02, 0xFF}));
  EXPECT_EQ(ParseHexPayload("0").bytes, std::vector<uint8_t>{0});
  for (const char* bad : {"", "  ", "0x", "123", "1 -2", "0x0x01", "ＦＦ"}) {
    EXPECT_FALSE(ParseHexPayload(bad).error.empty()) << bad;
    EXPECT_TRUE(ParseHexPayload(bad).bytes.empty()) << bad;
  }
  EXPECT_EQ(ParseHexPayload(std::string(4096, 'A')).bytes.size(), 2048u) << "a full grid";
  EXPECT_FALSE(ParseHexPayload(std::string(4098, 'A')).error.empty()) << "more than a grid holds";
}

TEST(CommandLine, CrcOptionsNameACatalogueModelAndAnOrder) {
  const CommandLine list = Parse({"--list-crc"});
  ASSERT_EQ(list.action, CommandLine::Action::kHelp);
  std::string every;
  for (const CrcModel& model : CrcCatalogue()) every += FormatCrcModel(model) + "\n";
  EXPECT_EQ(list.text, every);
  EXPECT_NE(list.text.find("CRC-16/MODBUS width=16 poly=0x8005 init=0xFFFF refin=true refout=true "
                           "xorout=0x0000 check=0x4B37"),
            std::string::npos);

  const CommandLine little = Parse({"--hex", "01", "--crc", "modbus:little"});
  ASSERT_EQ(little.action, CommandLine::Action::kRun) << little.text;
  ASSERT_EQ(little.options.fields.size(), 1u);
  EXPECT_EQ(little.options.fields[0].model, "CRC-16/MODBUS");
  EXPECT_EQ(little.options.fields[0].order, ByteOrder::kLittle);
  EXPECT_FALSE(little.options.fields[0].at) << "appended";
  EXPECT_EQ(Parse({"--hex", "01", "--crc", "CRC-32/ISO-HDLC"}).options.fields[0].order,
            ByteOrder::kBig);
  EXPECT_EQ(Parse({"--hex", "01", "--crc", "CRC-16/NONE"}).text,
            "ostrel-send: --crc \"CRC-16/NONE\": その名前の CRC モデルはありません（--list-crc で"
            "一覧を表示します）。\n");
  EXPECT_EQ(Parse({"--hex", "01", "--crc", "CRC-16/ARC:le"}).action, CommandLine::Action::kError);
}

}  // namespace
}  // namespace ostrel
