#pragma once
// The main window: the hub that owns the loaded settings, the two byte grids, the socket
// and the three timers, and wires the controls to the subsystems.
//
// The road of one datagram:
//
//   file lists / drop ──► txtInFileName ──"入力"──► send-data file ──► fgrdSendData
//                                                        (senddata: fill rule)
//   "送信" / tmrSend ──► send cycle: reachability check (ICMP) ──► socket set-up
//        ──► fgrdSendData read back ──► wscSend.SendData ──► wait on tmrRcvAns ticks
//   wscSend.DataArrival ──► answer flag, fgrdRecvData, receive indicator
//   every step ──► WriteLog (Log/Kiv_UdpSndLog.txt), rotated on every tmrSend tick
//
// The window's load step (caption, grid headers, clock, indicators off, centring) runs
// the first time the window is used: when the settings load stores the answer timer's
// interval, and at the latest when the window is shown.

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>

#include "fields/field_definition.h"
#include "pacing/frame_pacer.h"
#include "settings/read_setting.h"
#include "transmission/observer_fan_out.h"
#include "transmission/send_cycle.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStatusBar;
class QAction;

namespace ostrel {

class FlexGrid;
class LedShape;
class ByteEditorDialog;
class CaptureMenu;
class InputFileSelection;
class PingCheck;
class SendFields;
class SocketControl;
class StatisticsWindow;
class StepRunner;
class TestMenu;
class Timer;
class TransmissionStatistics;

class MainWindow : public QMainWindow, private ReadSettingHost, private SendCycleView {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // Loads the settings file into this window's settings (see settings/read_setting.h).
  void ReadSetting(const std::string& strIniFile);
  const MainSettings& Settings() const { return settings_; }

  // Counts every send cycle from now on for the statistics window, and adds the menu
  // "表示" beside "設定" with its item "統計", which opens that window. The program's
  // start-up calls it once; later calls do nothing.
  void EnableStatistics();

  // Adds the menu "試験" (test files, the test window "期待応答") and judges the send
  // cycles while an expected answer is set; the verdicts count in the statistics too.
  // The program's start-up calls it once; later calls do nothing.
  void EnableTests();
  // Adds "キャプチャ開始…" and "キャプチャ停止" to the menu "試験" (made first where it is
  // missing): every datagram sent and received goes into a capture file while a capture
  // runs, and the titles say so. The program's start-up calls it once; later calls do
  // nothing.
  void EnableCapture();
  // The computed fields written into the send grid before every transmission from now on
  // (a test file's "fields"); none: the grid is sent as it is, as without a test file.
  void SetSendFields(const std::vector<FieldDefinition>& fields);
  // The send grid's data bytes, without the bytes the send fields appended (raises when a
  // cell cannot be read).
  std::size_t SendDataLength();

  // Runs the load step once; later calls do nothing.
  void EnsureLoaded();
  bool Loaded() const { return loaded_; }

  // Controls, for the window tests and the subsystems wired here.
  QComboBox* drvInDataFile() const { return drvInDataFile_; }
  QListWidget* DirInDataFile() const { return DirInDataFile_; }
  QListWidget* FileInDataFile() const { return FileInDataFile_; }
  QLineEdit* txtInFileName() const { return txtInFileName_; }
  QPushButton* cmdRead() const { return cmdRead_; }
  QPushButton* cmdSendData() const { return cmdSendData_; }
  QPushButton* cmdEnd() const { return cmdEnd_; }
  QLabel* lblNowDateTimeForSendData() const { return lblNowDateTimeForSendData_; }
  QLabel* lblNowDateTimeForRecvData() const { return lblNowDateTimeForRecvData_; }
  QLabel* lblLastSentDateTimeData() const { return lblLastSentDateTimeData_; }
  QLabel* lblLastRecvDateTimeData() const { return lblLastRecvDateTimeData_; }
  LedShape* shpSendLed() const { return shpSendLed_; }
  LedShape* shpRecvLed() const { return shpRecvLed_; }
  FlexGrid* fgrdSendData() const { return fgrdSendData_; }
  FlexGrid* fgrdRecvData() const { return fgrdRecvData_; }
  QStatusBar* sbStatusBar() const { return sbStatusBar_; }
  QAction* ComSetting() const { return ComSetting_; }
  QAction* Statistics() const { return Statistics_; }  // null until EnableStatistics
  TransmissionStatistics* transmissionStatistics() const { return statistics_.get(); }
  StatisticsWindow* frmStatistics() const { return frmStatistics_; }  // made when first opened
  TestMenu* testMenu() const { return testMenu_.get(); }  // null until EnableTests
  CaptureMenu* captureMenu() const { return captureMenu_.get(); }  // null until EnableCapture
  SendFields* sendFields() const { return sendFields_.get(); }  // null without send fields
  SocketControl* wscSend() const { return wscSend_; }
  Timer* tmrNowDateTime() const { return tmrNowDateTime_; }
  Timer* tmrSend() const { return tmrSend_; }
  Timer* tmrRcvAns() const { return tmrRcvAns_; }
  SendCycle* sendCycle() const { return cycle_; }
  ByteEditorDialog* frmInputData() const { return frmInputData_; }
  InputFileSelection* inputFiles() const { return inputFiles_; }

