#pragma once
// The test window "期待応答": the test file's name, the expected pattern as text (applied
// with "適用", refused with the token and its position when bad) and as a grid like the
// answer grid, the sender rule "from", the verdict of the last cycle in large coloured
// text with its time, the counts of each verdict since the start or "リセット", and
// "解除", which clears the expectation. Modeless; the main window keeps one and raises
// it when opened again.

#include <QWidget>
#include <optional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ostrel {

class FlexGrid;
class TestSession;
enum class Verdict;

class TestWindow : public QWidget {
  Q_OBJECT

 public:
  // Shows `session`, which must outlive the window.
  explicit TestWindow(TestSession& session, QWidget* parent = nullptr);
  ~TestWindow() override;

  // Shows the window, or raises it when it is open.
  void Open();
  // Shows the session's state (the session calls it after every change).
  void Refresh();
  // The title "期待応答" followed by `suffix` (what runs beside, such as a capture).
  void SetTitleSuffix(const QString& suffix);

  // Controls, for the tests.
  QLabel* lblTestFileData() const { return lblTestFileData_; }
  QLineEdit* txtPattern() const { return txtPattern_; }
  QComboBox* cboFrom() const { return cboFrom_; }
  QPushButton* cmdApply() const { return cmdApply_; }
  QPushButton* cmdClear() const { return cmdClear_; }
  QPushButton* cmdReset() const { return cmdReset_; }
  FlexGrid* fgrdPattern() const { return fgrdPattern_; }
  QLabel* lblVerdict() const { return lblVerdict_; }
  QLabel* lblVerdictTime() const { return lblVerdictTime_; }
  QLabel* CountLabel(Verdict verdict) const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void ShowPattern();
  void cmdApply_Click();
  void cmdClear_Click();

  TestSession& session_;
  QLabel* lblTestFileData_ = nullptr;
  QLineEdit* txtPattern_ = nullptr;
  QComboBox* cboFrom_ = nullptr;
  QPushButton* cmdApply_ = nullptr;
  QPushButton* cmdClear_ = nullptr;
  QPushButton* cmdReset_ = nullptr;
  FlexGrid* fgrdPattern_ = nullptr;
  QLabel* lblVerdict_ = nullptr;
  QLabel* lblVerdictTime_ = nullptr;
  QLabel* lblCounts_[5] = {};
  std::optional<std::string> shown_pattern_;  // the pattern text the grid shows
};

}  // namespace ostrel
