#include "byte_editor_dialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <limits>

#include "common/run_time_error.h"
#include "grid_control.h"
#include "logging/error_handler.h"
#include "ui/ui_support.h"

namespace ostrel {
namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, QRect geometry) {
  return MakeDialogLabel(parent, QLatin1String(name), caption, geometry,
                         ProportionalFont(14.25, true));
}

// Row and column numbers are 16-bit in the editor; a grid never comes near the limit.
int16_t ToInteger16(int value) {
  if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max()) {
    throw RunTimeError(desc::kOverflow);
  }
  return static_cast<int16_t>(value);
}

}  // namespace

ByteEditorDialog::ByteEditorDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmInputData"));
  setWindowTitle(QStringLiteral("データ設定"));
  // Fixed size. The title bar keeps its close box, which hides the dialog like Cancel
  // (QDialog's own close handling), so the controls keep their states then too.
  setFixedSize(Px(4455), Px(3705));
  setFont(ProportionalFont(9));  // the form's own font, for the buttons

  txtInputData_ = new QLineEdit(this);
  txtInputData_->setObjectName(QStringLiteral("txtInputData"));
  txtInputData_->setGeometry(TwipsRect(1920, 2160, 615, 495));
  txtInputData_->setFont(ProportionalFont(14.25));
  txtInputData_->setMaxLength(static_cast<int>(kInputDataMaxLength));

  cmdApply_ = MakeDialogButton(this, "cmdApply", "適用", TwipsRect(600, 3000, 1215, 495));
  cmdCancel_ = MakeDialogButton(this, "cmdCancel", "キャンセル", TwipsRect(2760, 3000, 1215, 495));

  MakeLabel(this, "lblHex", "HEX：", TwipsRect(1080, 2280, 735, 375));
  MakeLabel(this, "lblTextNo", "TextNo：", TwipsRect(360, 0, 1215, 375));
  lblTextNoInfo_ = MakeLabel(this, "lblTextNoInfo", "", TwipsRect(1560, 0, 2055, 375));
  lblStatus_ = MakeLabel(this, "lblStatus", "", TwipsRect(960, 600, 2415, 375));
  QPalette status_palette = lblStatus_->palette();
  status_palette.setColor(QPalette::WindowText, Qt::red);
  lblStatus_->setPalette(status_palette);

  fraBin_ = new QGroupBox(QStringLiteral("Bit"), this);
  fraBin_->setObjectName(QStringLiteral("fraBin"));
  fraBin_->setGeometry(TwipsRect(240, 1200, 3975, 855));
  fraBin_->setFont(ProportionalFont(9, true));
  // Bit 7 leftmost, bit 0 rightmost: the boxes read like the written-out byte.
  for (int i = 0; i < kDataBitCount; ++i) {
    auto* box = new QCheckBox(fraBin_);
    box->setObjectName(QStringLiteral("chkDataBit%1").arg(i));
    box->setGeometry(TwipsRect(3480 - 480 * i, 240, 375, 495));
    chkDataBit_[i] = box;
    connect(box, &QCheckBox::clicked, this,
            [this, i](bool checked) { chkDataBit_Clicked(i, checked); });
  }

  connect(txtInputData_, &QLineEdit::textEdited, this, &ByteEditorDialog::txtInputData_Edited);
  connect(cmdApply_, &QPushButton::clicked, this, &ByteEditorDialog::cmdApply_Click);
  connect(cmdCancel_, &QPushButton::clicked, this, &ByteEditorDialog::cmdCancel_Click);

  // The text box, the buttons, then the bit boxes from bit 0 to bit 7.
  QWidget* previous = txtInputData_;
  for (QWidget* next : {static_cast<QWidget*>(cmdApply_), static_cast<QWidget*>(cmdCancel_)}) {
    setTabOrder(previous, next);
    previous = next;
  }
  for (QCheckBox* box : chkDataBit_) {
    setTabOrder(previous, box);
    previous = box;
  }
  txtInputData_->setFocus();

  ShowState();
}

void ByteEditorDialog::Shown_Form(GridControl& fgrdData, int16_t intRow, int16_t intCol) {
  const bool opened = RunHandled("Shown_Form", [&] {
    if (!loaded_) Form_Load();
    editor_.LoadCell(fgrdData, intRow, intCol);
  });
  // A failed opening has still changed the controls (an empty cell empties the box).
  ShowState();
  if (opened) exec();
}

// Runs once, on the first opening; a failure goes to Shown_Form's handler.
void ByteEditorDialog::Form_Load() {
  loaded_ = true;
  CenterForm(*this);
}

void ByteEditorDialog::txtInputData_Edited(const QString& text) {
  editor_.SetText(text.toStdString());
  ShowState();
  // The change rule leaves the caret after the last character.
  txtInputData_->end(false);
}

void ByteEditorDialog::chkDataBit_Clicked(int index, bool checked) {
  editor_.SetBit(index, checked);
  ShowState();
}

void ByteEditorDialog::cmdApply_Click() {
  const bool applied = RunHandled("cmdApply_Click", [&] { editor_.ApplyToCell(); });
  ShowState();
  if (applied) hide();
}

void ByteEditorDialog::cmdCancel_Click() { hide(); }

void ByteEditorDialog::ShowState() {
  const ByteEditorState& state = editor_.State();
  const QString text = QString::fromStdString(state.text);
  if (txtInputData_->text() != text) txtInputData_->setText(text);
  for (int i = 0; i < kDataBitCount; ++i) chkDataBit_[i]->setChecked(state.bits[i]);
  lblStatus_->setText(QString::fromStdString(state.status));
  cmdApply_->setEnabled(state.apply_enabled);
  lblTextNoInfo_->setText(QString::fromStdString(state.position));
}

void ByteEditorDialog::keyPressEvent(QKeyEvent* event) {
  if (!SwallowEnterAndEscape(*event)) QDialog::keyPressEvent(event);
}

void fgrdSendData_DblClick(ByteEditorDialog& frmInputData, GridControl& fgrdSendData) {
  RunHandled("fgrdSendData_DblClick", [&] {
    frmInputData.Shown_Form(fgrdSendData, ToInteger16(fgrdSendData.Row()),
                            ToInteger16(fgrdSendData.Col()));
  });
}

}  // namespace ostrel
