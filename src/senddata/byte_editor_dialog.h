#pragma once
// The byte editor dialog "データ設定" (frmInputData): edits one byte of the send grid in
// hexadecimal or bit by bit, and writes it back to the cell on Apply.
//
// Create it once and keep it: it is only shown and hidden, so what its controls hold
// carries over from one opening to the next. Shown_Form opens it modally on a cell and
// returns once Apply or Cancel (or the title-bar close box, which acts as Cancel) has
// hidden it again. Enter and Esc do nothing special. The rules live in ByteEditor; the
// dialog copies its state onto the widgets after every event.
//
// The main window wires the send grid's double click to it:
//   connect(fgrdSendData_, &FlexGrid::DblClick, this,
//           [this] { fgrdSendData_DblClick(*frmInputData_, *fgrdSendData_); });

#include <QDialog>
#include <array>

#include "byte_editor.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ostrel {

class GridControl;

class ByteEditorDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ByteEditorDialog(QWidget* parent = nullptr);

  // Opens the editor on cell (intRow, intCol) of `fgrdData` and waits until it is
  // hidden; Apply writes that cell by address. The first call also centres the dialog
  // on the screen (Form_Load). Any failure is logged "description(Shown_Form)" and the
  // dialog is not shown: so a cell past the data (an empty one) opens nothing.
  // `fgrdData` must outlive the editor's use of it (the main window's grid does).
  void Shown_Form(GridControl& fgrdData, int16_t intRow, int16_t intCol);

  const ByteEditor& Editor() const { return editor_; }

  // The controls, for the window tests.
  QLineEdit* txtInputData() const { return txtInputData_; }
  QPushButton* cmdApply() const { return cmdApply_; }
  QPushButton* cmdCancel() const { return cmdCancel_; }
  QLabel* lblTextNoInfo() const { return lblTextNoInfo_; }
  QLabel* lblStatus() const { return lblStatus_; }
  QGroupBox* fraBin() const { return fraBin_; }
  QCheckBox* chkDataBit(int index) const { return chkDataBit_.at(index); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;  // Enter and Esc press no button

 private:
  void Form_Load();
  void txtInputData_Edited(const QString& text);
  void chkDataBit_Clicked(int index, bool checked);
  void cmdApply_Click();
  void cmdCancel_Click();
  // Copies the editor's state onto the controls.
  void ShowState();

  ByteEditor editor_;
  bool loaded_ = false;
  QLineEdit* txtInputData_ = nullptr;
  QPushButton* cmdApply_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
  QLabel* lblTextNoInfo_ = nullptr;
  QLabel* lblStatus_ = nullptr;
  QGroupBox* fraBin_ = nullptr;
  std::array<QCheckBox*, kDataBitCount> chkDataBit_{};
};

// The send grid's double click: opens `frmInputData` on the grid's current cell, which
// is a data cell after a double click. A failure is logged
// "description(fgrdSendData_DblClick)".
void fgrdSendData_DblClick(ByteEditorDialog& frmInputData, GridControl& fgrdSendData);

}  // namespace ostrel
