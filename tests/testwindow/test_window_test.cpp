// The menu "試験", the test window and the verdicts of real send cycles on the answer grid.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QUdpSocket>
#include <algorithm>
#include <filesystem>

#include "capturemenu/capture_menu.h"
#include "common/tool_kind.h"
#include "fields/field_messages.h"
#include "logging/operation_log.h"
#include "mainwindow/main_window.h"
#include "senddata/byte_grid.h"
#include "senddata/flex_grid.h"
#include "sendfields/send_fields.h"
#include "support/fake_message_box.h"
#include "support/loopback_cycle.h"
#include "support/test_support.h"
#include "testwindow/answer_marks.h"
#include "testwindow/field_dialog.h"
#include "testwindow/step_dialog.h"
#include "testwindow/test_menu.h"
#include "testwindow/test_session.h"
#include "testwindow/test_window.h"

namespace ostrel {
namespace {

using test::FakeMessageBoxes;
using test::LogMessages;
using test::TempDir;
using test::WriteFileBytes;

std::vector<std::string> GridRow(const FlexGrid& grid, int row) {
  std::vector<std::string> texts;
  for (int c = 1; c < grid.Cols(); ++c) texts.push_back(grid.TextMatrix(row, c));
  return texts;
}

class TestMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    intToolKind = 2;
    InitLog(dir_.str());
    window_.EnsureLoaded();
    window_.EnableTests();
    window_.EnableTests();
  }
  TestMenu& menu() { return *window_.testMenu(); }
  std::vector<std::string> Log() { return LogMessages(strLogFile[2]); }

  TempDir dir_;
  FakeMessageBoxes boxes_;
  MainWindow window_;
};

TEST_F(TestMenuTest, OpeningATestFileFillsTheSendGridAndTheTestWindow) {
  const auto menus = window_.menuBar()->actions();
  ASSERT_EQ(menus.size(), 2);
  EXPECT_EQ(menus[1]->text(), "試験");
  ASSERT_EQ(menus[1]->menu()->actions().size(), 4);  // with a separator
  EXPECT_EQ(menu().OpenTest()->text(), "試験ファイルを開く…");
  EXPECT_EQ(menu().SaveTest()->text(), "試験ファイルを保存…");
  EXPECT_EQ(menu().Expectation()->text(), "期待応答");

  WriteFileBytes(dir_ / "read.json",
                 R"({"ostrel_test": 1, "name": "読み出し",
                     "payload": {"hex": "01 03 00 00 00 02 C4 0B 10 11 12 13 14 15 16 17 18"},
                     "expect": {"pattern": "01 03 b0000x100 ?? 3? *", "from": "any"}})");
  ASSERT_TRUE(menu().OpenTestFile(dir_ / "read.json"));
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_TRUE(Log().empty()) << "nothing claims a file was read";
  const FlexGrid& send = *window_.fgrdSendData();
  EXPECT_EQ(send.Rows(), 3);
  EXPECT_EQ(send.TextMatrix(1, 1), "01");
  EXPECT_EQ(send.TextMatrix(1, 8), "0B");
  EXPECT_EQ(send.TextMatrix(2, 1), "18");
  EXPECT_EQ(send.TextMatrix(2, 2), "");
  EXPECT_TRUE(send.Redraw());

  menu().Expectation()->trigger();
  TestWindow* test = menu().frmTest();
  ASSERT_NE(test, nullptr);
  EXPECT_TRUE(test->isVisible());
  EXPECT_EQ(test->windowTitle(), "期待応答");
  EXPECT_EQ(test->lblTestFileData()->text(), "read.json  (読み出し)");
  EXPECT_EQ(test->txtPattern()->text(), "01 03 b0000x100 ?? 3? *");
  EXPECT_EQ(test->cboFrom()->currentIndex(), 2);  // any
  EXPECT_EQ(test->fgrdPattern()->Rows(), 2);
  EXPECT_EQ(GridRow(*test->fgrdPattern(), 1),
            (std::vector<std::string>{"01", "03", "b0000x100", "??", "3?", "*", "", "", "", "", "",
                                      "", "", "", "", ""}));
  EXPECT_EQ(test->lblVerdict()->text(), "");
  EXPECT_TRUE(test->cmdClear()->isEnabled());
  test->close();
  menu().Expectation()->trigger();
  EXPECT_EQ(menu().frmTest(), test) << "one window";
  EXPECT_TRUE(test->isVisible());

  // A pattern typed in the window: a bad one names its token and position and changes
  // nothing; a good one replaces the pattern; 解除 clears it.
  test->txtPattern()->setText("01 0G");
  test->cmdApply()->click();
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_NE(boxes_.shown[0].text.find("0G"), std::string::npos) << boxes_.shown[0].text;
  EXPECT_NE(boxes_.shown[0].text.find('2'), std::string::npos) << boxes_.shown[0].text;
  EXPECT_EQ(menu().session().CurrentExpectation()->pattern.Text(), "01 03 b0000x100 ?? 3? *");
  test->txtPattern()->setText("aa bb");
  test->cboFrom()->setCurrentIndex(1);
  test->cmdApply()->click();
  EXPECT_EQ(menu().session().CurrentExpectation()->pattern.Text(), "aa bb");
  EXPECT_EQ(menu().session().CurrentExpectation()->from, SenderRule::kAddressAndPort);
  EXPECT_EQ(test->fgrdPattern()->TextMatrix(1, 2), "bb");
  EXPECT_EQ(test->fgrdPattern()->TextMatrix(1, 3), "");
  test->cmdClear()->click();
  EXPECT_FALSE(menu().session().CurrentExpectation());
  EXPECT_EQ(test->fgrdPattern()->TextMatrix(1, 1), "");
  EXPECT_FALSE(test->cmdClear()->isEnabled());
}

