#include "com_setting_dialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <algorithm>
#include <iterator>
#include <utility>

#include "com_setting.h"
#include "common/run_time_error.h"
#include "logging/error_handler.h"
#include "ui/ui_support.h"

namespace ostrel {
namespace {

QLabel* MakeLabel(QWidget* parent, const QString& name, const char* caption, QRect geometry) {
  return MakeDialogLabel(parent, name, caption, geometry, ProportionalFont(11.25, true));
}

QLineEdit* MakeTextBox(QWidget* parent, const char* name, int max_length, QRect geometry) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(QLatin1String(name));
  box->setGeometry(geometry);
  box->setFont(ProportionalFont(14.25, true));
  box->setMaxLength(max_length);
  return box;
}

// Shows a stored value whole, even one longer than the box's limit: the limit restrains
// typing only, so Apply judges what is really stored. The limit returns once the
// operator has shortened the text to it.
void SetStoredText(QLineEdit* box, const std::string& value, int max_length) {
  const QString text = QString::fromStdString(value);
  box->setMaxLength(std::max(max_length, static_cast<int>(text.size())));
  box->setText(text);
  if (box->maxLength() > max_length) {
    QObject::connect(box, &QLineEdit::textEdited, box, [box, max_length](const QString& now) {
      if (now.size() <= max_length) box->setMaxLength(max_length);
    });
  }
}

constexpr int kSrcPortLength = 5;
constexpr int kDestIPLength = 15;
constexpr int kDestPortLength = 5;
constexpr int kSendIntervalLength = 5;

}  // namespace

ComSettingDialog::ComSettingDialog(std::string strIniFile, QWidget* parent)
    : QDialog(parent), ini_file_(std::move(strIniFile)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("通信設定"));
  // Fixed size; the title bar keeps its close box (see closeEvent).
  setFixedSize(Px(4560), Px(3285));

  setObjectName(QStringLiteral("frmUdpSendComSetting"));
  MakeLabel(this, QStringLiteral("lblSrcPort"), "送信元ポート", TwipsRect(240, 480, 1455, 375));
  MakeLabel(this, QStringLiteral("lblDestIP"), "送信先IPアドレス", TwipsRect(240, 960, 1815, 375));
  MakeLabel(this, QStringLiteral("lblDestPort"), "送信先ポート", TwipsRect(240, 1440, 1455, 375));
  MakeLabel(this, QStringLiteral("lblInterval"), "送信周期", TwipsRect(240, 1920, 1095, 375));
  constexpr int kColonTops[] = {960, 1440, 1920, 480};  // lblColon(0) .. lblColon(3)
  for (std::size_t i = 0; i < lblColon_.size(); ++i) {
    lblColon_[i] = MakeLabel(this, QStringLiteral("lblColon%1").arg(i), "：",
                             TwipsRect(2040, kColonTops[i], 255, 375));
  }

  txtSrcPort_ = MakeTextBox(this, "txtSrcPort", kSrcPortLength, TwipsRect(2280, 360, 1335, 420));
  txtDestIP_ = MakeTextBox(this, "txtDestIP", kDestIPLength, TwipsRect(2280, 840, 2175, 420));
  txtDestPort_ =
      MakeTextBox(this, "txtDestPort", kDestPortLength, TwipsRect(2280, 1320, 1335, 420));
  txtSendInterval_ =
      MakeTextBox(this, "txtSendInterval", kSendIntervalLength, TwipsRect(2280, 1800, 1335, 420));

  cboTimeUnit_ = new QComboBox(this);
  cboTimeUnit_->setObjectName(QStringLiteral("cboTimeUnit"));
  cboTimeUnit_->setGeometry(TwipsRect(3720, 1920, 855, 300));
  cboTimeUnit_->setFont(ProportionalFont(9));  // the form's own font; no other is asked for
  cboTimeUnit_->setEditable(true);
  // A plain drop-down combo: what is typed stays typed text. It completes nothing,
  // adds no item on Enter, and never turns into a selection by itself.
  cboTimeUnit_->setInsertPolicy(QComboBox::NoInsert);
  cboTimeUnit_->setCompleter(nullptr);
  QObject::disconnect(cboTimeUnit_->lineEdit(), &QLineEdit::editingFinished, cboTimeUnit_, nullptr);
  cboTimeUnit_->addItems({QStringLiteral("ミリ秒"), QStringLiteral("秒"), QStringLiteral("分")});
  cboTimeUnit_->setCurrentIndex(-1);
  connect(cboTimeUnit_->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
    if (cboTimeUnit_->currentIndex() == -1) return;
    // Dropping the selection clears the edit part; put the typed text back.
    QLineEdit* edit = cboTimeUnit_->lineEdit();
    const int cursor = edit->cursorPosition();
    cboTimeUnit_->setCurrentIndex(-1);
    cboTimeUnit_->setEditText(text);
    edit->setCursorPosition(cursor);
  });

  cmdApply_ = MakeDialogButton(this, "cmdApply", "設定", TwipsRect(840, 2640, 1215, 495));
  cmdCancel_ = MakeDialogButton(this, "cmdCancel", "キャンセル", TwipsRect(2640, 2640, 1215, 495));
  connect(cmdApply_, &QPushButton::clicked, this, &ComSettingDialog::cmdApply_Click);
  connect(cmdCancel_, &QPushButton::clicked, this, &ComSettingDialog::cmdCancel_Click);

  const QWidget* tab_order[] = {txtSrcPort_,  txtDestIP_, txtDestPort_, txtSendInterval_,
                                cboTimeUnit_, cmdApply_,  cmdCancel_};
  for (std::size_t i = 1; i < std::size(tab_order); ++i) {
    setTabOrder(const_cast<QWidget*>(tab_order[i - 1]), const_cast<QWidget*>(tab_order[i]));
  }
  txtSrcPort_->setFocus();

  Form_Load();
}

