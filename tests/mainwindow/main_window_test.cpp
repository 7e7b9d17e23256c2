#include "mainwindow/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QApplication>

#include "common/timer.h"
#include "logging/operation_log.h"
#include "ui/ctrl_led.h"
#include "ui/ui_support.h"
#include "senddata/flex_grid.h"
#include "settings/com_setting_dialog.h"
#include "statistics/statistics_window.h"
#include "startup/working_folders.h"
#include "support/fake_message_box.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

using test::FakeMessageBoxes;
using test::LogMessages;
using test::TempDir;
using test::WriteFileBytes;

constexpr const char* kNoDateTime = "--/--/-- --:--:--";

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    intToolKind = 2;
    InitLog(dir_.str());
  }
  void TearDown() override { SetCurrentClock(nullptr); }
  std::vector<std::string> Log() { return LogMessages(strLogFile[2]); }

  TempDir dir_;
  FakeMessageBoxes boxes_;
  MainWindow window_;
};

TEST_F(MainWindowTest, LoadStepLabelsGridsStartsTheClockAndTurnsIndicatorsOff) {
  EXPECT_FALSE(window_.Loaded());
  CtrlLed(*window_.shpSendLed(), kLedRed);
  window_.EnsureLoaded();
  EXPECT_EQ(window_.windowTitle(), "Ostrel");
  for (FlexGrid* grid : {window_.fgrdSendData(), window_.fgrdRecvData()}) {
    EXPECT_EQ(grid->Rows(), 2);
    EXPECT_EQ(grid->Cols(), 17);
    EXPECT_EQ(grid->TextMatrix(0, 1), "00");
    EXPECT_EQ(grid->TextMatrix(0, 11), "0A");
    EXPECT_EQ(grid->TextMatrix(0, 16), "0F");
    EXPECT_EQ(grid->TextMatrix(1, 0), "0000");
    EXPECT_EQ(grid->TextMatrix(1, 1), "");
    EXPECT_TRUE(grid->CellCenteredAt(0, 5));
    EXPECT_TRUE(grid->CellCenteredAt(1, 0));
  }
  EXPECT_TRUE(window_.tmrNowDateTime()->Enabled());
  EXPECT_EQ(window_.tmrNowDateTime()->Interval(), 500);
  EXPECT_FALSE(window_.tmrSend()->Enabled());
  EXPECT_FALSE(window_.tmrRcvAns()->Enabled());
  EXPECT_EQ(window_.shpSendLed()->BackColor(), 0u);
  EXPECT_EQ(window_.shpRecvLed()->BackColor(), 0u);
}

TEST_F(MainWindowTest, ClockShowsTheTimeAfterItsFirstTickAndTheLastTimesStayEmpty) {
  FixedClock clock({2024, 5, 6, 13, 7, 9, 400});
  SetCurrentClock(&clock);
  window_.EnsureLoaded();
  EXPECT_EQ(window_.lblNowDateTimeForSendData()->text(), kNoDateTime);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return window_.lblNowDateTimeForSendData()->text() != kNoDateTime; }, 3000));
  EXPECT_EQ(window_.lblNowDateTimeForSendData()->text(), "24/05/06 13:07:09");
  EXPECT_EQ(window_.lblNowDateTimeForRecvData()->text(), "24/05/06 13:07:09");
  EXPECT_EQ(window_.lblLastSentDateTimeData()->text(), kNoDateTime);
  EXPECT_EQ(window_.lblLastRecvDateTimeData()->text(), kNoDateTime);
}

TEST_F(MainWindowTest, ControlsStandAtTheirPlacesWithTheirCaptions) {
  window_.show();
  EXPECT_EQ(window_.centralWidget()->size(), QSize(657, 678));
  EXPECT_EQ(window_.centralWidget()->y(), window_.menuBar()->height()) << "client area below the menu bar";
  EXPECT_EQ(window_.size(), QSize(657, 678 + window_.menuBar()->height()));
  EXPECT_EQ(window_.drvInDataFile()->geometry(), TwipsRect(2040, 120, 2535, 300));
  EXPECT_EQ(window_.DirInDataFile()->geometry(), TwipsRect(2040, 480, 2535, 1350));
  EXPECT_EQ(window_.FileInDataFile()->geometry(), TwipsRect(4680, 120, 2295, 1710));
  EXPECT_EQ(window_.txtInFileName()->geometry(), TwipsRect(2040, 1920, 4935, 375));
  EXPECT_EQ(window_.cmdRead()->geometry(), TwipsRect(7320, 1920, 1695, 375));
  EXPECT_EQ(window_.cmdSendData()->geometry(), TwipsRect(7320, 2520, 1695, 375));
  EXPECT_EQ(window_.fgrdSendData()->geometry(), TwipsRect(720, 3120, 8775, 2415));
  EXPECT_EQ(window_.fgrdRecvData()->geometry(), TwipsRect(720, 6360, 8775, 2415));
  EXPECT_EQ(window_.shpSendLed()->geometry(), TwipsRect(2520, 2520, 375, 255));
  EXPECT_EQ(window_.shpRecvLed()->geometry(), TwipsRect(2520, 5880, 375, 255));
  EXPECT_EQ(window_.cmdEnd()->geometry(), TwipsRect(4200, 9000, 1695, 495));
  EXPECT_EQ(window_.sbStatusBar()->geometry(), TwipsRect(0, 9915, 9855, 255));
  EXPECT_EQ(window_.cmdRead()->text(), "入力");
  EXPECT_EQ(window_.cmdSendData()->text(), "送信");
  EXPECT_EQ(window_.cmdEnd()->text(), "終了");
  EXPECT_TRUE(window_.txtInFileName()->text().isEmpty());
  EXPECT_EQ(window_.ComSetting()->text(), "通信");
  const auto menus = window_.menuBar()->actions();
  ASSERT_EQ(menus.size(), 1);
  EXPECT_EQ(menus.front()->text(), "設定");
  // The lists start at the process's current folder.
  EXPECT_GT(window_.drvInDataFile()->count(), 0);
  EXPECT_EQ(window_.drvInDataFile()->itemText(0), "/");
}

