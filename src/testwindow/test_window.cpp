#include "test_window.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>

#include "logging/error_handler.h"
#include "senddata/byte_grid.h"
#include "senddata/flex_grid.h"
#include "testfile/field_json.h"
#include "testfile/test_file.h"
#include "testwindow/field_dialog.h"
#include "testwindow/step_dialog.h"
#include "testwindow/test_session.h"
#include "ui/ui_support.h"

namespace ostrel {
namespace {

constexpr int kClientWidth = 9855;  // twips
constexpr int kClientHeight = 9000;
constexpr int kStepsHeight = 3000;  // the steps area below, while the file has steps
constexpr const char* kNoDateTime = "--/--/-- --:--:--";

// The senders "from" allows, in the order of the combo box.
constexpr SenderRule kSenderRules[] = {SenderRule::kAddress, SenderRule::kAddressAndPort,
                                       SenderRule::kAny};
constexpr const char* kSenderRuleCaptions[] = {
    "宛先アドレス (address)", "宛先アドレスとポート (address-and-port)", "すべて (any)"};

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

// 一致 green, 不一致 and 送信元不一致 red, 応答なし and 未送信 grey.
QString VerdictColour(Verdict verdict) {
  switch (verdict) {
    case Verdict::kMatch:
      return QStringLiteral("#00A000");
    case Verdict::kMismatch:
    case Verdict::kWrongSource:
      return QStringLiteral("#E00000");
    case Verdict::kNoAnswer:
    case Verdict::kNotSent:
      break;
  }
  return QStringLiteral("#808080");
}

int ListIndex(FieldUse use) { return use == FieldUse::kWrite ? 0 : 1; }

int RuleIndex(SenderRule rule) {
  for (int i = 0; i < 3; ++i)
    if (kSenderRules[i] == rule) return i;
  return 0;
}

}  // namespace

TestWindow::TestWindow(TestSession& session, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session) {
  SetTitleSuffix({});
  setFont(ProportionalFont(9));
  setFixedSize(Px(kClientWidth), Px(kClientHeight));
  BuildControls();
  session_.SetChangeListener([this] { Refresh(); });
  Refresh();
}

TestWindow::~TestWindow() { session_.SetChangeListener({}); }

void TestWindow::SetTitleSuffix(const QString& suffix) { setWindowTitle(Q("期待応答") + suffix); }

void TestWindow::BuildControls() {
  const QFont font = ProportionalFont(9);
  MakeDialogLabel(this, QStringLiteral("lblTestFile"), "試験ファイル：",
                  TwipsRect(120, 180, 1455, 300), font);
  lblTestFileData_ = MakeDialogLabel(this, QStringLiteral("lblTestFileData"), "",
                                     TwipsRect(1680, 180, 7935, 300), font);
  MakeDialogLabel(this, QStringLiteral("lblPattern"), "期待パターン：",
                  TwipsRect(120, 600, 1455, 300), font);
  txtPattern_ = new QLineEdit(this);
  txtPattern_->setObjectName(QStringLiteral("txtPattern"));
  txtPattern_->setGeometry(TwipsRect(1680, 540, 6255, 375));
  txtPattern_->setFont(MonospaceFont(9));
  cmdApply_ = MakeDialogButton(this, "cmdApply", "適用", TwipsRect(8040, 540, 1575, 375));
  MakeDialogLabel(this, QStringLiteral("lblFrom"), "送信元：", TwipsRect(120, 1080, 1455, 300),
                  font);
  cboFrom_ = new QComboBox(this);
  cboFrom_->setObjectName(QStringLiteral("cboFrom"));
  cboFrom_->setGeometry(TwipsRect(1680, 1020, 4335, 375));
  for (const char* caption : kSenderRuleCaptions) cboFrom_->addItem(Q(caption));
  cmdClear_ = MakeDialogButton(this, "cmdClear", "解除", TwipsRect(8040, 1020, 1575, 375));

  fgrdPattern_ = new FlexGrid(17, this);
  fgrdPattern_->setObjectName(QStringLiteral("fgrdPattern"));
  fgrdPattern_->setGeometry(TwipsRect(120, 1500, 9495, 2415));
  fgrdPattern_->setFocusPolicy(Qt::ClickFocus);
  LabelGridHeaders(*fgrdPattern_);

  MakeDialogLabel(this, QStringLiteral("lblVerdictCaption"), "判定",
                  TwipsRect(120, 4200, 1455, 375), ProportionalFont(15.75, true));
  lblVerdict_ = MakeDialogLabel(this, QStringLiteral("lblVerdict"), "",
                                TwipsRect(1680, 4020, 4335, 615), ProportionalFont(24, true));
  lblVerdictTime_ = MakeDialogLabel(this, QStringLiteral("lblVerdictTime"), kNoDateTime,
                                    TwipsRect(6120, 4260, 1815, 300), font);
  cmdReset_ = MakeDialogButton(this, "cmdReset", "リセット", TwipsRect(8040, 4200, 1575, 375));

  // The counts: caption and figure for each verdict, side by side.
  for (std::size_t i = 0; i < kVerdictCount; ++i) {
    const int left = 120 + static_cast<int>(i) * 1920;
    MakeDialogLabel(this, QStringLiteral("lblCountCaption%1").arg(i), VerdictText(kAllVerdicts[i]),
                    TwipsRect(left, 4920, 1215, 300), font);
    lblCounts_[i] = MakeDialogLabel(this, QStringLiteral("lblCount%1").arg(i), "0",
                                    TwipsRect(left + 1215, 4920, 600, 300), font);
  }

  BuildFieldControls(0, "SendFields", "送信データのフィールド (fields)", 5340);
  BuildFieldControls(1, "AnswerFields", "期待応答のフィールド (expect.fields)", 7140);

  BuildStepControls();
  connect(cmdApply_, &QPushButton::clicked, this, &TestWindow::cmdApply_Click);
  connect(cmdClear_, &QPushButton::clicked, this, &TestWindow::cmdClear_Click);
  connect(cmdReset_, &QPushButton::clicked, this,
          [this] { RunHandled("cmdReset_Click", [&] { session_.ResetCounts(); }); });
}

void TestWindow::BuildStepControls() {
  tblSteps_ = new QTableWidget(0, 4, this);
  tblSteps_->setObjectName(QStringLiteral("tblSteps"));
  tblSteps_->setGeometry(TwipsRect(120, 8880, 7815, 2880));
  tblSteps_->setHorizontalHeaderLabels({Q("手順"), Q("判定"), Q("往復時間"), Q("送信回数")});
  tblSteps_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  tblSteps_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tblSteps_->setSelectionMode(QAbstractItemView::SingleSelection);
  tblSteps_->setSelectionBehavior(QAbstractItemView::SelectRows);
  const auto button = [this](const char* name, const char* caption, int top) {
    return MakeDialogButton(this, name, caption, TwipsRect(8040, top, 1575, 375));
  };
  cmdRun_ = button("cmdRun", "実行", 8880);
  cmdStop_ = button("cmdStop", "停止", 9360);
  cmdChangeStep_ = button("cmdChangeStep", "変更", 9840);
  cmdRemoveStep_ = button("cmdRemoveStep", "削除", 10320);
  cmdStepUp_ = button("cmdStepUp", "上へ", 10800);
  cmdStepDown_ = button("cmdStepDown", "下へ", 11280);
  // Beside the expectation it takes, shown also before there are steps.
  cmdAddStep_ =
      MakeDialogButton(this, "cmdAddStep", "手順に追加…", TwipsRect(6120, 1020, 1815, 375));

  connect(cmdRun_, &QPushButton::clicked, this,
          [this] { RunHandled("cmdRun_Click", [&] { session_.Run(); }); });
  connect(cmdStop_, &QPushButton::clicked, this,
          [this] { RunHandled("cmdStop_Click", [&] { session_.Stop(); }); });
  connect(cmdAddStep_, &QPushButton::clicked, this,
          [this] { RunHandled("cmdAddStep_Click", [&] { EditStep(std::nullopt); }); });
  const auto change = [this] {
    RunHandled("cmdChangeStep_Click", [&] {
      if (const auto row = SelectedStep()) EditStep(row);
    });
  };
  connect(cmdChangeStep_, &QPushButton::clicked, this, change);
  connect(tblSteps_, &QTableWidget::cellDoubleClicked, this, change);
  connect(cmdRemoveStep_, &QPushButton::clicked, this, [this] {
    RunHandled("cmdRemoveStep_Click", [&] {
      const auto row = SelectedStep();
      if (row && !session_.Running()) session_.StepsList().Remove(static_cast<std::size_t>(*row));
    });
  });
  connect(cmdStepUp_, &QPushButton::clicked, this,
          [this] { RunHandled("cmdStepUp_Click", [&] { MoveStep(true); }); });
  connect(cmdStepDown_, &QPushButton::clicked, this,
          [this] { RunHandled("cmdStepDown_Click", [&] { MoveStep(false); }); });
  connect(tblSteps_, &QTableWidget::itemSelectionChanged, this, [this] { ShowSteps(); });
}

std::optional<int> TestWindow::SelectedStep() const {
  const QList<QTableWidgetSelectionRange> ranges = tblSteps_->selectedRanges();
  if (ranges.isEmpty()) return std::nullopt;
  const int row = ranges.first().topRow();
  return row < static_cast<int>(session_.Steps().size()) ? std::optional<int>(row) : std::nullopt;
}

void TestWindow::MoveStep(bool up) {
  const auto row = SelectedStep();
  if (!row || session_.Running()) return;
  if (session_.StepsList().Move(static_cast<std::size_t>(*row), up))
    tblSteps_->selectRow(*row + (up ? -1 : 1));
}

void TestWindow::EditStep(std::optional<int> index) {
  if (session_.Running()) return;
  if (!index) {
    StepDialog dialog(
        TestStep{},
        [this](const QJsonObject& settings) { return session_.AddCurrentStep(settings); }, this);
    if (dialog.exec() == QDialog::Accepted)
      tblSteps_->selectRow(static_cast<int>(session_.Steps().size()) - 1);
    return;
  }
  const std::size_t at = static_cast<std::size_t>(*index);
  if (at >= session_.Steps().size()) return;
  StepDialog dialog(
      session_.Steps()[at],
      [this, at](const QJsonObject& settings) { return session_.StepsList().Change(at, settings); },
      this);
  dialog.exec();
}

void TestWindow::BuildFieldControls(int index, const char* name, const char* caption, int top) {
  const std::string suffix(name);
  MakeDialogLabel(this, QString::fromStdString("lbl" + suffix), caption,
                  TwipsRect(120, top, 7815, 300), ProportionalFont(9));
  QListWidget* list = new QListWidget(this);
  list->setObjectName(QString::fromStdString("lst" + suffix));
  list->setGeometry(TwipsRect(120, top + 300, 7815, 1335));
  list->setFont(MonospaceFont(9));
  lstFields_[index] = list;
  cmdAddField_[index] = MakeDialogButton(this, ("cmdAdd" + suffix).c_str(), "追加",
                                         TwipsRect(8040, top + 300, 1575, 375));
  cmdChangeField_[index] = MakeDialogButton(this, ("cmdChange" + suffix).c_str(), "変更",
                                            TwipsRect(8040, top + 750, 1575, 375));
  cmdRemoveField_[index] = MakeDialogButton(this, ("cmdRemove" + suffix).c_str(), "削除",
                                            TwipsRect(8040, top + 1200, 1575, 375));
  const FieldUse use = index == 0 ? FieldUse::kWrite : FieldUse::kCheck;
  const auto selected = [list]() -> std::optional<int> {
    const int row = list->currentRow();
    return row >= 0 ? std::optional<int>(row) : std::nullopt;
  };
  connect(cmdAddField_[index], &QPushButton::clicked, this,
          [this, use] { RunHandled("cmdAddField_Click", [&] { EditField(use, std::nullopt); }); });
  connect(cmdChangeField_[index], &QPushButton::clicked, this, [this, use, selected] {
    RunHandled("cmdChangeField_Click", [&] {
      if (const auto row = selected()) EditField(use, row);
    });
  });
  connect(list, &QListWidget::itemDoubleClicked, this, [this, use, selected] {
    RunHandled("cmdChangeField_Click", [&] {
      if (const auto row = selected()) EditField(use, row);
    });
  });
  connect(cmdRemoveField_[index], &QPushButton::clicked, this, [this, use, selected] {
    RunHandled("cmdRemoveField_Click", [&] {
      if (const auto row = selected()) ListOf(use).Remove(static_cast<std::size_t>(*row));
    });
  });
  connect(list, &QListWidget::currentRowChanged, this, [this, index](int row) {
    cmdChangeField_[index]->setEnabled(row >= 0);
    cmdRemoveField_[index]->setEnabled(row >= 0);
  });
  cmdChangeField_[index]->setEnabled(false);
  cmdRemoveField_[index]->setEnabled(false);
}

FieldList& TestWindow::ListOf(FieldUse use) const {
  return use == FieldUse::kWrite ? session_.SendFields() : session_.AnswerFields();
}

QListWidget* TestWindow::FieldListBox(FieldUse use) const { return lstFields_[ListIndex(use)]; }
QPushButton* TestWindow::AddFieldButton(FieldUse use) const { return cmdAddField_[ListIndex(use)]; }
QPushButton* TestWindow::ChangeFieldButton(FieldUse use) const {
  return cmdChangeField_[ListIndex(use)];
}
QPushButton* TestWindow::RemoveFieldButton(FieldUse use) const {
  return cmdRemoveField_[ListIndex(use)];
}

void TestWindow::EditField(FieldUse use, std::optional<int> index) {
  FieldDialog dialog(
      ListOf(use),
      index ? std::optional<std::size_t>(static_cast<std::size_t>(*index)) : std::nullopt, this);
  dialog.exec();
}

void TestWindow::ShowFields() {
  for (FieldUse use : {FieldUse::kWrite, FieldUse::kCheck}) {
    const int index = ListIndex(use);
    std::vector<std::string> texts;
    for (const FieldDefinition& field : ListOf(use).Fields()) texts.push_back(FieldJsonText(field));
    if (texts == shown_fields_[index]) continue;
    QListWidget* list = lstFields_[index];
    const int row = list->currentRow();
    list->clear();
    for (const std::string& text : texts) list->addItem(QString::fromStdString(text));
    list->setCurrentRow(std::min(row, list->count() - 1));
    shown_fields_[index] = std::move(texts);
  }
}

void TestWindow::Open() {
  if (!isVisible()) CenterForm(*this);
  show();
  raise();
  activateWindow();
}

QLabel* TestWindow::CountLabel(Verdict verdict) const {
  return lblCounts_[static_cast<std::size_t>(verdict)];
}

void TestWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Refresh();
}

