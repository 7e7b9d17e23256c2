#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <vector>

#include "fields/checksums.h"
#include "fields/field_checker.h"
#include "fields/field_writer.h"

namespace ostrel {
namespace {

using Bytes = std::vector<uint8_t>;

FieldDefinition Crc16Modbus(std::optional<int> at) {
  FieldDefinition definition;
  definition.model = "CRC-16/MODBUS";
  definition.at = at;
  definition.order = ByteOrder::kLittle;
  return definition;
}

FieldDefinition Counter(int width, ByteOrder order, int64_t start, int64_t step) {
  FieldDefinition definition;
  definition.kind = FieldKind::kCounter;
  definition.at = 0;
  definition.width = width;
  definition.order = order;
  definition.start = start;
  definition.step = step;
  return definition;
}

FieldDefinition Checksum(FieldKind kind, int at, std::optional<int> from = {},
                   std::optional<int> to = {}) {
  FieldDefinition definition;
  definition.kind = kind;
  definition.at = at;
  definition.from = from;
  definition.to = to;
  return definition;
}

Bytes Written(const std::vector<FieldDefinition>& fields, Bytes payload) {
  FieldWriter writer(fields);
  const auto problem = writer.Write(payload);
  EXPECT_FALSE(problem) << problem->message;
  return payload;
}

TEST(ChecksumsTest, SumsXorAndLrcOverOddLengths) {
  const Bytes modbus_ascii{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
  EXPECT_EQ(Lrc8(modbus_ascii), 0xF2);
  const Bytes ones(300, 0xFF);  // 76500: beyond 16 bits
  EXPECT_EQ(Sum16(ones), 76500 % 65536);
  EXPECT_EQ(Sum8(ones), 76500 % 256);
  EXPECT_EQ(static_cast<uint8_t>(Sum8(ones) + Lrc8(ones)), 0);
  EXPECT_EQ(Xor8(Bytes{0x0F, 0xF0, 0x81}), 0x7E);
  EXPECT_EQ(Sum8(Bytes{}), 0);
}

// A real IPv4 header: its checksum sits at 10 inside the bytes it covers, taken as zeros.
TEST(FieldWriterTest, Inet16InsideItsCoverageGivesAnIpv4HeadersChecksum) {
  const Bytes header{0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11,
                     0xB8, 0x61, 0xC0, 0xA8, 0x00, 0x01, 0xC0, 0xA8, 0x00, 0xC7};
  Bytes stale = header;
  stale[10] = 0x12;
  stale[11] = 0x34;
  EXPECT_EQ(Written({Checksum(FieldKind::kInet16, 10, 0, 19)}, stale), header);
  // An odd count of bytes: the last one is padded with a zero byte.
  EXPECT_EQ(Written({Checksum(FieldKind::kInet16, 0, 2, -1)}, Bytes{0, 0, 1, 2, 3}),
            (Bytes{0xFB, 0xFD, 1, 2, 3}));
}

TEST(FieldWriterTest, ModbusRequestGetsItsCrcAppendedLittleEndian) {
  EXPECT_EQ(Written({Crc16Modbus(std::nullopt)}, Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}),
            (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}));
}

TEST(FieldWriterTest, FieldsAtNegativePositionsAndEndsFollowEachOtherInOrder) {
  FieldDefinition sum = Checksum(FieldKind::kSum16, -2, 0, -3);
  FieldDefinition xor8 = Checksum(FieldKind::kXor8, 0);
  xor8.at = std::nullopt;  // appended, over everything before it, the sum included
  FieldDefinition lrc = Checksum(FieldKind::kLrc8, 0, 1, 2);
  lrc.at = std::nullopt;
  const Bytes out = Written({sum, xor8, lrc}, Bytes{0x00, 0x80, 0x90, 0xEE, 0xEE});
  EXPECT_EQ(out, (Bytes{0x00, 0x80, 0x90, 0x01, 0x10, 0x01 ^ 0x10 ^ 0x80 ^ 0x90, 0xF0}));
}

TEST(FieldWriterTest, CountersWrapAtTheirWidthInBothOrdersAndRetransmissionsRepeatThem) {
  struct Case {
    int width;
    ByteOrder order;
    int64_t start;
    Bytes first, second;
  };
  const Case cases[] = {
      {1, ByteOrder::kBig, 0xFF, {0xFF}, {0x01}},
      {2, ByteOrder::kBig, 0xFFFF, {0xFF, 0xFF}, {0x00, 0x01}},
      {2, ByteOrder::kLittle, 0xFFFE, {0xFE, 0xFF}, {0x00, 0x00}},
      {4, ByteOrder::kBig, 0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}, {0x00, 0x00, 0x00, 0x01}},
      {4, ByteOrder::kLittle, 0xFFFFFFFE, {0xFE, 0xFF, 0xFF, 0xFF}, {0x00, 0x00, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "width " << c.width << " " << ByteOrderName(c.order));
    FieldWriter writer({Counter(c.width, c.order, c.start, 2)});
    Bytes payload(4, 0xAA);
    writer.StartCycle();
    ASSERT_FALSE(writer.Write(payload));
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + c.width), c.first);
    ASSERT_FALSE(writer.Write(payload));  // a retransmission
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + c.width), c.first);
    writer.StartCycle();
    ASSERT_FALSE(writer.Write(payload));
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + c.width), c.second);
    EXPECT_EQ(payload.size(), 4u);
  }
  FieldWriter down({Counter(1, ByteOrder::kBig, 1, -1)});
  Bytes one{0};
  for (const uint8_t expected : {1, 0, 255}) {
    down.StartCycle();
    ASSERT_FALSE(down.Write(one));
    EXPECT_EQ(one[0], expected);
  }
  down.Reset();
  down.StartCycle();
  ASSERT_FALSE(down.Write(one));
  EXPECT_EQ(one[0], 1);
}