TEST_F(MainWindowTest, TabWalksTheListsTheFileNameBoxAndTheThreeButtons) {
  const QList<QWidget*> expected = {window_.drvInDataFile(), window_.DirInDataFile(),
                                    window_.FileInDataFile(), window_.txtInFileName(),
                                    window_.cmdRead(), window_.cmdSendData(), window_.cmdEnd()};
  QList<QWidget*> chain;
  QWidget* w = window_.drvInDataFile();
  for (int i = 0; i < 40 && chain.size() < expected.size(); ++i) {
    if (w->focusPolicy() & Qt::TabFocus) chain.push_back(w);
    w = w->nextInFocusChain();
  }
  EXPECT_EQ(chain, expected);
  EXPECT_FALSE(window_.fgrdSendData()->focusPolicy() & Qt::TabFocus);
}

TEST_F(MainWindowTest, ExitQuestionCancelKeepsRunningOkEndsTheProgram) {
  window_.show();
  QSignalSpy ended(&window_, &MainWindow::ExitConfirmed);
  boxes_.answer = MsgResult::Cancel;
  window_.cmdEnd()->click();
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, "Ostrelを終了してもよろしいですか？");
  EXPECT_EQ(boxes_.shown[0].icon, MsgIcon::Question);
  EXPECT_EQ(boxes_.shown[0].buttons, MsgButtons::OkCancel);
  EXPECT_EQ(ended.count(), 0);
  EXPECT_TRUE(window_.isVisible());
  EXPECT_TRUE(window_.tmrNowDateTime()->Enabled());

  boxes_.answer = MsgResult::Ok;
  window_.cmdEnd()->click();
  EXPECT_EQ(ended.count(), 1);
  EXPECT_FALSE(window_.isVisible());
  EXPECT_FALSE(window_.tmrNowDateTime()->Enabled());
  EXPECT_TRUE(Log().empty()) << "ending writes nothing";
}

TEST_F(MainWindowTest, TitleBarCloseAsksTheSameQuestion) {
  window_.show();
  QSignalSpy ended(&window_, &MainWindow::ExitConfirmed);
  boxes_.answer = MsgResult::Cancel;
  EXPECT_FALSE(window_.close());
  EXPECT_TRUE(window_.isVisible());
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Ostrelを終了してもよろしいですか？"});
  boxes_.answer = MsgResult::Ok;
  window_.close();
  EXPECT_EQ(ended.count(), 1);
  EXPECT_FALSE(window_.isVisible());
}

TEST_F(MainWindowTest, MenuOpensTheSettingsDialogModally) {
  WriteFileBytes(dir_ / "s.ini",
                 "[IPAddress]\r\nIPAddress=127.0.0.1\r\n[Port]\r\nUdpSrcPort=1\r\nUdpDestPort=2\r\n"
                 "[Maintenance]\r\nSendinterval=5\r\nSendIntervalUnit=1\r\n");
  strSettingFile[2] = dir_ / "s.ini";
  window_.show();
  QString title;
  bool modal = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<ComSettingDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    modal = dialog->isModal();
    dialog->cmdCancel()->click();
  });
  window_.ComSetting()->trigger();  // returns once the dialog is closed
  EXPECT_EQ(title, "通信設定");
  EXPECT_TRUE(modal);
  EXPECT_TRUE(window_.isVisible());
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(MainWindowTest, LoadButtonChecksTheNameThenFillsTheSendGrid) {
  window_.EnsureLoaded();
  QTest::keyClick(window_.cmdRead(), Qt::Key_Return);  // Enter presses a focused button
  window_.txtInFileName()->setText(QString::fromStdString(dir_ / "missing.bin"));
  QTest::keyClick(window_.txtInFileName(), Qt::Key_Return);  // and nothing in the box
  window_.cmdRead()->click();
  ASSERT_EQ(boxes_.shown.size(), 2u);
  EXPECT_EQ(boxes_.shown[0].text, "入力ファイルを指定してください。");
  EXPECT_EQ(boxes_.shown[0].icon, MsgIcon::Information);
  EXPECT_EQ(boxes_.shown[1].text, "ファイルがありません。");
  EXPECT_EQ(boxes_.shown[1].icon, MsgIcon::Critical);

  WriteFileBytes(dir_ / "data.bin", std::string("\x00\x0A\xFF", 3));
  window_.txtInFileName()->setText(QString::fromStdString(dir_ / "data.bin"));
  window_.cmdRead()->click();
  EXPECT_EQ(boxes_.shown.size(), 2u);
  FlexGrid& grid = *window_.fgrdSendData();
  EXPECT_EQ(grid.TextMatrix(1, 1), "00");
  EXPECT_EQ(grid.TextMatrix(1, 2), "0A");
  EXPECT_EQ(grid.TextMatrix(1, 3), "FF");
  EXPECT_EQ(grid.TextMatrix(1, 4), "");
  EXPECT_TRUE(grid.Redraw());
}