void TestWindow::Refresh() {
  if (!isVisible()) return;  // a hidden window costs nothing; showing it refreshes
  RunHandled("TestWindow_Refresh", [&] {
    std::string file = session_.TestFileName();
    if (!session_.TestName().empty()) file += "  (" + session_.TestName() + ")";
    lblTestFileData_->setText(QString::fromStdString(file));
    ShowPattern();
    ShowFields();
    const auto& last = session_.Last();
    lblVerdict_->setText(last ? Q(VerdictText(last->verdict)) : QString());
    lblVerdict_->setStyleSheet(last ? QStringLiteral("color: %1;").arg(VerdictColour(last->verdict))
                                    : QString());
    lblVerdictTime_->setText(last ? QString::fromStdString(session_.LastTime()) : Q(kNoDateTime));
    for (Verdict verdict : kAllVerdicts)
      CountLabel(verdict)->setText(QString::number(session_.Counts().Count(verdict)));
    // A run sets each step's expectation itself.
    cmdApply_->setEnabled(!session_.Running());
    cmdClear_->setEnabled(!session_.Running() &&
                          (session_.CurrentExpectation() || !session_.Steps().empty()));
    ShowSteps();
  });
}

void TestWindow::ShowSteps() {
  const auto& steps = session_.Steps();
  const bool shown = !steps.empty();
  setFixedSize(Px(kClientWidth), Px(kClientHeight + (shown ? kStepsHeight : 0)));
  for (QWidget* control : std::initializer_list<QWidget*>{
           tblSteps_, cmdRun_, cmdStop_, cmdChangeStep_, cmdRemoveStep_, cmdStepUp_, cmdStepDown_})
    control->setVisible(shown);
  const bool running = session_.Running();
  cmdRun_->setEnabled(shown && !running && session_.RunAllowed());
  cmdStop_->setEnabled(running);
  cmdAddStep_->setEnabled(!running);
  tblSteps_->setRowCount(static_cast<int>(steps.size()));
  const std::optional<int> selected = SelectedStep();
  cmdChangeStep_->setEnabled(selected && !running);
  cmdRemoveStep_->setEnabled(selected && !running);
  cmdStepUp_->setEnabled(selected && *selected > 0 && !running);
  cmdStepDown_->setEnabled(selected && *selected + 1 < static_cast<int>(steps.size()) && !running);
  const auto cell = [this](int row, int col, const QString& text) {
    QTableWidgetItem* item = tblSteps_->item(row, col);
    if (!item) tblSteps_->setItem(row, col, item = new QTableWidgetItem);
    item->setText(text);
    return item;
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const int row = static_cast<int>(i);
    cell(row, 0,
         QString::number(row + 1) + QLatin1Char(' ') + QString::fromStdString(steps[i].name));
    const std::optional<CycleRecord>& result = session_.StepResults()[i];
    const std::optional<Judgement>& judgement = result ? result->judgement : std::nullopt;
    QTableWidgetItem* verdict =
        cell(row, 1, judgement ? Q(VerdictText(judgement->verdict)) : QString());
    verdict->setForeground(judgement ? QColor(VerdictColour(judgement->verdict)) : QColor());
    cell(row, 2,
         result && result->rtt_ms ? QString::number(*result->rtt_ms, 'f', 3) + QStringLiteral(" ms")
                                  : QString());
    cell(row, 3, result ? QString::number(result->transmissions) : QString());
  }
}