TEST_F(TestMenuTest, ATestFileThatDoesNotOpenLeavesGridAndExpectationAsTheyWere) {
  WriteFileBytes(
      dir_ / "good.json",
      R"({"ostrel_test": 1, "payload": {"hex": "AA BB"}, "expect": {"pattern": "AA *"}})");
  ASSERT_TRUE(menu().OpenTestFile(dir_ / "good.json"));
  const auto unchanged = [&] {
    EXPECT_EQ(GridRow(*window_.fgrdSendData(), 1)[0], "AA");
    EXPECT_EQ(GridRow(*window_.fgrdSendData(), 1)[1], "BB");
    EXPECT_EQ(GridRow(*window_.fgrdSendData(), 1)[2], "");
    ASSERT_TRUE(menu().session().CurrentExpectation());
    EXPECT_EQ(menu().session().CurrentExpectation()->pattern.Text(), "AA *");
    EXPECT_EQ(menu().session().TestFileName(), "good.json");
  };

  WriteFileBytes(dir_ / "token.json",
                 R"({"ostrel_test": 1, "payload": {"hex": "01"}, "expect": {"pattern": "01 XY"}})");
  WriteFileBytes(dir_ / "key.json", R"({"ostrel_test": 1, "payload": {"hex": "01"}, "pace": 3})");
  EXPECT_FALSE(menu().OpenTestFile(dir_ / "token.json"));
  EXPECT_FALSE(menu().OpenTestFile(dir_ / "key.json"));
  ASSERT_EQ(boxes_.shown.size(), 2u);
  EXPECT_NE(boxes_.shown[0].text.find("XY"), std::string::npos) << boxes_.shown[0].text;
  EXPECT_NE(boxes_.shown[1].text.find("pace"), std::string::npos) << boxes_.shown[1].text;
  EXPECT_EQ(boxes_.shown[1].icon, MsgIcon::Critical);
  unchanged();

  // A payload file goes through the checks and log lines of "入力".
  WriteFileBytes(
      dir_ / "missing.json",
      R"({"ostrel_test": 1, "payload": {"file": "none.bin"}, "expect": {"pattern": "01"}})");
  EXPECT_FALSE(menu().OpenTestFile(dir_ / "missing.json"));
  EXPECT_EQ(boxes_.shown.back().text, "ファイルがありません。");
  WriteFileBytes(dir_ / "empty.bin", "");
  WriteFileBytes(
      dir_ / "empty.json",
      R"({"ostrel_test": 1, "payload": {"file": "empty.bin"}, "expect": {"pattern": "01"}})");
  EXPECT_FALSE(menu().OpenTestFile(dir_ / "empty.json"));
  EXPECT_EQ(boxes_.shown.size(), 3u);
  ASSERT_EQ(Log().size(), 1u);
  EXPECT_NE(Log()[0].find("(SetDataFromFileToGrid)"), std::string::npos) << Log()[0];
  unchanged();

  // A good payload file loads as "入力" loads it.
  WriteFileBytes(dir_ / "req.bin", std::string("\x05\x06", 2));
  WriteFileBytes(
      dir_ / "file.json",
      R"({"ostrel_test": 1, "payload": {"file": "req.bin"}, "expect": {"pattern": "05"}})");
  EXPECT_TRUE(menu().OpenTestFile(dir_ / "file.json"));
  EXPECT_EQ(GridRow(*window_.fgrdSendData(), 1)[1], "06");
  EXPECT_EQ(menu().session().CurrentExpectation()->pattern.Text(), "05");

  // Saved and opened again: the same grid and expectation.
  ASSERT_TRUE(menu().SaveTestFile(dir_ / "saved.json"));
  window_.fgrdSendData()->SetTextMatrix(1, 1, "77");
  menu().session().SetExpectation(std::nullopt);
  ASSERT_TRUE(menu().OpenTestFile(dir_ / "saved.json"));
  EXPECT_EQ(GridRow(*window_.fgrdSendData(), 1)[0], "05");
  EXPECT_EQ(menu().session().CurrentExpectation()->pattern.Text(), "05");
}