TEST(FieldWriterTest, TimeComesFromTheClockOncePerCycle) {
  std::chrono::system_clock::time_point now{std::chrono::milliseconds(0x0123456789AB)};
  FieldDefinition seconds;
  seconds.kind = FieldKind::kTime;
  seconds.at = 0;
  seconds.width = 4;
  FieldDefinition millis = seconds;
  millis.at = 4;
  millis.width = 8;
  millis.order = ByteOrder::kLittle;
  FieldWriter writer({seconds, millis}, [&] { return now; });
  Bytes payload(12);
  writer.StartCycle();
  now += std::chrono::seconds(5);
  ASSERT_FALSE(writer.Write(payload));  // still the cycle's time
  const uint32_t s = 0x0123456789AB / 1000;
  EXPECT_EQ(payload, (Bytes{static_cast<uint8_t>(s >> 24), static_cast<uint8_t>(s >> 16),
                            static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s), 0xAB, 0x89, 0x67,
                            0x45, 0x23, 0x01, 0x00, 0x00}));
}

TEST(FieldWriterTest, FieldsThatDoNotFitAreRefusedAndLeaveThePayloadAlone) {
  FieldWriter modbus({Crc16Modbus(std::nullopt)});
  EXPECT_EQ(modbus.Layout(2046).length, 2048u);
  const FieldLayout too_long = modbus.Layout(2047);
  ASSERT_TRUE(too_long.problem);
  EXPECT_EQ(too_long.problem->message,
            "at: フィールドを加えると 2049 バイトになり、2048 バイトを超えます。");

  FieldWriter two({Counter(1, ByteOrder::kBig, 0, 1), Checksum(FieldKind::kSum16, -2)});
  Bytes payload{0xAA, 0xBB};
  const auto problem = two.Write(payload);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->field, 1u);  // the sum's default coverage, 0..-1, is empty
  EXPECT_EQ(problem->message, "from, to: 対象のバイトがありません（0～-1）。");
  EXPECT_EQ(payload, (Bytes{0xAA, 0xBB}));

  Bytes short_payload{1, 2, 3};
  const auto outside = FieldWriter({Checksum(FieldKind::kSum16, -4)}).Write(short_payload);
  ASSERT_TRUE(outside);
  EXPECT_EQ(outside->message, "at: -4 バイト目からの 2 バイトが、3 バイトのデータに収まりません。");
  const auto beyond = FieldWriter({Checksum(FieldKind::kSum8, 0, 1, 3)}).Write(short_payload);
  ASSERT_TRUE(beyond);
  EXPECT_EQ(beyond->message, "from, to: 対象の範囲（1～3）が、3 バイトのデータに収まりません。");
  EXPECT_EQ(short_payload, (Bytes{1, 2, 3}));
}