void TestWindow::ShowPattern() {
  // The pattern as set, token by token, "*" in the cell after the last byte token.
  const auto& expectation = session_.CurrentExpectation();
  const std::string shown =
      expectation ? expectation->pattern.Text() + "\n" + SenderRuleName(expectation->from) : "";
  if (shown_pattern_ && *shown_pattern_ == shown) return;
  shown_pattern_ = shown;
  std::vector<std::string> texts;
  if (expectation) {
    texts = expectation->pattern.Tokens();
    if (expectation->pattern.OpenEnded() && texts.size() < kGridByteCapacity) texts.push_back("*");
    txtPattern_->setText(QString::fromStdString(expectation->pattern.Text()));
    cboFrom_->setCurrentIndex(RuleIndex(expectation->from));
  }
  fgrdPattern_->SetRedraw(false);
  if (texts.empty()) {
    // No expectation: one empty row, as the grid starts.
    fgrdPattern_->SetRows(2);
    for (int c = 1; c < fgrdPattern_->Cols(); ++c) {
      fgrdPattern_->SetRow(1);
      fgrdPattern_->SetCol(c);
      fgrdPattern_->SetText("");
      fgrdPattern_->SetCellBackColor(kDefaultBackColor);
    }
    fgrdPattern_->SetRow(1);
    fgrdPattern_->SetCol(1);
  } else {
    FillGridFromTexts(*fgrdPattern_, texts);
  }
  fgrdPattern_->SetRedraw(true);
  fgrdPattern_->resizeColumnsToContents();
}

void TestWindow::cmdApply_Click() {
  RunHandled("cmdApply_Click", [&] {
    const PatternParse parse = AnswerPattern::Parse(txtPattern_->text().toStdString());
    if (!parse.Ok()) {
      ShowMessage(this, parse.error.message, MsgIcon::Critical);
      txtPattern_->setFocus();
      return;
    }
    Expectation expectation;
    expectation.pattern = *parse.pattern;
    expectation.fields = AnswerFieldCheck(session_.AnswerFields().Fields());
    expectation.from = kSenderRules[std::max(0, cboFrom_->currentIndex())];
    session_.SetExpectation(std::move(expectation));
  });
}

void TestWindow::cmdClear_Click() {
  RunHandled("cmdClear_Click", [&] {
    if (session_.Running()) return;
    session_.SetExpectation(std::nullopt);
    session_.AnswerFields().Assign({});
    session_.SetTestFile("", "");
    session_.SetSteps({}, {}, 1);
    txtPattern_->clear();
    cboFrom_->setCurrentIndex(0);
    shown_pattern_.reset();
    Refresh();
  });
}

}  // namespace ostrel