// The capture items at the end of "試験": the titles say while a capture runs, and a file
// that cannot be made is shown and logged, with no capture.
TEST_F(TestMenuTest, CaptureItemsStartAndStopACaptureThatTheTitlesShow) {
  window_.EnableCapture();
  window_.EnableCapture();
  CaptureMenu& capture = *window_.captureMenu();
  const auto items = menu().menu()->actions();
  ASSERT_EQ(items.size(), 7);  // with two separators
  EXPECT_EQ(items[5], capture.CaptureStart());
  EXPECT_EQ(capture.CaptureStart()->text(), "キャプチャ開始…");
  EXPECT_EQ(items[6], capture.CaptureStop());
  EXPECT_EQ(capture.CaptureStop()->text(), "キャプチャ停止");
  EXPECT_FALSE(capture.CaptureStop()->isEnabled());

  menu().OpenTestWindow();
  ASSERT_TRUE(capture.StartCapture(dir_ / "session.pcapng"));
  EXPECT_TRUE(capture.CaptureStop()->isEnabled());
  EXPECT_EQ(window_.windowTitle(), "Ostrel — キャプチャ中: session.pcapng");
  EXPECT_EQ(menu().frmTest()->windowTitle(), "期待応答 — キャプチャ中: session.pcapng");
  capture.StopCapture();
  EXPECT_FALSE(capture.CaptureStop()->isEnabled());
  EXPECT_EQ(window_.windowTitle(), "Ostrel");
  EXPECT_EQ(menu().frmTest()->windowTitle(), "期待応答");
  EXPECT_TRUE(std::filesystem::exists(dir_ / "session.pcapng"));
  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(boxes_.shown.empty());

  std::filesystem::create_symlink(dir_ / "elsewhere", dir_ / "link.pcapng");
  EXPECT_FALSE(capture.StartCapture(dir_ / "link.pcapng"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "elsewhere"));
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].icon, MsgIcon::Critical);
  ASSERT_EQ(Log().size(), 1u);
  EXPECT_NE(Log()[0].find("(CaptureStart_Click)"), std::string::npos) << Log()[0];
  EXPECT_FALSE(capture.CaptureStop()->isEnabled());
  EXPECT_EQ(window_.windowTitle(), "Ostrel");
}