TEST(FieldCheckerTest, AWrongCrcIsReportedAtItsOffsetsAndARightOneMatches) {
  const FieldChecker checker({Crc16Modbus(-2)});
  const Bytes right{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
  EXPECT_TRUE(checker.Check(right).match);
  EXPECT_TRUE(checker.Check(right).offsets.empty());

  Bytes wrong = right;
  wrong[3] = 0x01;
  const FieldCheckResult check = checker.Check(wrong);
  EXPECT_FALSE(check.match);
  EXPECT_EQ(check.offsets, (std::vector<size_t>{6, 7}));

  // Too short to hold the CRC over anything: wrong, at the bytes that are there.
  const FieldCheckResult short_answer = checker.Check(Bytes{0xC5, 0xCD});
  EXPECT_FALSE(short_answer.match);
  EXPECT_EQ(short_answer.offsets, (std::vector<size_t>{0, 1}));
  EXPECT_FALSE(checker.Check(Bytes{}).match);

  // Fields that were not checked first are refused, not used.
  EXPECT_THROW(FieldChecker({Crc16Modbus(std::nullopt)}), std::invalid_argument);
  EXPECT_THROW(FieldWriter({Counter(3, ByteOrder::kBig, 0, 1)}), std::invalid_argument);
}

TEST(FieldDefinitionTest, BadFieldsAreRefusedNamingTheKey) {
  struct Case {
    const char* what;
    FieldDefinition definition;
    FieldUse use;
    const char* message;
  };
  FieldDefinition no_model = Crc16Modbus(0);
  no_model.model.clear();
  FieldDefinition unknown = Crc16Modbus(0);
  unknown.model = "CRC-16/NONE";
  FieldDefinition both = Crc16Modbus(0);
  both.params = CrcParams{8, 7, 0, false, false, 0};
  FieldDefinition model_on_sum = Checksum(FieldKind::kSum8, 0);
  model_on_sum.model = "CRC-32";
  FieldDefinition wide_counter = Counter(3, ByteOrder::kBig, 0, 1);
  FieldDefinition no_width = Counter(1, ByteOrder::kBig, 0, 1);
  no_width.width.reset();
  FieldDefinition big_start = Counter(2, ByteOrder::kBig, 65536, 1);
  FieldDefinition big_step = Counter(1, ByteOrder::kBig, 0, -256);
  FieldDefinition counter_range = Counter(1, ByteOrder::kBig, 0, 1);
  counter_range.to = 3;
  FieldDefinition time3 = Counter(4, ByteOrder::kBig, 0, 1);
  time3.kind = FieldKind::kTime;
  FieldDefinition width_on_crc = Crc16Modbus(0);
  width_on_crc.width = 2;
  const Case cases[] = {
      {"no model", no_model, FieldUse::kWrite,
       "model: crc には CRC モデルの名前かパラメータを指定してください。"},
      {"unknown", unknown, FieldUse::kWrite,
       "model: \"CRC-16/NONE\" という CRC モデルはありません。"},
      {"both", both, FieldUse::kWrite,
       "model: 名前とパラメータのどちらか一方だけを指定してください。"},
      {"model on sum8", model_on_sum, FieldUse::kWrite, "model: crc にだけ指定できます。"},
      {"end in answer", Crc16Modbus(std::nullopt), FieldUse::kCheck,
       "at: 応答で確かめるフィールドに \"end\" は使えません。末尾から数える位置は負の数で"
       "指定してください（例: -2）。"},
      {"at 2048", Crc16Modbus(2048), FieldUse::kWrite,
       "at: -2048～2047 または \"end\" を指定してください。"},
      {"from -2049", Checksum(FieldKind::kSum8, 5, -2049), FieldUse::kWrite,
       "from: -2048～2047 の範囲で指定してください。"},
      {"counter in answer", Counter(1, ByteOrder::kBig, 0, 1), FieldUse::kCheck,
       "kind: \"counter\" は送るデータにだけ使えます。応答では確かめられません。"},
      {"counter width 3", wide_counter, FieldUse::kWrite,
       "width: counter の幅は 1、2、4 のいずれかです。"},
      {"counter without width", no_width, FieldUse::kWrite,
       "width: counter には width を指定してください。"},
      {"start", big_start, FieldUse::kWrite, "start: 0～65535 の範囲で指定してください。"},
      {"step", big_step, FieldUse::kWrite, "step: -255～255 の範囲で指定してください。"},
      {"to on counter", counter_range, FieldUse::kWrite,
       "to: counter と time には指定できません。"},
      {"start on time", time3, FieldUse::kWrite, "start: counter にだけ指定できます。"},
      {"width on crc", width_on_crc, FieldUse::kWrite,
       "width: counter と time にだけ指定できます。"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckFieldDefinition(c.definition, c.use).value_or("(accepted)"), c.message) << c.what;
  }
  time3.start.reset();
  time3.step.reset();
  time3.width = 2;
  EXPECT_EQ(CheckFieldDefinition(time3, FieldUse::kWrite).value_or("(accepted)"),
            "width: time の幅は 4（1970 年からの秒）か 8（1970 年からのミリ秒）です。");
  EXPECT_FALSE(CheckFieldDefinition(Crc16Modbus(-2), FieldUse::kCheck));
  EXPECT_FALSE(CheckFieldDefinition(Counter(4, ByteOrder::kLittle, 0xFFFFFFFF, -1), FieldUse::kWrite));
}

}  // namespace
}  // namespace ostrel