void ComSettingDialog::Form_Load() {
  RunHandled("Form_Load", [&] {
    const ComSettingLoad load = LoadComSetting(ini_file_);
    SetStoredText(txtSrcPort_, load.texts.strSrcPort, kSrcPortLength);
    SetStoredText(txtDestIP_, load.texts.strDestIP, kDestIPLength);
    SetStoredText(txtDestPort_, load.texts.strDestPort, kDestPortLength);
    SetStoredText(txtSendInterval_, load.texts.strSendInterval, kSendIntervalLength);
    // A unit the box cannot show leaves it unselected and the dialog uncentred.
    if (load.unit_error) throw RunTimeError(*load.unit_error);
    cboTimeUnit_->setCurrentIndex(load.texts.intTimeUnit);
    CenterForm(*this);
  });
}

void ComSettingDialog::cmdApply_Click() {
  bool writing = false;
  RunHandled(
      "cmdApply_Click",
      [&] {
        const ComSettingTexts texts{
            txtSrcPort_->text().toStdString(), txtDestIP_->text().toStdString(),
            txtDestPort_->text().toStdString(), txtSendInterval_->text().toStdString(),
            cboTimeUnit_->currentIndex()};
        if (const auto failure = CheckApply(texts)) {
          ShowFailure(*failure);
          return;
        }
        writing = true;
        const bool blnChanged = WriteChanges(texts, ini_file_);
        writing = false;
        if (blnChanged) ShowMessage(this, com_setting_msg::kChanged, MsgIcon::Information);
        CloseByButton();
      },
      [&](const std::exception& error) {
        // The operator must not be told of a change that did not happen. The dialog stays
        // open with the typed texts, so the operator can mend the file and try again.
        if (writing) {
          ShowMessage(this,
                      std::string(com_setting_msg::kWriteFailed) + "\r\n" + DescriptionOf(error),
                      MsgIcon::Critical);
        }
      });
}

void ComSettingDialog::cmdCancel_Click() {
  RunHandled("cmdCancel_Click", [&] {
    if (const auto failure = CheckCancel(ini_file_)) {
      ShowFailure(*failure);
      return;
    }
    CloseByButton();
  });
}

void ComSettingDialog::ShowFailure(const ComSettingFailure& failure) {
  ShowMessage(this, failure.message, MsgIcon::None);
  QLineEdit* box = BoxOf(failure.box);
  box->setSelection(0, static_cast<int>(box->text().size()));
  box->setFocus();
}

QLineEdit* ComSettingDialog::BoxOf(ComSettingBox box) const {
  switch (box) {
    case ComSettingBox::SrcPort:
      return txtSrcPort_;
    case ComSettingBox::DestIP:
      return txtDestIP_;
    case ComSettingBox::DestPort:
      return txtDestPort_;
    case ComSettingBox::SendInterval:
      break;
  }
  return txtSendInterval_;
}

void ComSettingDialog::CloseByButton() {
  closing_by_button_ = true;
  close();
  emit Finished();
}

void ComSettingDialog::closeEvent(QCloseEvent* event) {
  if (!closing_by_button_) emit ClosedWithoutButtons();
  QDialog::closeEvent(event);
}

void ComSettingDialog::keyPressEvent(QKeyEvent* event) {
  if (!SwallowEnterAndEscape(*event)) QDialog::keyPressEvent(event);
}

}  // namespace ostrel