// Clicks `button`, which opens a modal dialog, and lets `fill` set the dialog's controls and
// press its buttons while it is shown.
template <typename Dialog>
void WithDialog(QPushButton* button, const std::function<void(Dialog&)>& fill) {
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    seen = true;
    fill(*dialog);
    if (dialog->isVisible()) dialog->cmdCancel()->click();
  });
  button->click();
  EXPECT_TRUE(seen);
}

void WithFieldDialog(QPushButton* button, const std::function<void(FieldDialog&)>& fill) {
  WithDialog<FieldDialog>(button, fill);
}

TEST_F(TestMenuTest, FieldsEditedInTheTestWindowApplyAtOnceAndAreSavedWithTheTestFile) {
  WriteFileBytes(dir_ / "plain.json",
                 R"({"ostrel_test": 1, "payload": {"hex": "01 03 00 00 00 0A"}})");
  ASSERT_TRUE(menu().OpenTestFile(dir_ / "plain.json"));
  EXPECT_EQ(window_.sendFields(), nullptr);
  menu().OpenTestWindow();
  TestWindow& test = *menu().frmTest();

  // A Modbus CRC appended to the request; a bad "at" first, refused as a file refuses it.
  WithFieldDialog(test.AddFieldButton(FieldUse::kWrite), [&](FieldDialog& dialog) {
    dialog.cboModel()->setCurrentText("CRC-16/MODBUS");
    dialog.cboOrder()->setCurrentText("little");
    dialog.txtAt()->setText("last");
    dialog.cmdOk()->click();
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, "\"fields[0].at\": 整数または \"end\" を指定してください。");
    EXPECT_TRUE(dialog.isVisible());
    dialog.txtAt()->setText("end");
    dialog.cmdOk()->click();
    EXPECT_FALSE(dialog.isVisible());
  });
  ASSERT_EQ(test.FieldListBox(FieldUse::kWrite)->count(), 1);
  EXPECT_EQ(test.FieldListBox(FieldUse::kWrite)->item(0)->text(),
            R"({"kind": "crc", "model": "CRC-16/MODBUS", "at": "end", "order": "little"})");
  ASSERT_NE(window_.sendFields(), nullptr) << "applied to the send path at once";
  window_.sendFields()->Fill();
  EXPECT_EQ(GridRow(*window_.fgrdSendData(), 1)[6], "C5");
  EXPECT_EQ(GridRow(*window_.fgrdSendData(), 1)[7], "CD");

  // Changed through the dialog: the appended CRC is replaced, not sent as data.
  test.FieldListBox(FieldUse::kWrite)->setCurrentRow(0);
  WithFieldDialog(test.ChangeFieldButton(FieldUse::kWrite), [&](FieldDialog& dialog) {
    EXPECT_EQ(dialog.Form().order, "little") << "the field's own values";
    dialog.cboOrder()->setCurrentText("big");
    dialog.cmdOk()->click();
  });
  window_.sendFields()->Fill();
  EXPECT_EQ(GridRow(*window_.fgrdSendData(), 1)[6], "CD");
  EXPECT_EQ(GridRow(*window_.fgrdSendData(), 1)[8], "");

  // An answer field: "end" is refused there, as a file refuses it.
  WithFieldDialog(test.AddFieldButton(FieldUse::kCheck), [&](FieldDialog& dialog) {
    dialog.cmdOk()->click();
    EXPECT_EQ(boxes_.shown.back().text,
              FieldMessageAt("expect.fields[0]", field_msg::kEndInAnswer));
    dialog.txtAt()->setText("-2");
    dialog.cmdOk()->click();
  });
  EXPECT_EQ(menu().session().AnswerFields().Fields().size(), 1u);

  // Saved with the test file and opened again as they were.
  const std::vector<FieldDefinition> send = menu().session().SendFields().Fields();
  test.txtPattern()->setText("01 03 *");
  test.cmdApply()->click();
  ASSERT_TRUE(menu().session().CurrentExpectation()->fields) << "the answer fields apply";
  ASSERT_TRUE(menu().SaveTestFile(dir_ / "saved.json"));
  EXPECT_NE(test::ReadFileBytes(dir_ / "saved.json").find("\"01 03 00 00 00 0A\""),
            std::string::npos)
      << "the CRC the field appended is not saved as data, or it would go out twice";
  test.FieldListBox(FieldUse::kWrite)->setCurrentRow(0);
  test.RemoveFieldButton(FieldUse::kWrite)->click();
  EXPECT_EQ(window_.sendFields(), nullptr);
  ASSERT_TRUE(menu().OpenTestFile(dir_ / "saved.json"));
  EXPECT_EQ(menu().session().SendFields().Fields(), send);
  EXPECT_EQ(test.FieldListBox(FieldUse::kCheck)->item(0)->text(),
            R"({"kind": "crc", "model": "CRC-16/MODBUS", "at": -2, "order": "big"})");
  EXPECT_EQ(boxes_.shown.size(), 2u);
}

