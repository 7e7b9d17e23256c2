// Computed fields through the real send cycle on loopback: what goes out, what the send
// grid shows afterwards, and how the answer's fields are judged.

#include "sendfields/send_fields.h"

#include <gtest/gtest.h>

#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

#include "cli/memory_grid.h"
#include "common/timer.h"
#include "logging/operation_log.h"
#include "senddata/byte_grid.h"
#include "sendfields/grid_fields.h"
#include "support/loopback_cycle.h"
#include "support/test_support.h"
#include "testfile/test_file.h"
#include "verification/answer_judge.h"

namespace ostrel {
namespace {

using Bytes = std::vector<uint8_t>;

// A send grid that holds cell texts, as the window's does.
class GridView : public test::FixedGridView {
 public:
  GridView() : FixedGridView({}) {}
  Bytes ReadSendGrid() override {
    Bytes bytes;
    SetByteArrayFromGrid(bytes, grid);
    return bytes;
  }
  MemoryGrid grid;
};

// A device on loopback that records each datagram and answers it as its script says.
class ScriptedPeer {
 public:
  // The answer to the n-th datagram (from 0); empty: none.
  explicit ScriptedPeer(std::function<Bytes(int n)> script) : script_(std::move(script)) {
    socket_.bind(QHostAddress::LocalHost, 0);
    QObject::connect(&socket_, &QUdpSocket::readyRead, [this] {
      while (socket_.hasPendingDatagrams()) {
        const QNetworkDatagram d = socket_.receiveDatagram();
        const QByteArray data = d.data();
        received.emplace_back(data.begin(), data.end());
        const Bytes answer = script_(static_cast<int>(received.size()) - 1);
        if (!answer.empty())
          socket_.writeDatagram(reinterpret_cast<const char*>(answer.data()),
                                static_cast<qint64>(answer.size()), d.senderAddress(),
                                static_cast<quint16>(d.senderPort()));
      }
    });
  }
  uint16_t Port() const { return socket_.localPort(); }
  std::vector<Bytes> received;

 private:
  QUdpSocket socket_;
  std::function<Bytes(int)> script_;
};

FieldDefinition Counter() {
  FieldDefinition counter;
  counter.kind = FieldKind::kCounter;
  counter.at = 0;
  counter.width = 2;
  counter.start = 1;
  return counter;
}

FieldDefinition ModbusCrc(std::optional<int> at) {
  FieldDefinition crc;
  crc.model = "CRC-16/MODBUS";
  crc.at = at;
  crc.order = ByteOrder::kLittle;
  return crc;
}

class SendFieldsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    intToolKind = 2;
    InitLog(dir_.str());
  }
  test::TempDir dir_;
};

