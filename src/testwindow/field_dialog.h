#pragma once
// The dialog "フィールド" that adds one computed field to a field list or changes one: its
// kind, CRC model (a catalogue name or the parameters), place "at", covered bytes "from"
// and "to", byte order, and a counter's or time stamp's width, start and step. "OK" reads
// the controls as a test file's field (FieldForm, FieldList::Read) and makes the change;
// a refusal shows the text a test file would get and keeps the dialog open. Controls a kind
// does not use are disabled.

#include <QDialog>
#include <cstddef>
#include <optional>

#include "testwindow/field_form.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace ostrel {

class FieldList;

class FieldDialog : public QDialog {
  Q_OBJECT

 public:
  // Adds a field to `list` (no `index`) or changes the field at `index`; `list` must
  // outlive the dialog.
  FieldDialog(FieldList& list, std::optional<std::size_t> index, QWidget* parent = nullptr);

  // The controls' values.
  FieldForm Form() const;
  void SetForm(const FieldForm& form);

  // Controls, for the tests.
  QComboBox* cboKind() const { return cboKind_; }
  QComboBox* cboModel() const { return cboModel_; }
  QLineEdit* txtAt() const { return txtAt_; }
  QComboBox* cboOrder() const { return cboOrder_; }
  QPushButton* cmdOk() const { return cmdOk_; }
  QPushButton* cmdCancel() const { return cmdCancel_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;  // Enter and Esc press no button

 private:
  void BuildControls();
  void EnableForKind();
  void cmdOk_Click();

  FieldList& list_;
  std::optional<std::size_t> index_;
  QComboBox* cboKind_ = nullptr;
  QComboBox* cboModel_ = nullptr;
  QLineEdit* txtCrcWidth_ = nullptr;
  QLineEdit* txtPoly_ = nullptr;
  QLineEdit* txtInit_ = nullptr;
  QLineEdit* txtXorout_ = nullptr;
  QCheckBox* chkRefin_ = nullptr;
  QCheckBox* chkRefout_ = nullptr;
  QLineEdit* txtAt_ = nullptr;
  QLineEdit* txtFrom_ = nullptr;
  QLineEdit* txtTo_ = nullptr;
  QComboBox* cboOrder_ = nullptr;
  QLineEdit* txtWidth_ = nullptr;
  QLineEdit* txtStart_ = nullptr;
  QLineEdit* txtStep_ = nullptr;
  QPushButton* cmdOk_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
};

}  // namespace ostrel