TEST_F(TestMenuTest, StepsAddedInTheTestWindowAreOrderedAndSavedAsAFileWithSteps) {
  WriteFileBytes(dir_ / "read.json", R"({"ostrel_test": 1, "payload": {"hex": "01 03 00 00 00 0A"},
      "expect": {"pattern": "01 03 *"}})");
  ASSERT_TRUE(menu().OpenTestFile(dir_ / "read.json"));
  menu().OpenTestWindow();
  TestWindow& w = *menu().frmTest();
  EXPECT_FALSE(w.tblSteps()->isVisible()) << "no steps: the window as before";
  EXPECT_TRUE(w.cmdAddStep()->isVisible());

  WithDialog<StepDialog>(w.cmdAddStep(), [&](StepDialog& dialog) {
    dialog.txtName()->setText("read");
    dialog.txtTimeout()->setText("500ms");
    dialog.cmdOk()->click();
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text,
              "\"steps[0].timeout_ms\" の値 \"500ms\" は 整数 0～3600000 の範囲で書いてください。");
    dialog.txtTimeout()->setText("500");
    dialog.cmdOk()->click();
    EXPECT_FALSE(dialog.isVisible());
  });
  EXPECT_TRUE(w.tblSteps()->isVisible());

  // The next request: other bytes, another expectation, added as a second step and moved up.
  SetGridFromByteArray(*window_.fgrdSendData(), {0xAA, 0x01});
  w.txtPattern()->setText("AA 81");
  w.cmdApply()->click();
  WithDialog<StepDialog>(w.cmdAddStep(), [&](StepDialog& dialog) {
    dialog.txtName()->setText("wake");
    dialog.cboOnFail()->setCurrentText("next");
    dialog.cmdOk()->click();
  });
  ASSERT_EQ(w.tblSteps()->rowCount(), 2);
  EXPECT_TRUE(w.cmdStepUp()->isEnabled()) << "the new step is selected";
  w.cmdStepUp()->click();
  EXPECT_EQ(w.tblSteps()->item(0, 0)->text(), "1 wake");

  ASSERT_TRUE(menu().SaveTestFile(dir_ / "steps.json"));
  const TestFileRead saved = ReadTestFile(dir_ / "steps.json");
  ASSERT_TRUE(saved.test) << saved.error;
  ASSERT_EQ(saved.test->steps.size(), 2u);
  const TestStep& wake = saved.test->steps[0];
  EXPECT_EQ(wake.payload.bytes, (std::vector<uint8_t>{0xAA, 0x01}));
  EXPECT_EQ(wake.expect->pattern.Text(), "AA 81");
  EXPECT_FALSE(wake.stop_on_fail);
  const TestStep& read = saved.test->steps[1];
  EXPECT_EQ(read.name, "read");
  EXPECT_EQ(read.payload.bytes, (std::vector<uint8_t>{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}));
  EXPECT_EQ(read.expect->pattern.Text(), "01 03 *");
  EXPECT_EQ(read.timeout_ms, 500);
}

