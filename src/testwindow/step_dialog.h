#pragma once
// The dialog "手順" that names a step and sets how its answer is waited for: its name, the
// answer time-out "timeout_ms", the transmissions "retries", the pause after it "wait_ms"
// and "on_fail". An empty box leaves its key out, so the default a file has applies (the
// settings' time-out and CommonSendRetry, no pause). "OK" hands the boxes over as a step
// object's keys (StepList reads them as a file's step); a refusal shows the text a test
// file would get and keeps the dialog open.

#include <QDialog>
#include <QJsonObject>
#include <functional>
#include <string>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace ostrel {

struct TestStep;

class StepDialog : public QDialog {
  Q_OBJECT

 public:
  // Shows `step`'s values; `apply` makes the change and returns its refusal, or "".
  StepDialog(const TestStep& step, std::function<std::string(const QJsonObject&)> apply,
             QWidget* parent = nullptr);

  // The boxes as a step object's keys ("name", "timeout_ms", "retries", "wait_ms", "on_fail").
  QJsonObject Settings() const;

  // Controls, for the tests.
  QLineEdit* txtName() const { return txtName_; }
  QLineEdit* txtTimeout() const { return txtTimeout_; }
  QLineEdit* txtRetries() const { return txtRetries_; }
  QLineEdit* txtWait() const { return txtWait_; }
  QComboBox* cboOnFail() const { return cboOnFail_; }
  QPushButton* cmdOk() const { return cmdOk_; }
  QPushButton* cmdCancel() const { return cmdCancel_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;  // Enter and Esc press no button

 private:
  void cmdOk_Click();

  std::function<std::string(const QJsonObject&)> apply_;
  QLineEdit* txtName_ = nullptr;
  QLineEdit* txtTimeout_ = nullptr;
  QLineEdit* txtRetries_ = nullptr;
  QLineEdit* txtWait_ = nullptr;
  QComboBox* cboOnFail_ = nullptr;
  QPushButton* cmdOk_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
};

}  // namespace ostrel
