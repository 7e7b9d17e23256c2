#include "step_dialog.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include "logging/error_handler.h"
#include "testfile/test_file.h"
#include "testwindow/dialog_rows.h"
#include "testwindow/field_form.h"
#include "ui/ui_support.h"

namespace ostrel {
namespace {

using namespace dialog_rows;

constexpr int kRows = 7;  // five boxes, a gap, the buttons
// Wider labels than the field dialog's, the boxes ending where its boxes end.
constexpr int kStepLabelWidth = 2880;
constexpr int kStepBoxLeft = 3120;
constexpr int kStepBoxWidth = kBoxLeft + kBoxWidth - kStepBoxLeft;

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

QString Optional(const auto& value) { return value ? QString::number(*value) : QString(); }

}  // namespace

StepDialog::StepDialog(const TestStep& step, std::function<std::string(const QJsonObject&)> apply,
                       QWidget* parent)
    : QDialog(parent), apply_(std::move(apply)) {
  setWindowTitle(Q("手順"));
  const QFont font = ProportionalFont(9);
  setFont(font);
  int row = 0;
  const auto text = [&](const char* name, const char* caption, const char* placeholder) {
    MakeDialogLabel(this, Q("lbl") + Q(name + 3), caption, Row(row, kLabelLeft, kStepLabelWidth),
                    font);
    auto* box = new QLineEdit(this);
    box->setObjectName(Q(name));
    box->setGeometry(Row(row++, kStepBoxLeft, kStepBoxWidth));
    box->setPlaceholderText(Q(placeholder));
    return box;
  };
  txtName_ = text("txtName", "名前 (name)", "");
  txtTimeout_ =
      text("txtTimeout", "応答タイムアウト (timeout_ms)", "ms（空欄: 設定の応答タイムアウト）");
  txtRetries_ = text("txtRetries", "送信回数 (retries)", "空欄: 設定の CommonSendRetry");
  txtWait_ = text("txtWait", "次までの待ち (wait_ms)", "ms（空欄: 0）");
  MakeDialogLabel(this, QStringLiteral("lblOnFail"), "失敗時 (on_fail)",
                  Row(row, kLabelLeft, kStepLabelWidth), font);
  cboOnFail_ = new QComboBox(this);
  cboOnFail_->setObjectName(QStringLiteral("cboOnFail"));
  cboOnFail_->setGeometry(Row(row++, kStepBoxLeft, kStepBoxWidth));
  cboOnFail_->addItem(Q("stop"));
  cboOnFail_->addItem(Q("next"));
  ++row;
  const int right = kBoxLeft + kBoxWidth;
  cmdOk_ = MakeDialogButton(this, "cmdOk", "OK",
                            TwipsRect(right - 3000, 120 + row * kRowHeight, 1380, 375));
  cmdCancel_ = MakeDialogButton(this, "cmdCancel", "キャンセル",
                                TwipsRect(right - 1380, 120 + row * kRowHeight, 1380, 375));
  setFixedSize(Px(kClientWidth), Px(120 + kRows * kRowHeight + 120));

  txtName_->setText(QString::fromStdString(step.name));
  txtTimeout_->setText(Optional(step.timeout_ms));
  txtRetries_->setText(Optional(step.retries));
  txtWait_->setText(step.wait_ms ? QString::number(step.wait_ms) : QString());
  cboOnFail_->setCurrentIndex(step.stop_on_fail ? 0 : 1);
  connect(cmdOk_, &QPushButton::clicked, this, &StepDialog::cmdOk_Click);
  connect(cmdCancel_, &QPushButton::clicked, this, &QDialog::reject);
}

QJsonObject StepDialog::Settings() const {
  QJsonObject object;
  if (!txtName_->text().isEmpty()) object[QLatin1String("name")] = txtName_->text();
  PutFormText(object, "timeout_ms", txtTimeout_->text().toStdString());
  PutFormText(object, "retries", txtRetries_->text().toStdString());
  PutFormText(object, "wait_ms", txtWait_->text().toStdString());
  object[QLatin1String("on_fail")] = cboOnFail_->currentText();
  return object;
}

void StepDialog::cmdOk_Click() {
  RunHandled("cmdOk_Click", [&] {
    if (const std::string error = apply_(Settings()); !error.empty()) {
      ShowMessage(this, error, MsgIcon::Critical);
      return;
    }
    accept();
  });
}

void StepDialog::keyPressEvent(QKeyEvent* event) {
  if (!SwallowEnterAndEscape(*event)) QDialog::keyPressEvent(event);
}

}  // namespace ostrel