// A device on 127.0.0.1 that answers each datagram with `answer`.
class Device {
 public:
  Device() {
    socket_.bind(QHostAddress::LocalHost, 0);
    QObject::connect(&socket_, &QUdpSocket::readyRead, [this] {
      while (socket_.hasPendingDatagrams()) {
        const QNetworkDatagram d = socket_.receiveDatagram();
        socket_.writeDatagram(answer, d.senderAddress(), d.senderPort());
      }
    });
  }
  uint16_t Port() const { return socket_.localPort(); }
  QByteArray answer;

 private:
  QUdpSocket socket_;
};

// The window side of a cycle that shows its answers in a byte grid, as the main window.
class GridView : public test::FixedGridView {
 public:
  GridView() : FixedGridView({0x01}) { LabelGridHeaders(grid); }
  void ShowAnswer(const std::vector<uint8_t>& bytes) override { SetGridFromByteArray(grid, bytes); }
  FlexGrid grid{17};
};

TEST(TestSessionTest, AWrongAnswerMarksExactlyTheDifferingCellsAndLogsItsVerdict) {
  TempDir dir;
  intToolKind = 2;
  InitLog(dir.str());
  Device device;
  MainSettings settings;
  settings.strDestIpAddress = "127.0.0.1";
  settings.lngSrcPort = test::FreeLoopbackPort();
  settings.lngDestPort = device.Port();
  settings.intPingRetry = 1;
  settings.intCommonSendRetry = 1;
  settings.lngAnsTimeOut = 50;
  GridView view;
  SocketControl socket;
  Timer tmrSend, tmrRcvAns;
  tmrRcvAns.SetInterval(10);
  SendCycle cycle(settings, socket, tmrSend, tmrRcvAns, view,
                  [](const std::string&, uint8_t, std::function<void(bool)> done) {
                    QTimer::singleShot(0, [done] { done(true); });
                  });
  QObject::connect(&tmrRcvAns, &Timer::Tick, &cycle, &SendCycle::tmrRcvAns_Timer);
  QObject::connect(&socket, &SocketControl::DataArrival, &cycle, &SendCycle::wscSend_DataArrival);
  TestSession session(view.grid);
  cycle.SetObserver(&session.Observer());
  std::vector<Verdict> sunk;
  session.SetVerdictSink([&](Verdict v) { sunk.push_back(v); });
  const auto marked = [&] {
    std::vector<std::pair<int, int>> cells;
    for (int r = 1; r < view.grid.Rows(); ++r)
      for (int c = 1; c < view.grid.Cols(); ++c)
        if (view.grid.CellBackColorAt(r, c) == kMismatchBackColor) cells.emplace_back(r, c);
    return cells;
  };
  const auto log = [&] { return LogMessages(strLogFile[2]); };

  // Without an expectation: no verdict line, no mark.
  device.answer = QByteArray("\x12\x34\x56\x78", 4);
  cycle.SendUdpData();
  const std::vector<std::string> plain = log();
  ASSERT_FALSE(plain.empty());
  for (const std::string& line : plain) EXPECT_EQ(line.rfind("判定", 0), std::string::npos) << line;
  EXPECT_TRUE(marked().empty());

  // Byte 1 differs, byte 3 is one too many.
  session.SetExpectation(
      Expectation{*AnswerPattern::Parse("12 30 56").pattern, SenderRule::kAny, {}});
  cycle.SendUdpData();
  std::vector<std::string> lines = log();
  ASSERT_EQ(lines.size(), 2 * plain.size() + 1);
  EXPECT_EQ(lines.back(), "判定:不一致(0001,0003)");
  EXPECT_EQ(marked(), (std::vector<std::pair<int, int>>{{1, 2}, {1, 4}}));
  EXPECT_EQ(view.grid.CellBackColorAt(1, 5), kGreyBackColor);
  EXPECT_EQ(view.grid.CellBackColorAt(1, 1), kDefaultBackColor);

  // The next answer clears them; a byte missing from a short answer is marked in its
  // empty cell.
  session.SetExpectation(
      Expectation{*AnswerPattern::Parse("12 34 56 78 9A").pattern, SenderRule::kAny, {}});
  cycle.SendUdpData();
  EXPECT_EQ(log().back(), "判定:不一致(0004)");
  EXPECT_EQ(marked(), (std::vector<std::pair<int, int>>{{1, 5}}));
  session.SetExpectation(
      Expectation{*AnswerPattern::Parse("12 34 *").pattern, SenderRule::kAny, {}});
  cycle.SendUdpData();
  EXPECT_EQ(log().back(), "判定:一致");
  EXPECT_TRUE(marked().empty());
  EXPECT_EQ(view.grid.CellBackColorAt(1, 5), kGreyBackColor);
  EXPECT_EQ(session.Counts().Count(Verdict::kMismatch), 2u);
  EXPECT_EQ(session.Counts().Count(Verdict::kMatch), 1u);
  EXPECT_EQ(sunk, (std::vector<Verdict>{Verdict::kMismatch, Verdict::kMismatch, Verdict::kMatch}));

  // Cleared, the grid and the log are as without one.
  session.SetExpectation(Expectation{*AnswerPattern::Parse("00").pattern, SenderRule::kAny, {}});
  cycle.SendUdpData();
  EXPECT_EQ(marked().size(), 4u);
  session.SetExpectation(std::nullopt);
  EXPECT_TRUE(marked().empty()) << "clearing the expectation clears the marks";
  EXPECT_EQ(view.grid.CellBackColorAt(1, 6), kGreyBackColor);
  const std::size_t before = log().size();
  cycle.SendUdpData();
  EXPECT_EQ(log().size(), before + plain.size());
  EXPECT_EQ(log().back(), plain.back());
  cycle.SetObserver(nullptr);
}