TEST_F(SendFieldsTest, ModbusRequestGoesOutWithItsCrcAndACounterNumbersEachCycle) {
  const Bytes right{0x01, 0x03, 0x04, 0x00, 0x0A, 0x00, 0x0B, 0x9B, 0xF6};
  const Bytes wrong{0x01, 0x03, 0x04, 0x00, 0x0A, 0x00, 0x0B, 0x9B, 0xF7};
  // Cycle 1: the first transmission goes unanswered, the retransmission gets a right
  // answer; cycle 2: an answer whose CRC is wrong.
  ScriptedPeer peer([&](int n) { return n == 0 ? Bytes{} : n == 1 ? right : wrong; });
  GridView view;
  MainSettings settings;
  settings.strDestIpAddress = "127.0.0.1";
  settings.lngSrcPort = test::FreeLoopbackPort();
  settings.lngDestPort = peer.Port();
  settings.intPingRetry = 1;
  settings.intCommonSendRetry = 2;
  settings.lngAnsTimeOut = 100;
  SocketControl socket;
  Timer tmrSend, tmrRcvAns;
  tmrRcvAns.SetInterval(20);
  SendCycle cycle(settings, socket, tmrSend, tmrRcvAns, view,
                  [](const std::string&, uint8_t, std::function<void(bool)> done) {
                    QTimer::singleShot(0, [done] { done(true); });
                  });
  QObject::connect(&tmrRcvAns, &Timer::Tick, &cycle, &SendCycle::tmrRcvAns_Timer);
  QObject::connect(&socket, &SocketControl::DataArrival, &cycle, &SendCycle::wscSend_DataArrival);

  FillGridFromBytes(view.grid, Bytes{0x00, 0x00, 0x01, 0x03, 0x00, 0x00, 0x00, 0x0A});
  const std::unique_ptr<SendFields> fields =
      MakeGridFields(view.grid, {Counter(), ModbusCrc(std::nullopt)});
  cycle.SetPayloadFiller(fields.get());
  Expectation expect{*AnswerPattern::Parse("01 03 04 ?? ?? ?? ?? ?? ??").pattern,
                     SenderRule::kAddress, AnswerFieldCheck({ModbusCrc(-2)})};
  CycleJudge judge;
  judge.SetExpectation(expect);
  cycle.SetObserver(&judge);

  ASSERT_TRUE(cycle.SendUdpData());
  ASSERT_EQ(peer.received.size(), 2u);
  const Bytes first{0x00, 0x01, 0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0x95, 0x1D};
  EXPECT_EQ(peer.received[0], first);
  EXPECT_EQ(peer.received[1], first) << "a retransmission sends the same bytes";
  EXPECT_EQ(view.ReadSendGrid(), first) << "the grid shows what went out";
  ASSERT_TRUE(judge.Last());
  EXPECT_EQ(judge.Last()->verdict, Verdict::kMatch);

  ASSERT_TRUE(cycle.SendUdpData());
  ASSERT_EQ(peer.received.size(), 3u);
  const Bytes second{0x00, 0x02, 0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xA6, 0x1D};
  EXPECT_EQ(peer.received[2], second) << "the next number, the CRC replaced, not appended again";
  EXPECT_EQ(judge.Last()->verdict, Verdict::kMismatch);
  EXPECT_EQ(judge.Last()->mismatch_at, (std::vector<size_t>{7, 8}));
  EXPECT_EQ(test::LogMessages(strLogFile[2])[1], "10バイトのデータを送信しました。");

  // A field the grid's bytes cannot hold is a run-time error of the cycle; the grid stays.
  FillGridFromBytes(view.grid, Bytes{0x00});
  EXPECT_FALSE(cycle.SendUdpData());
  EXPECT_EQ(view.ReadSendGrid(), Bytes{0x00});
  EXPECT_EQ(test::LogMessages(strLogFile[2]).back(),
            "\"fields[0].at\": 0 バイト目からの 2 バイトが、1 バイトのデータに収まりません。"
            "(SendUdpData)");
  cycle.SetObserver(nullptr);
  cycle.SetPayloadFiller(nullptr);
}

TEST(SendFieldsRuleTest, AppendedBytesAreReplacedUnlessTheGridHoldsOtherData) {
  Bytes grid{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
  SendFields fields(
      {ModbusCrc(std::nullopt)}, [&] { return grid; }, [&](const Bytes& bytes) { grid = bytes; });
  const Bytes request{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
  fields.Fill();
  EXPECT_EQ(grid, request);
  fields.Fill();
  EXPECT_EQ(grid, request) << "sent again: not appended twice";
  grid[6] = 0x00;  // the CRC edited
  fields.Fill();
  EXPECT_EQ(grid, request);
  grid[5] = 0x0B;  // the data edited: covered at the next transmission
  fields.Fill();
  EXPECT_EQ(grid.size(), 8u);
  EXPECT_NE(grid, request);
  grid = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};  // another file of the same length
  fields.Fill();
  EXPECT_EQ(grid.size(), 10u) << "new data gets its CRC appended";
  grid.clear();
  fields.Fill();
  EXPECT_TRUE(grid.empty()) << "the cycle itself reports an empty grid";

  // Fields edited in the window take over the bytes their predecessors appended.
  grid = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
  fields.Fill();
  FieldDefinition sum8;
  sum8.kind = FieldKind::kSum8;
  SendFields edited(
      {sum8}, [&] { return grid; }, [&](const Bytes& bytes) { grid = bytes; });
  edited.TakeOverAppended(fields);
  EXPECT_EQ(edited.DataLength(grid), 6u);
  edited.Fill();
  EXPECT_EQ(grid, (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0x0E}));
}

}  // namespace
}  // namespace ostrel
