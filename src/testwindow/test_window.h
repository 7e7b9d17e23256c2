#pragma once
// The test window "期待応答": the test file's name, the expected pattern as text (applied
// with "適用", refused with the token and its position when bad) and as a grid like the
// answer grid, the sender rule "from", the verdict of the last cycle in large coloured
// text with its time, the counts of each verdict since the start or "リセット", and
// "解除", which clears the expectation and its fields. Below, the computed fields of the
// send payload and of the expected answer, one line each as a test file writes them, with
// "追加", "変更" and "削除" (FieldDialog edits one field); a change applies at once. A test
// file with steps adds below them a table of its steps (name, verdict, round-trip time,
// transmissions of each step's last cycle) and "実行" (one run of the steps) and "停止" (the
// run ends after the running step), "変更" (a step's name and timing, StepDialog), "削除",
// "上へ" and "下へ". "手順に追加…" beside "送信元" adds the request the window sends now
// (send data, its fields, the expectation) as the last step, named in StepDialog; the
// first step added shows the table. Modeless; the main window keeps one and raises it when
// opened again.

#include <QWidget>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace ostrel {

class FlexGrid;
class FieldList;
class TestSession;
enum class FieldUse;
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
  // The field lists and their buttons: kWrite the send payload's, kCheck the answer's.
  QListWidget* FieldListBox(FieldUse use) const;
  QPushButton* AddFieldButton(FieldUse use) const;
  QPushButton* ChangeFieldButton(FieldUse use) const;
  QPushButton* RemoveFieldButton(FieldUse use) const;

  // Opens the field dialog on `use`'s list: a new field (no `index`) or the one at `index`.
  // Modal.
  void EditField(FieldUse use, std::optional<int> index);
  QTableWidget* tblSteps() const { return tblSteps_; }
  QPushButton* cmdRun() const { return cmdRun_; }
  QPushButton* cmdStop() const { return cmdStop_; }
  QPushButton* cmdAddStep() const { return cmdAddStep_; }
  QPushButton* cmdChangeStep() const { return cmdChangeStep_; }
  QPushButton* cmdRemoveStep() const { return cmdRemoveStep_; }
  QPushButton* cmdStepUp() const { return cmdStepUp_; }
  QPushButton* cmdStepDown() const { return cmdStepDown_; }

  // Opens the step dialog: the request sent now as a new step (no `index`), or the step at
  // `index`. Modal.
  void EditStep(std::optional<int> index);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void ShowPattern();
  // The steps table and its buttons, shown below the counts while the file has steps.
  void ShowSteps();
  void BuildStepControls();
  // The selected row of the steps table.
  std::optional<int> SelectedStep() const;
  void MoveStep(bool up);
  void cmdApply_Click();
  void cmdClear_Click();
  void BuildFieldControls(int index, const char* name, const char* caption, int top);
  void ShowFields();
  FieldList& ListOf(FieldUse use) const;

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
  QTableWidget* tblSteps_ = nullptr;
  QPushButton* cmdRun_ = nullptr;
  QPushButton* cmdStop_ = nullptr;
  QPushButton* cmdAddStep_ = nullptr;
  QPushButton* cmdChangeStep_ = nullptr;
  QPushButton* cmdRemoveStep_ = nullptr;
  QPushButton* cmdStepUp_ = nullptr;
  QPushButton* cmdStepDown_ = nullptr;
  std::optional<std::string> shown_pattern_;  // the pattern text the grid shows
  // [0] the send payload's fields, [1] the answer's.
  QListWidget* lstFields_[2] = {};
  QPushButton* cmdAddField_[2] = {};
  QPushButton* cmdChangeField_[2] = {};
  QPushButton* cmdRemoveField_[2] = {};
  std::vector<std::string> shown_fields_[2];
};

}  // namespace ostrel