// The steps of a test file run from the test window against a device on 127.0.0.1 that
// wakes to AA, answers CC wrongly and never answers BB.
TEST_F(TestMenuTest, StepsRunFromTheTestWindowAndStopAfterTheRunningStep) {
  QUdpSocket device;
  device.bind(QHostAddress::LocalHost, 0);
  QObject::connect(&device, &QUdpSocket::readyRead, [&] {
    while (device.hasPendingDatagrams()) {
      const QNetworkDatagram d = device.receiveDatagram();
      const char first = d.data().isEmpty() ? 0 : d.data()[0];
      if (first == '\xAA')
        device.writeDatagram(QByteArray("\xAA\x81", 2), d.senderAddress(), d.senderPort());
      if (first == '\xCC')
        device.writeDatagram(QByteArray("\xCC\x00", 2), d.senderAddress(), d.senderPort());
    }
  });
  const std::string ini = dir_ / "settings.ini";
  WriteFileBytes(ini, "[IPAddress]\r\nIPAddress=127.0.0.1\r\n[Port]\r\nUdpSrcPort=" +
                          std::to_string(test::FreeLoopbackPort()) +
                          "\r\nUdpDestPort=" + std::to_string(device.localPort()) +
                          "\r\n[Maintenance]\r\nSendInterval=2000\r\nSendIntervalUnit=0\r\n"
                          "CommonSendRetry=1\r\nPingRetry=1\r\nUdpAnsTimerInteval=10\r\n"
                          "UdpAnsTimeOut=100\r\nLogMaxSize=3\r\nLogGenerations=10\r\n");
  window_.ReadSetting(ini);
  WriteFileBytes(dir_ / "steps.json", R"({"ostrel_test": 1, "steps": [
      {"name": "wake", "payload": {"hex": "AA 01"}, "expect": {"pattern": "AA 81"}},
      {"name": "read", "payload": {"hex": "CC 01"}, "expect": {"pattern": "CC 01"}, "on_fail": "next"},
      {"name": "silent", "payload": {"hex": "BB"}, "retries": 2}]})");
  ASSERT_TRUE(menu().OpenTestFile(dir_ / "steps.json"));
  menu().OpenTestWindow();
  TestWindow& w = *menu().frmTest();
  const auto text = [&w](int row, int col) {
    const QTableWidgetItem* item = w.tblSteps()->item(row, col);
    return item ? item->text().toStdString() : std::string();
  };
  ASSERT_EQ(w.tblSteps()->rowCount(), 3);
  EXPECT_EQ(text(1, 0), "2 read");
  EXPECT_TRUE(w.cmdRun()->isEnabled());
  EXPECT_FALSE(w.cmdStop()->isEnabled());

  bool excluded = false;  // while the run goes on
  QTimer::singleShot(20, [&] {
    excluded =
        !window_.cmdSendData()->isEnabled() && !w.cmdRun()->isEnabled() && w.cmdStop()->isEnabled();
  });
  const std::size_t log_before = Log().size();
  w.cmdRun()->click();
  EXPECT_TRUE(excluded) << "送信 and 実行 are off during a run, 停止 on";
  EXPECT_EQ(text(0, 1), "一致");
  EXPECT_EQ(text(1, 1), "不一致");
  EXPECT_EQ(text(2, 1), "応答なし");
  EXPECT_EQ(text(2, 3), "2") << "the step's own retries";
  EXPECT_NE(text(0, 2), "");
  EXPECT_EQ(text(2, 2), "") << "no answer, no round-trip time";
  EXPECT_EQ(GridRow(*window_.fgrdSendData(), 1)[0], "BB") << "the last step's payload";
  EXPECT_TRUE(window_.cmdSendData()->isEnabled());
  EXPECT_TRUE(w.cmdRun()->isEnabled());
  std::vector<std::string> log = Log();
  log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(log_before));
  EXPECT_EQ(std::count(log.begin(), log.end(), "接続先:127.0.0.1 Ping OK"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "判定:不一致(0001)"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "リトライ開始(1)(送信時)"), 1);

  // 停止 during the first step: it ends with its verdict, the second does not run.
  WriteFileBytes(dir_ / "stop.json", R"({"ostrel_test": 1, "steps": [
      {"name": "silent", "payload": {"hex": "BB"}, "timeout_ms": 300, "on_fail": "next"},
      {"name": "wake", "payload": {"hex": "AA 01"}}]})");
  ASSERT_TRUE(menu().OpenTestFile(dir_ / "stop.json"));
  QTimer::singleShot(100, w.cmdStop(), &QPushButton::click);
  w.cmdRun()->click();
  EXPECT_EQ(text(0, 1), "応答なし");
  EXPECT_EQ(text(1, 1), "") << "not run after 停止";
  EXPECT_FALSE(w.cmdStop()->isEnabled());

  // Periodic sending and a run exclude each other.
  window_.cmdSendData()->click();  // one cycle, then periodic sending
  ASSERT_TRUE(window_.tmrSend()->Enabled());
  EXPECT_FALSE(w.cmdRun()->isEnabled());
  window_.cmdSendData()->click();  // 送信停止
  EXPECT_TRUE(w.cmdRun()->isEnabled());

  // Saved with its steps; 解除 clears them.
  EXPECT_TRUE(menu().SaveTestFile(dir_ / "stop.json"));
  EXPECT_EQ(ReadTestFile(dir_ / "stop.json").test->steps.size(), 2u);
  w.cmdClear()->click();
  EXPECT_TRUE(menu().session().Steps().empty());
  EXPECT_FALSE(w.tblSteps()->isVisible());
}

}  // namespace
}  // namespace ostrel