TEST_F(MainWindowTest, DoubleClickOnASendGridCellOpensTheByteEditorOnIt) {
  WriteFileBytes(dir_ / "data.bin", std::string("\x00\x0A\xFF", 3));
  window_.txtInFileName()->setText(QString::fromStdString(dir_ / "data.bin"));
  window_.show();
  window_.cmdRead()->click();
  FlexGrid& grid = *window_.fgrdSendData();
  const QRect cell = grid.visualRect(grid.model()->index(0, 1));
  QString title;
  QTimer::singleShot(0, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    dialog->hide();
  });
  QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(title, "データ設定");
  EXPECT_EQ(grid.Row(), 1);
  EXPECT_EQ(grid.Col(), 2);
  EXPECT_NE(window_.frmInputData(), nullptr);
}

TEST_F(MainWindowTest, ReadSettingStoresTheAnswerTimerIntervalAndLoadsTheWindow) {
  WriteFileBytes(dir_ / "s.ini",
                 "[Maintenance]\r\nCommonSendRetry=3\r\nPingRetry=2\r\nUdpAnsTimerInteval=250\r\n"
                 "UdpAnsTimeOut=1000\r\nLogMaxSize=1\r\nLogGenerations=3\r\n");
  window_.ReadSetting(dir_ / "s.ini");
  EXPECT_TRUE(window_.Loaded());
  EXPECT_EQ(window_.tmrRcvAns()->Interval(), 250);
  EXPECT_EQ(window_.Settings().intPingRetry, 2);
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(MainWindowTest, ReadSettingRefusedTimerIntervalShowsTheCriticalFailure) {
  WriteFileBytes(dir_ / "s.ini",
                 "[Maintenance]\r\nCommonSendRetry=3\r\nPingRetry=2\r\nUdpAnsTimerInteval=70000\r\n");
  window_.ReadSetting(dir_ / "s.ini");
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, "設定ファイルの読み込みに失敗しました。");
  EXPECT_EQ(boxes_.shown[0].icon, MsgIcon::Critical);
  EXPECT_EQ(Log(), std::vector<std::string>{"プロパティの値が無効です。(ReadSetting)"});
  EXPECT_EQ(window_.tmrRcvAns()->Interval(), 0);
}

TEST_F(MainWindowTest, StatisticsMenuOpensOneModelessWindowThatCountsFromTheStart) {
  MainWindow& main_window = window_;
  main_window.EnableStatistics();
  main_window.EnableStatistics();
  const auto menus = main_window.menuBar()->actions();
  ASSERT_EQ(menus.size(), 2);
  EXPECT_EQ(menus[0]->text(), "設定");
  EXPECT_EQ(menus[1]->text(), "表示");
  ASSERT_EQ(menus[1]->menu()->actions().size(), 1);
  EXPECT_EQ(menus[1]->menu()->actions()[0], main_window.Statistics());
  EXPECT_EQ(main_window.Statistics()->text(), "統計");

  // Counted before the window was ever opened: an empty datagram answers nothing.
  main_window.sendCycle()->wscSend_DataArrival(0);
  EXPECT_EQ(main_window.frmStatistics(), nullptr);
  main_window.Statistics()->trigger();
  StatisticsWindow* window = main_window.frmStatistics();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "統計");
  EXPECT_EQ(window->windowModality(), Qt::NonModal);
  EXPECT_EQ(window->FigureValue("Unsolicited")->text(), "1");
  EXPECT_EQ(window->FigureValue("Transmissions")->text(), "0");
  EXPECT_EQ(window->FigureValue("AnswerRatio")->text(), "--");
  EXPECT_EQ(window->FigureValue("Rtt95")->text(), "--");
  window->close();
  main_window.Statistics()->trigger();
  EXPECT_EQ(main_window.frmStatistics(), window) << "one instance";
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(main_window.isEnabled()) << "the main window stays usable";
}

}  // namespace
}  // namespace ostrel