 signals:
  // The operator confirmed the exit question: timers are stopped, the socket is closed
  // and the window is hidden. Whoever runs the program ends it on this signal.
  void ExitConfirmed();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // ReadSettingHost
  void ShowCriticalMessage(const std::string& text) override;
  void SetAnswerTimerInterval(int32_t milliseconds) override;

  // SendCycleView
  bool SendGridRedraw() const override;
  std::vector<uint8_t> ReadSendGrid() override;
  void ShowAnswer(const std::vector<uint8_t>& bytes) override;
  void SetSendLed(int16_t state) override;
  void SetRecvLed(int16_t state) override;
  void SetLastSentDateTime(const std::string& text) override;
  void SetLastRecvDateTime(const std::string& text) override;
  std::string SendButtonCaption() const override;
  void SetSendButtonCaption(const std::string& caption) override;

  void BuildTransmission();
  void cmdRead_Click();
  void fgrdSendData_DblClick();

  void BuildControls();
  void BuildInputFileArea(QWidget* client);
  void BuildStatusBar(QWidget* client);
  void Form_Load();
  void tmrNowDateTime_Timer();
  void cmdEnd_Click();
  void ComSetting_Click();
  void Statistics_Click();
  // One run of the open test file's steps (the test window's "実行"); the send button is
  // off while it runs, and it does not start while periodic sending runs.
  void RunSteps();
  // Tells the test window whether a run is under way and whether one may start.
  void UpdateRunState();
  // Lets the statistics count the verdicts, once both exist.
  void CountVerdicts();
  void SetTitleSuffix(const QString& suffix);
  // Asks the exit question; true when the operator answered OK.
  bool ConfirmExit();
  void EndProgram();

  MainSettings settings_;
  bool loaded_ = false;
  bool ending_ = false;

  QComboBox* drvInDataFile_ = nullptr;
  QListWidget* DirInDataFile_ = nullptr;
  QListWidget* FileInDataFile_ = nullptr;
  QLabel* lblInFile_ = nullptr;
  QLineEdit* txtInFileName_ = nullptr;
  QPushButton* cmdRead_ = nullptr;
  QLabel* lblSendData_ = nullptr;
  LedShape* shpSendLed_ = nullptr;
  QLabel* lblNowDateTimeForSend_ = nullptr;
  QLabel* lblNowDateTimeForSendData_ = nullptr;
  QLabel* lblLastSentDateTime_ = nullptr;
  QLabel* lblLastSentDateTimeData_ = nullptr;
  QPushButton* cmdSendData_ = nullptr;
  FlexGrid* fgrdSendData_ = nullptr;
  QLabel* lblRcvData_ = nullptr;
  LedShape* shpRecvLed_ = nullptr;
  QLabel* lblNowDateTimeForRecv_ = nullptr;
  QLabel* lblNowDateTimeForRecvData_ = nullptr;
  QLabel* lblLastRecvDateTime_ = nullptr;
  QLabel* lblLastRecvDateTimeData_ = nullptr;
  FlexGrid* fgrdRecvData_ = nullptr;
  QPushButton* cmdEnd_ = nullptr;
  QStatusBar* sbStatusBar_ = nullptr;
  QAction* ComSetting_ = nullptr;
  SocketControl* wscSend_ = nullptr;
  Timer* tmrNowDateTime_ = nullptr;
  Timer* tmrSend_ = nullptr;
  Timer* tmrRcvAns_ = nullptr;
  PingCheck* ping_ = nullptr;
  std::function<void(bool)> ping_done_;
  SendCycle* cycle_ = nullptr;
  std::unique_ptr<SendFields> sendFields_;    // only while a test file with fields is open
  ByteEditorDialog* frmInputData_ = nullptr;  // loaded on the first double click
  InputFileSelection* inputFiles_ = nullptr;
  // Everything that watches the send cycles (the statistics, …).
  ObserverFanOut observers_;
  std::unique_ptr<TransmissionStatistics> statistics_;
  QAction* Statistics_ = nullptr;
  StatisticsWindow* frmStatistics_ = nullptr;
  // Expected answers; after the statistics, which its verdicts are counted in.
  std::unique_ptr<TestMenu> testMenu_;
  // Capture files; after the test menu, whose expectation gives its answers' verdicts.
  std::unique_ptr<CaptureMenu> captureMenu_;
  QString titleSuffix_;  // what follows "Ostrel" in the title
  StepRunner* runner_ = nullptr;  // while a run of steps is under way
  // The receive side shows at most once per frame each; in between only the newest values
  // are kept.
  std::vector<uint8_t> recvAnswer_;
  int16_t recvLed_ = 0;
  std::string lastRecvText_;
  FramePacer answerPacer_;
  FramePacer recvLedPacer_;
  FramePacer lastRecvPacer_;
};

}  // namespace ostrel
