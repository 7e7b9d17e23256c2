#include "main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTime>
#include <QTimer>

#include "capturemenu/capture_menu.h"
#include "common/display_text.h"
#include "common/timer.h"
#include "logging/error_handler.h"
#include "senddata/byte_editor_dialog.h"
#include "senddata/byte_grid.h"
#include "senddata/flex_grid.h"
#include "senddata/input_file_selection.h"
#include "senddata/send_data_file.h"
#include "sendfields/grid_fields.h"
#include "settings/com_setting_dialog.h"
#include "startup/working_folders.h"
#include "statistics/statistics.h"
#include "statistics/statistics_window.h"
#include "steps/step_runner.h"
#include "testwindow/test_menu.h"
#include "testwindow/test_session.h"
#include "transmission/ping_check.h"
#include "transmission/socket_control.h"
#include "ui/ctrl_led.h"
#include "ui/ui_support.h"
#include "verification/answer_judge.h"

namespace ostrel {
namespace {

constexpr int kClientWidth = 9855;  // twips
constexpr int kClientHeight = 10170;
constexpr int kClockInterval = 500;  // ms
constexpr const char* kNoDateTime = "--/--/-- --:--:--";
constexpr const char* kExitQuestion = "Ostrelを終了してもよろしいですか？";

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

QLabel* MakeLabel(QWidget* parent, const char* caption, QRect twips_rect) {
  auto* label = new QLabel(Q(caption), parent);
  label->setGeometry(twips_rect);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* caption, QRect twips_rect) {
  auto* button = new QPushButton(Q(caption), parent);
  button->setGeometry(twips_rect);
  button->setAutoDefault(false);
  PressOnEnter(button);
  return button;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
      answerPacer_([this] {
        fgrdRecvData_->SetRedraw(false);
        SetGridFromByteArray(*fgrdRecvData_, recvAnswer_);
        fgrdRecvData_->SetRedraw(true);
      }),
      recvLedPacer_([this] { CtrlLed(*shpRecvLed_, recvLed_); }),
      lastRecvPacer_([this] { lblLastRecvDateTimeData_->setText(QString::fromStdString(lastRecvText_)); }) {
  setWindowTitle(QStringLiteral("Ostrel"));
  setFont(ProportionalFont(9));
  BuildControls();
}

MainWindow::~MainWindow() {
  // The statistics go before the children that use them.
  cycle_->SetObserver(nullptr);
  cycle_->SetPayloadFiller(nullptr);
  delete frmStatistics_;
  captureMenu_.reset();
  testMenu_.reset();
}

void MainWindow::EnableStatistics() {
  if (statistics_) return;
  statistics_ = std::make_unique<TransmissionStatistics>();
  observers_.Add(statistics_.get());
  auto* view = menuBar()->addMenu(Q("表示"));
  Statistics_ = view->addAction(Q("統計"));
  CountVerdicts();
  connect(Statistics_, &QAction::triggered, this, &MainWindow::Statistics_Click);
}

void MainWindow::EnableTests() {
  if (testMenu_) return;
  testMenu_ = std::make_unique<TestMenu>(*menuBar(), *fgrdSendData_, *fgrdRecvData_, observers_, *this);
  testMenu_->SetSendFieldsSink([this](const std::vector<FieldDefinition>& fields) { SetSendFields(fields); });
  testMenu_->SetSendDataLength([this] { return SendDataLength(); });
  testMenu_->session().SetRunControls([this] { RunSteps(); },
                                      [this] {
                                        if (runner_) runner_->Stop();
                                      });
  // Periodic sending and a run of steps exclude each other.
  connect(cmdSendData_, &QPushButton::clicked, this, &MainWindow::UpdateRunState);
  connect(tmrSend_, &Timer::Tick, this, &MainWindow::UpdateRunState);
  connect(tmrNowDateTime_, &Timer::Tick, this, &MainWindow::UpdateRunState);  // any other way
  CountVerdicts();
}

void MainWindow::UpdateRunState() {
  if (!testMenu_) return;
  testMenu_->session().SetRunState(runner_ != nullptr,
                                   !tmrSend_->Enabled() && !cycle_->CycleRunning());
}

void MainWindow::RunSteps() {
  if (runner_ || ending_ || tmrSend_->Enabled() || cycle_->CycleRunning()) return;
  RunHandled("cmdRun_Click", [&] {
    TestSession& session = testMenu_->session();
    CycleRecorder recorder;
    observers_.Add(&recorder);
    StepRunner runner(
        *cycle_, session.Judge(), session.Steps(), session.StepPayloads(),
        [this] {
          std::vector<uint8_t> bytes;
          ReadBytesFromGrid(bytes, *fgrdSendData_);
          return bytes;
        },
        [this](const std::vector<uint8_t>& bytes) { FillGridFromBytes(*fgrdSendData_, bytes); });
    runner_ = &runner;
    cmdSendData_->setEnabled(false);
    UpdateRunState();
    // However the run ends, the window sends as before it (unless the program is ending).
    const auto finish = [&] {
      runner_ = nullptr;
      observers_.Remove(&recorder);
      if (ending_) return;
      cycle_->SetPayloadFiller(sendFields_.get());
      cmdSendData_->setEnabled(true);
      UpdateRunState();
    };
    try {
      runner.Run(session.Repeat(), [&](const StepResult& result) {
        CycleRecord record = recorder.TakeEnded().value_or(CycleRecord{});
        record.judgement = result.judgement;
        session.SetStepResult(result.step, record);
      });
    } catch (...) {
      finish();
      throw;
    }
    finish();
  });
}

void MainWindow::EnableCapture() {
  if (captureMenu_) return;
  EnableTests();
  captureMenu_ = std::make_unique<CaptureMenu>(
      *testMenu_->menu(), observers_, *this, [this] { return int{settings_.intCommonSendRetry}; });
  captureMenu_->control().SetAnswerNote([this](const AnswerReport& answer) {
    return AnswerVerdictLine(testMenu_->session().CurrentExpectation(), answer);
  });
  captureMenu_->SetTitleListener([this](const QString& suffix) { SetTitleSuffix(suffix); });
}

void MainWindow::SetTitleSuffix(const QString& suffix) {
  titleSuffix_ = suffix;
  setWindowTitle(QStringLiteral("Ostrel") + suffix);
  testMenu_->SetTitleSuffix(suffix);
}

void MainWindow::CountVerdicts() {
  if (!statistics_ || !testMenu_) return;
  testMenu_->session().SetVerdictSink([this](Verdict v) { statistics_->AddVerdict(v); });
}

void MainWindow::Statistics_Click() {
  RunHandled("Statistics_Click", [&] {
    if (!frmStatistics_) frmStatistics_ = new StatisticsWindow(*statistics_, this);
    frmStatistics_->Open();
  });
}

void MainWindow::BuildControls() {
  auto* admin = menuBar()->addMenu(Q("設定"));
  ComSetting_ = admin->addAction(Q("通信"));
  connect(ComSetting_, &QAction::triggered, this, &MainWindow::ComSetting_Click);

  auto* client = new QWidget(this);
  client->setFixedSize(Px(kClientWidth), Px(kClientHeight));
  setCentralWidget(client);
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  BuildInputFileArea(client);

  const QFont caption_font = ProportionalFont(15.75, true);
  lblSendData_ = MakeLabel(client, "送信データ", TwipsRect(720, 2520, 1575, 375));
  lblSendData_->setFont(caption_font);
  shpSendLed_ = new LedShape(client);
  shpSendLed_->setGeometry(TwipsRect(2520, 2520, 375, 255));
  lblNowDateTimeForSend_ = MakeLabel(client, "現在時刻：", TwipsRect(3120, 2520, 975, 375));
  lblNowDateTimeForSendData_ = MakeLabel(client, kNoDateTime, TwipsRect(4080, 2520, 1575, 255));
  lblLastSentDateTime_ = MakeLabel(client, "送信時刻：", TwipsRect(3120, 2760, 975, 375));
  lblLastSentDateTimeData_ = MakeLabel(client, kNoDateTime, TwipsRect(4080, 2760, 1575, 255));
  cmdSendData_ = MakeButton(client, "送信", TwipsRect(7320, 2520, 1695, 375));
  fgrdSendData_ = new FlexGrid(17, client);
  fgrdSendData_->setGeometry(TwipsRect(720, 3120, 8775, 2415));
  connect(fgrdSendData_, &FlexGrid::DblClick, this, &MainWindow::fgrdSendData_DblClick);

  lblRcvData_ = MakeLabel(client, "受信データ", TwipsRect(720, 5880, 1575, 375));
  lblRcvData_->setFont(caption_font);
  shpRecvLed_ = new LedShape(client);
  shpRecvLed_->setGeometry(TwipsRect(2520, 5880, 375, 255));
  lblNowDateTimeForRecv_ = MakeLabel(client, "現在時刻：", TwipsRect(3120, 5760, 975, 375));
  lblNowDateTimeForRecvData_ = MakeLabel(client, kNoDateTime, TwipsRect(4080, 5760, 1575, 255));
  lblLastRecvDateTime_ = MakeLabel(client, "受信時刻：", TwipsRect(3120, 6120, 975, 375));
  lblLastRecvDateTimeData_ = MakeLabel(client, kNoDateTime, TwipsRect(4080, 6120, 1575, 255));
  fgrdRecvData_ = new FlexGrid(17, client);
  fgrdRecvData_->setGeometry(TwipsRect(720, 6360, 8775, 2415));

  cmdEnd_ = MakeButton(client, "終了", TwipsRect(4200, 9000, 1695, 495));
  connect(cmdEnd_, &QPushButton::clicked, this, &MainWindow::cmdEnd_Click);
  BuildStatusBar(client);

  // The grids take focus by click only: the tab key walks the lists, the file-name box
  // and the three buttons.
  fgrdSendData_->setFocusPolicy(Qt::ClickFocus);
  fgrdRecvData_->setFocusPolicy(Qt::ClickFocus);
  setTabOrder(drvInDataFile_, DirInDataFile_);
  setTabOrder(DirInDataFile_, FileInDataFile_);
  setTabOrder(FileInDataFile_, txtInFileName_);
  setTabOrder(txtInFileName_, cmdRead_);
  setTabOrder(cmdRead_, cmdSendData_);
  setTabOrder(cmdSendData_, cmdEnd_);

  wscSend_ = new SocketControl(this);
  tmrNowDateTime_ = new Timer(this);
  tmrNowDateTime_->SetInterval(kClockInterval);
  connect(tmrNowDateTime_, &Timer::Tick, this, &MainWindow::tmrNowDateTime_Timer);
  tmrSend_ = new Timer(this);
  tmrRcvAns_ = new Timer(this);
  BuildTransmission();
}

void MainWindow::BuildTransmission() {
  ping_ = new PingCheck(this);
  connect(ping_, &PingCheck::Finished, this, [this](bool reachable) {
    if (auto done = std::move(ping_done_)) done(reachable);
  });
  auto start_ping = [this](const std::string& host, uint8_t tries, std::function<void(bool)> done) {
    ping_done_ = std::move(done);
    ping_->Start(host, tries);
  };
  cycle_ = new SendCycle(settings_, *wscSend_, *tmrSend_, *tmrRcvAns_, *this, start_ping, this);
  cycle_->SetObserver(&observers_);
  connect(cmdSendData_, &QPushButton::clicked, cycle_, &SendCycle::cmdSendData_Click);
  connect(tmrSend_, &Timer::Tick, cycle_, &SendCycle::tmrSend_Timer);
  connect(tmrRcvAns_, &Timer::Tick, cycle_, &SendCycle::tmrRcvAns_Timer);
  connect(wscSend_, &SocketControl::DataArrival, cycle_, &SendCycle::wscSend_DataArrival);
}

void MainWindow::SetSendFields(const std::vector<FieldDefinition>& fields) {
  std::unique_ptr<SendFields> next =
      fields.empty() ? nullptr : MakeGridFields(*fgrdSendData_, fields);
  // Bytes the fields appended are replaced by the new fields, not sent as data.
  if (next && sendFields_) next->TakeOverAppended(*sendFields_);
  cycle_->SetPayloadFiller(nullptr);
  sendFields_ = std::move(next);
  cycle_->SetPayloadFiller(sendFields_.get());
}

std::size_t MainWindow::SendDataLength() {
  std::vector<uint8_t> bytes;
  ReadBytesFromGrid(bytes, *fgrdSendData_);
  return sendFields_ ? sendFields_->DataLength(bytes) : bytes.size();
}

bool MainWindow::SendGridRedraw() const { return fgrdSendData_->Redraw(); }

std::vector<uint8_t> MainWindow::ReadSendGrid() {
  std::vector<uint8_t> bytes;
  SetByteArrayFromGrid(bytes, *fgrdSendData_);
  return bytes;
}

void MainWindow::ShowAnswer(const std::vector<uint8_t>& bytes) {
  recvAnswer_ = bytes;
  answerPacer_.Request();
}

void MainWindow::SetSendLed(int16_t state) { CtrlLed(*shpSendLed_, state); }

void MainWindow::SetRecvLed(int16_t state) {
  recvLed_ = state;
  recvLedPacer_.Request();
}

void MainWindow::SetLastSentDateTime(const std::string& text) {
  lblLastSentDateTimeData_->setText(QString::fromStdString(text));
}

void MainWindow::SetLastRecvDateTime(const std::string& text) {
  lastRecvText_ = text;
  lastRecvPacer_.Request();
}

std::string MainWindow::SendButtonCaption() const { return cmdSendData_->text().toStdString(); }

void MainWindow::SetSendButtonCaption(const std::string& caption) {
  cmdSendData_->setText(QString::fromStdString(caption));
}

void MainWindow::BuildInputFileArea(QWidget* client) {
  drvInDataFile_ = new QComboBox(client);
  drvInDataFile_->setGeometry(TwipsRect(2040, 120, 2535, 300));
  DirInDataFile_ = new QListWidget(client);
  DirInDataFile_->setGeometry(TwipsRect(2040, 480, 2535, 1350));
  FileInDataFile_ = new QListWidget(client);
  FileInDataFile_->setGeometry(TwipsRect(4680, 120, 2295, 1710));
  lblInFile_ = MakeLabel(client, "入力ファイル", TwipsRect(840, 2040, 1095, 375));
  txtInFileName_ = new QLineEdit(client);
  txtInFileName_->setGeometry(TwipsRect(2040, 1920, 4935, 375));
  cmdRead_ = MakeButton(client, "入力", TwipsRect(7320, 1920, 1695, 375));
  connect(cmdRead_, &QPushButton::clicked, this, &MainWindow::cmdRead_Click);

  // The lists follow each other and fill the box; they start at the current folder.
  inputFiles_ =
      new InputFileSelection(drvInDataFile_, DirInDataFile_, FileInDataFile_, txtInFileName_, this);
}

void MainWindow::BuildStatusBar(QWidget* client) {
  sbStatusBar_ = new QStatusBar(client);
  sbStatusBar_->setGeometry(TwipsRect(0, 9915, kClientWidth, 255));
  sbStatusBar_->setSizeGripEnabled(false);
  auto* text = new QLabel(sbStatusBar_);
  auto* date = new QLabel(sbStatusBar_);
  auto* time = new QLabel(sbStatusBar_);
  for (QLabel* panel : {text, date, time})
    panel->setFrameShape(QFrame::Panel), panel->setFrameShadow(QFrame::Sunken);
  sbStatusBar_->addWidget(text, 1);
  sbStatusBar_->addPermanentWidget(date);
  sbStatusBar_->addPermanentWidget(time);
  // The date and time panels keep themselves up to date; the program never writes them.
  auto refresh = [date, time] {
    date->setText(QDate::currentDate().toString(QStringLiteral("yyyy/MM/dd")));
    time->setText(QTime::currentTime().toString(QStringLiteral("H:mm")));
  };
  refresh();
  auto* ticker = new QTimer(sbStatusBar_);
  connect(ticker, &QTimer::timeout, sbStatusBar_, refresh);
  ticker->start(1000);
}

void MainWindow::EnsureLoaded() {
  if (loaded_) return;
  loaded_ = true;
  Form_Load();
}

void MainWindow::Form_Load() {
  RunHandled("Form_Load", [&] {
    setWindowTitle(QStringLiteral("Ostrel") + titleSuffix_);
    LabelGridHeaders(*fgrdSendData_);
    LabelGridHeaders(*fgrdRecvData_);
    tmrNowDateTime_->SetEnabled(true);
    CtrlLed(*shpSendLed_, kLedOff);
    CtrlLed(*shpRecvLed_, kLedOff);
    CenterForm(*this);
  });
}

void MainWindow::ReadSetting(const std::string& strIniFile) {
  ostrel::ReadSetting(strIniFile, settings_, *this);
}

void MainWindow::ShowCriticalMessage(const std::string& text) {
  ShowMessage(isVisible() ? this : nullptr, text, MsgIcon::Critical);
}

void MainWindow::SetAnswerTimerInterval(int32_t milliseconds) {
  EnsureLoaded();  // the answer timer is the first control the settings load touches
  tmrRcvAns_->SetInterval(milliseconds);
}

void MainWindow::tmrNowDateTime_Timer() {
  RunHandled("tmrNowDateTime_Timer", [&] {
    const QString now = QString::fromStdString(NowDateTimeText());
    lblNowDateTimeForSendData_->setText(now);
    lblNowDateTimeForRecvData_->setText(now);
  });
}

void MainWindow::cmdRead_Click() {
  RunHandled("cmdRead_Click", [&] {
    const std::string name = inputFiles_->FileNameToOpen();
    switch (CheckInputFileName(name)) {
      case InputFileCheck::kEmptyName:
        ShowMessage(this, kInputFileNameEmptyMessage, MsgIcon::Information);
        break;
      case InputFileCheck::kNoSuchFile:
        ShowMessage(this, kInputFileMissingMessage, MsgIcon::Critical);
        break;
      case InputFileCheck::kOk:
        LoadSendDataFile(*fgrdSendData_, name);
        break;
    }
  });
}

void MainWindow::fgrdSendData_DblClick() {
  if (!frmInputData_) frmInputData_ = new ByteEditorDialog(this);
  ostrel::fgrdSendData_DblClick(*frmInputData_, *fgrdSendData_);
}

bool MainWindow::ConfirmExit() {
  return ShowMessage(this, kExitQuestion, MsgIcon::Question, MsgButtons::OkCancel) == MsgResult::Ok;
}

void MainWindow::cmdEnd_Click() {
  RunHandled("cmdEnd_Click", [&] {
    if (ConfirmExit()) EndProgram();
  });
}

void MainWindow::EndProgram() {
  // Ending stops every timer and releases the socket; nothing more runs or is logged.
  ending_ = true;
  if (runner_) runner_->Stop();
  cycle_->Abandon();
  ping_->Cancel();
  tmrNowDateTime_->SetEnabled(false);
  tmrSend_->SetEnabled(false);
  tmrRcvAns_->SetEnabled(false);
  wscSend_->Close();
  hide();
  emit ExitConfirmed();
}

void MainWindow::showEvent(QShowEvent* event) {
  EnsureLoaded();
  QMainWindow::showEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // The title-bar close box asks the same question as "終了".
  if (ending_) {
    event->accept();
    return;
  }
  event->ignore();
  cmdEnd_Click();
}

void MainWindow::ComSetting_Click() {
  RunHandled("ComSetting_Click", [&] {
    auto* dialog = new ComSettingDialog(strSettingFile[Kiv_UdpSnd], this);
    connect(dialog, &ComSettingDialog::Finished, this, &QWidget::show);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->exec();
  });
}

}  // namespace ostrel
