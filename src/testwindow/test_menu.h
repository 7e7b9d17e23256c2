#pragma once
// The menu "試験" of the main window and what it opens:
//   "試験ファイルを開く…"  loads a test file's payload into the send grid, as "入力" loads
//                          a file, and sets its expectation;
//   "試験ファイルを保存…"  saves the send grid's data, its computed fields and the
//                          expectation as a test file, or the steps while steps are open;
//   "期待応答"             opens the test window (one; raised when opened again).
// The session's judge watches the send cycles through the main window's observers.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fields/field_definition.h"

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace ostrel {

class FlexGrid;
class ObserverFanOut;
class TestSession;
class TestWindow;
struct TestFile;

class TestMenu : public QObject {
  Q_OBJECT

 public:
  // Adds the menu to `bar` and the judge to `observers`; `window` parents the message
  // boxes, file dialogs and the test window. The grids and `observers` must outlive this.
  TestMenu(QMenuBar& bar, FlexGrid& send_grid, FlexGrid& answer_grid, ObserverFanOut& observers,
           QWidget& window);
  ~TestMenu() override;

  // Opens the test file `path`: its payload into the send grid and its expectation. A file
  // that does not open, or whose payload file does not load, leaves the grid and the
  // expectation as they were; a message box says why. True when it opened.
  bool OpenTestFile(const std::string& path);
  // Saves the steps to `path` while steps are open, otherwise the send grid's data (without
  // the bytes its fields appended) and the expectation; a failure is logged and shown.
  bool SaveTestFile(const std::string& path);
  // Opens the test window, or raises it.
  void OpenTestWindow();
  // What follows the test window's title, now and when it is made.
  void SetTitleSuffix(const QString& suffix);

  // Where the computed fields of the send payload go whenever they change (an opened test
  // file's, or edited in the test window): the send path writes them into the send grid
  // before every transmission; an opened file without fields hands on none.
  void SetSendFieldsSink(std::function<void(const std::vector<FieldDefinition>&)> sink);
  // The number of data bytes in the send grid, without the bytes the fields appended, by
  // which edited send fields are checked and which a saved request or an added step holds.
  void SetSendDataLength(std::function<std::size_t()> length);

  TestSession& session() { return *session_; }
  TestWindow* frmTest() const { return frmTest_; }  // made when first opened
  QMenu* menu() const { return menu_; }
  QAction* OpenTest() const { return OpenTest_; }
  QAction* SaveTest() const { return SaveTest_; }
  QAction* Expectation() const { return Expectation_; }

 private:
  void OpenTest_Click();
  void SaveTest_Click();
  // Takes the steps of an opened test file with steps, each step's payload loaded; false
  // (with a message) when one does not load or its fields do not fit.
  bool OpenSteps(const std::string& path, const TestFile& test);
  // Loads the payload of an opened test file; false when it did not load.
  bool LoadPayload(const TestFile& test);

  FlexGrid& send_grid_;
  ObserverFanOut& observers_;
  QWidget& window_;
  std::unique_ptr<TestSession> session_;
  QMenu* menu_ = nullptr;
  QAction* OpenTest_ = nullptr;
  QAction* SaveTest_ = nullptr;
  QAction* Expectation_ = nullptr;
  TestWindow* frmTest_ = nullptr;
  QString last_folder_;
  QString title_suffix_;
};

}  // namespace ostrel
