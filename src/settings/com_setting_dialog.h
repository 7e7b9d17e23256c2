#pragma once
// The communication settings dialog "通信設定": edits the five communication keys of the
// settings file (source port, destination address, destination port, send period and
// its unit). It edits the file only; the running main window keeps what it loaded.
//
// Apply checks the typed texts and writes what changed; Cancel checks the stored values.
// Either, when its checks pass, closes the dialog (which deletes itself) and emits
// Finished, on which the caller shows the main window. A failed check shows its message,
// selects and focuses the offending box and keeps the dialog open.

#include <QDialog>
#include <array>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ostrel {

enum class ComSettingBox;
struct ComSettingFailure;

class ComSettingDialog : public QDialog {
  Q_OBJECT

 public:
  // Builds the controls and loads the stored values from `strIniFile` (Form_Load).
  explicit ComSettingDialog(std::string strIniFile, QWidget* parent = nullptr);

  // The controls, for the window tests.
  QLineEdit* txtSrcPort() const { return txtSrcPort_; }
  QLineEdit* txtDestIP() const { return txtDestIP_; }
  QLineEdit* txtDestPort() const { return txtDestPort_; }
  QLineEdit* txtSendInterval() const { return txtSendInterval_; }
  QComboBox* cboTimeUnit() const { return cboTimeUnit_; }
  QPushButton* cmdApply() const { return cmdApply_; }
  QPushButton* cmdCancel() const { return cmdCancel_; }

 signals:
  // After a successful Apply or Cancel, once the dialog has closed.
  void Finished();
  // The dialog was closed other than by its buttons (its title-bar close box).
  void ClosedWithoutButtons();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;  // Enter and Esc press no button

 private:
  void Form_Load();
  void cmdApply_Click();
  void cmdCancel_Click();
  void CloseByButton();
  // Shows a failed check's message, then selects and focuses the box it names.
  void ShowFailure(const ComSettingFailure& failure);
  QLineEdit* BoxOf(ComSettingBox box) const;

  std::string ini_file_;
  bool closing_by_button_ = false;
  std::array<QLabel*, 4> lblColon_{};
  QLineEdit* txtSrcPort_ = nullptr;
  QLineEdit* txtDestIP_ = nullptr;
  QLineEdit* txtDestPort_ = nullptr;
  QLineEdit* txtSendInterval_ = nullptr;
  QComboBox* cboTimeUnit_ = nullptr;
  QPushButton* cmdApply_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
};

}  // namespace ostrel
