#include "senddata/input_file_selection.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QTest>
#include <filesystem>
#include <memory>

#include "common/run_time_error.h"
#include "common/tool_kind.h"
#include "logging/operation_log.h"
#include "senddata/file_lists.h"
#include "senddata/send_data_file.h"
#include "support/fake_message_box.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using test::FakeMessageBoxes;
using test::TempDir;
using test::WriteFileBytes;

constexpr const char* kOneFileOnly = "ドロップファイルは１ファイルのみ可能です。";

std::unique_ptr<QMimeData> UrlDrop(const QList<QUrl>& urls) {
  auto data = std::make_unique<QMimeData>();
  data->setUrls(urls);
  return data;
}
QUrl FileUrl(const std::string& path) { return QUrl::fromLocalFile(QString::fromStdString(path)); }
std::unique_ptr<QMimeData> FileDrop(std::initializer_list<std::string> paths) {
  QList<QUrl> urls;
  for (const auto& path : paths) urls << FileUrl(path);
  return UrlDrop(urls);
}

// A folder tree to look at:
//   a.bin  b.bin  .hidden.bin  fifo  link_to_a -> a.bin  dangling -> missing
//   sub/x.bin  .hiddensub/  linkdir -> sub  drive/d.bin  drive/inner/  日本語/データ.bin
// "drive" stands in for a mounted file system in the drive list.
class InputFileSelectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    intToolKind = 2;
    InitLog(log_dir_.str());
    root_ = fs::canonical(tree_.path()).string();
    for (const char* folder : {"sub", ".hiddensub", "drive/inner", "日本語"})
      fs::create_directories(At(folder));
    for (const char* file :
         {"a.bin", "b.bin", ".hidden.bin", "sub/x.bin", "drive/d.bin", "日本語/データ.bin"})
      WriteFileBytes(At(file), "\x01\x02");
    ASSERT_EQ(mkfifo(At("fifo").c_str(), 0600), 0);
    fs::create_symlink("a.bin", At("link_to_a"));
    fs::create_symlink("missing", At("dangling"));
    fs::create_directory_symlink("sub", At("linkdir"));
    drives_ = {"/", At("drive")};

    txt_->setText("keep");
    host_.resize(600, 300);
    drv_->setGeometry(0, 0, 200, 20);
    dir_->setGeometry(0, 30, 200, 250);
    files_->setGeometry(210, 0, 200, 280);
    txt_->setGeometry(420, 0, 170, 20);
  }

  std::string At(const std::string& relative) const { return root_ + "/" + relative; }

  // The controller, started in the tree's top folder with the box holding "keep".
  InputFileSelection& Start() {
    selection_.reset();
    selection_ = std::make_unique<InputFileSelection>(drv_, dir_, files_, txt_, &host_,
                                                      [this] { return drives_; });
    selection_->SetFolder(root_);
    txt_->setText("keep");
    return *selection_;
  }
  void Show() {
    host_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host_));
  }

  std::vector<std::string> FolderRows() const {
    std::vector<std::string> rows;
    for (int i = 0; i < dir_->count(); ++i)
      rows.push_back(dir_->item(i)->data(Qt::UserRole).toByteArray().toStdString());
    return rows;
  }
  std::vector<std::string> FileRows() const {
    std::vector<std::string> rows;
    for (int i = 0; i < files_->count(); ++i) rows.push_back(files_->item(i)->text().toStdString());
    return rows;
  }
  int FolderRow(const std::string& path) const {
    const auto rows = FolderRows();
    const auto it = std::find(rows.begin(), rows.end(), path);
    return it == rows.end() ? -1 : static_cast<int>(it - rows.begin());
  }
  int FileRow(const std::string& name) const {
    const auto rows = FileRows();
    const auto it = std::find(rows.begin(), rows.end(), name);
    return it == rows.end() ? -1 : static_cast<int>(it - rows.begin());
  }
  QPoint RowCentre(QListWidget* list, int row) {
    return list->visualItemRect(list->item(row)).center();
  }
  // A click, then the double click as a window system delivers it.
  void DoubleClickFolder(const std::string& path) {
    const QPoint at = RowCentre(dir_, FolderRow(path));
    QTest::mouseClick(dir_->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(dir_->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(dir_->viewport(), Qt::LeftButton, {}, at);
  }
  std::string Box() const { return txt_->text().toStdString(); }
  std::vector<std::string> Log() const { return test::LogMessages(strLogFile[2]); }

  TempDir log_dir_;
  TempDir tree_;
  std::string root_;
  std::vector<std::string> drives_;
  FakeMessageBoxes boxes_;
  QWidget host_;
  QComboBox* drv_ = new QComboBox(&host_);
  QListWidget* dir_ = new QListWidget(&host_);
  QListWidget* files_ = new QListWidget(&host_);
  QLineEdit* txt_ = new QLineEdit(&host_);
  std::unique_ptr<InputFileSelection> selection_;
};

// Switches the process's current folder for one test.
class CurrentFolderScope {
 public:
  explicit CurrentFolderScope(const std::string& folder) : saved_(fs::current_path()) {
    fs::current_path(folder);
  }
  ~CurrentFolderScope() { fs::current_path(saved_); }

 private:
  fs::path saved_;
};

TEST_F(InputFileSelectionTest, StartsInTheProcessFolderListingOnlyVisibleFoldersAndRegularFiles) {
  {
    CurrentFolderScope scope(root_);
    selection_ = std::make_unique<InputFileSelection>(drv_, dir_, files_, txt_, &host_,
                                                      [this] { return drives_; });
  }
  EXPECT_EQ(Box(), "");
  EXPECT_EQ(selection_->CurrentFolder(), root_);
  EXPECT_EQ(selection_->FileListFolder(), root_);

  ASSERT_EQ(drv_->count(), 2);
  EXPECT_EQ(drv_->itemText(0), "/");
  EXPECT_EQ(selection_->CurrentDrive(), "/");

  // Ancestors from "/" down, then the visible subfolders (a link to a folder counts).
  std::vector<std::string> expected{"/"};
  for (auto pos = root_.find('/', 1); pos != std::string::npos; pos = root_.find('/', pos + 1))
    expected.push_back(root_.substr(0, pos));
  const int current = static_cast<int>(expected.size());
  expected.push_back(root_);
  for (const char* sub : {"drive", "linkdir", "sub", "日本語"}) expected.push_back(At(sub));
  EXPECT_EQ(FolderRows(), expected);
  EXPECT_EQ(dir_->currentRow(), current);
  EXPECT_TRUE(dir_->item(current)->isSelected());
  EXPECT_EQ(dir_->item(0)->text(), "/");
  EXPECT_EQ(dir_->item(current + 1)->text().trimmed(), "drive");
  auto indent = [&](int row) {
    const QString text = dir_->item(row)->text();
    return text.size() - text.trimmed().size();
  };
  EXPECT_GT(indent(current), indent(current - 1));
  EXPECT_GT(indent(current + 1), indent(current)) << "subfolders sit one level deeper";

  // No hidden file, FIFO, dangling link or folder; a link to a regular file counts.
  EXPECT_EQ(FileRows(), (std::vector<std::string>{"a.bin", "b.bin", "link_to_a"}));
  EXPECT_TRUE(files_->selectedItems().isEmpty());
  EXPECT_TRUE(Log().empty());
}

TEST_F(InputFileSelectionTest, StartsAtTheRootWhenTheProcessFolderIsGone) {
  fs::create_directory(At("gone"));
  {
    CurrentFolderScope scope(At("gone"));
    fs::remove(At("gone"));
    selection_ = std::make_unique<InputFileSelection>(drv_, dir_, files_, txt_, &host_,
                                                      [this] { return drives_; });
  }
  EXPECT_EQ(selection_->CurrentFolder(), "/");
  EXPECT_EQ(FolderRows().front(), "/");
  EXPECT_EQ(selection_->CurrentDrive(), "/");
}

TEST_F(InputFileSelectionTest, DoubleClickOrEnterOnAFolderEntryMovesFolderAndFileLists) {
  Start();
  Show();
  DoubleClickFolder(At("sub"));
  EXPECT_EQ(selection_->CurrentFolder(), At("sub"));
  EXPECT_EQ(FileRows(), std::vector<std::string>{"x.bin"});
  EXPECT_EQ(dir_->currentItem()->data(Qt::UserRole).toString().toStdString(), At("sub"));

  // A single click only highlights an entry; Enter moves there.
  QTest::mouseClick(dir_->viewport(), Qt::LeftButton, {}, RowCentre(dir_, FolderRow(root_)));
  EXPECT_EQ(selection_->CurrentFolder(), At("sub"));
  dir_->setFocus();
  QTest::keyClick(dir_, Qt::Key_Return);
  EXPECT_EQ(selection_->CurrentFolder(), root_);
  EXPECT_EQ(FileRows().front(), "a.bin");

  EXPECT_EQ(Box(), "keep");
  EXPECT_TRUE(Log().empty());
}

TEST_F(InputFileSelectionTest, ChoosingAnotherDriveMovesToItsRootAndKeepsTheBox) {
  Start();
  drv_->setCurrentIndex(1);  // what a choice in the drop-down does
  EXPECT_EQ(selection_->CurrentFolder(), At("drive"));
  EXPECT_EQ(FileRows(), std::vector<std::string>{"d.bin"});
  EXPECT_EQ(Box(), "keep");

  // A folder on a drive makes it the chosen drive; choosing that drive again moves nothing.
  selection_->SetFolder(At("drive/inner"));
  EXPECT_EQ(selection_->CurrentDrive(), At("drive"));
  selection_->SetDrive(At("drive"));
  EXPECT_EQ(selection_->CurrentFolder(), At("drive/inner"));

  selection_->SetDrive("/");
  EXPECT_EQ(selection_->CurrentFolder(), "/");
  EXPECT_THROW(selection_->SetDrive(At("sub")), RunTimeError);
  EXPECT_TRUE(Log().empty());
}

TEST_F(InputFileSelectionTest, ADriveThatCannotBeOpenedLeavesTheListsAndLogs) {
  drives_.push_back(At("unplugged"));
  Start();
  const auto folders = FolderRows();
  drv_->setCurrentIndex(2);
  EXPECT_EQ(Log(), std::vector<std::string>{"ファイルが見つかりません。(drvInDataFile_Change)"});
  EXPECT_EQ(selection_->CurrentFolder(), root_);
  EXPECT_EQ(FolderRows(), folders);
  EXPECT_EQ(FileRows().size(), 3u);
  EXPECT_EQ(drv_->currentText().toStdString(), At("unplugged"));
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(InputFileSelectionTest, SelectingAFileByMouseOrKeysFillsTheBox) {
  Start();
  Show();
  QTest::mouseClick(files_->viewport(), Qt::LeftButton, {}, RowCentre(files_, FileRow("b.bin")));
  EXPECT_EQ(Box(), At("b.bin"));
  files_->setFocus();
  QTest::keyClick(files_, Qt::Key_Down);
  EXPECT_EQ(Box(), At("link_to_a"));

  // A click on the file already selected fills the box again after an edit.
  txt_->setText("edited");
  QTest::mouseClick(files_->viewport(), Qt::LeftButton, {},
                    RowCentre(files_, FileRow("link_to_a")));
  EXPECT_EQ(Box(), At("link_to_a"));

  // Moving the folder list empties the selection without touching the box.
  selection_->SetFolder(At("sub"));
  EXPECT_TRUE(files_->selectedItems().isEmpty());
  EXPECT_EQ(Box(), At("link_to_a"));
  EXPECT_TRUE(Log().empty());
}

TEST_F(InputFileSelectionTest, AFileInTheRootGetsASingleSeparator) {
  const auto files = ListFiles("/");
  if (files.empty()) GTEST_SKIP() << "the root folder holds no regular file to pick";
  Start();
  selection_->SetFolder("/");
  files_->setCurrentRow(0);
  EXPECT_EQ(Box(), "/" + files.front());

  // Dropped, it shows the root in the folder list.
  selection_->SetFolder(root_);
  selection_->HandleDrop(*FileDrop({"/" + files.front()}));
  EXPECT_EQ(selection_->CurrentFolder(), "/");
  EXPECT_EQ(Box(), "/" + files.front());
}

TEST_F(InputFileSelectionTest, DroppingTwoFilesOnlyShowsTheMessage) {
  Start();
  selection_->SetFolder(At("sub"));
  selection_->HandleDrop(*FileDrop({At("a.bin"), At("drive/d.bin")}));
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, kOneFileOnly);
  EXPECT_EQ(boxes_.shown[0].icon, MsgIcon::Information);
  EXPECT_EQ(boxes_.shown[0].buttons, MsgButtons::Ok);
  EXPECT_EQ(Box(), "keep");
  EXPECT_EQ(selection_->CurrentFolder(), At("sub"));
  EXPECT_EQ(selection_->CurrentDrive(), "/");
  EXPECT_TRUE(Log().empty());
}

TEST_F(InputFileSelectionTest, DroppingOneFileMovesDriveAndListsToItsFolderAndFillsTheBox) {
  Start();
  selection_->SetFolder(At("drive/inner"));
  selection_->HandleDrop(*FileDrop({At("sub/x.bin")}));
  EXPECT_EQ(selection_->CurrentDrive(), "/");
  EXPECT_EQ(selection_->CurrentFolder(), At("sub"));
  EXPECT_EQ(selection_->FileListFolder(), At("sub"));
  EXPECT_EQ(FileRows(), std::vector<std::string>{"x.bin"});
  EXPECT_EQ(Box(), At("sub/x.bin"));

  selection_->HandleDrop(*FileDrop({At("drive/d.bin")}));
  EXPECT_EQ(selection_->CurrentDrive(), At("drive"));
  EXPECT_EQ(selection_->CurrentFolder(), At("drive"));
  EXPECT_EQ(Box(), At("drive/d.bin"));
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_TRUE(Log().empty());
}

TEST_F(InputFileSelectionTest, OnlyLocalFileUrlsCountAsDroppedFiles) {
  Start();
  // One local file among web addresses is one file.
  selection_->HandleDrop(*UrlDrop(
      {QUrl("http://example.com/a.bin"), FileUrl(At("a.bin")), QUrl("https://example.com/b.bin")}));
  EXPECT_EQ(Box(), At("a.bin"));

  txt_->setText("keep");
  selection_->HandleDrop(*UrlDrop({QUrl("http://example.com/a.bin")}));
  selection_->HandleDrop(*UrlDrop({QUrl("http://example.com/a.bin"), QUrl("ftp://h/b.bin")}));
  selection_->HandleDrop(
      *UrlDrop({QUrl("file://otherhost" + QString::fromStdString(At("a.bin")))}));
  selection_->HandleDrop(*UrlDrop({}));
  auto text = std::make_unique<QMimeData>();
  text->setText(QString::fromStdString(At("sub/x.bin")));
  selection_->HandleDrop(*text);

  EXPECT_EQ(Box(), "keep");
  EXPECT_EQ(selection_->CurrentFolder(), root_);
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_TRUE(Log().empty());
}

TEST_F(InputFileSelectionTest, ADroppedFolderOpensInTheFolderListAndNamesItselfInTheBox) {
  Start();
  for (const char* folder : {"sub", ".hiddensub", "drive/inner"}) {
    SCOPED_TRACE(folder);
    selection_->HandleDrop(*FileDrop({At(folder)}));
    EXPECT_EQ(selection_->CurrentFolder(), At(folder));
    EXPECT_EQ(selection_->FileListFolder(), At(folder));
    EXPECT_EQ(Box(), At(folder));
  }
  EXPECT_EQ(selection_->CurrentDrive(), At("drive"));
  EXPECT_TRUE(Log().empty());
}

TEST_F(InputFileSelectionTest, AHiddenSpecialOrMissingFileFailsTheDropAndLeavesTheBox) {
  struct Case {
    const char* file;
    const char* line;
  };
  for (const Case& c :
       {Case{".hidden.bin", "パスが見つかりません。(txtInFileName_OLEDragDrop)"},
        Case{"fifo", "パスが見つかりません。(txtInFileName_OLEDragDrop)"},
        Case{"dangling", "ファイルが見つかりません。(txtInFileName_OLEDragDrop)"},
        Case{"drive/gone.bin", "ファイルが見つかりません。(txtInFileName_OLEDragDrop)"}}) {
    SCOPED_TRACE(c.file);
    Start();
    selection_->HandleDrop(*FileDrop({At(c.file)}));
    EXPECT_EQ(Log().back(), c.line);
    EXPECT_EQ(Box(), "keep");
    EXPECT_TRUE(boxes_.shown.empty());
  }
  EXPECT_EQ(Log().size(), 4u);
  // The drive step had already run: the lists show the drive's root.
  EXPECT_EQ(selection_->CurrentDrive(), At("drive"));
  EXPECT_EQ(selection_->CurrentFolder(), At("drive"));
}

TEST_F(InputFileSelectionTest, JapaneseNamesAreListedPickedAndDropped) {
  Start();
  selection_->SetFolder(At("日本語"));
  ASSERT_EQ(FileRows(), std::vector<std::string>{"データ.bin"});
  files_->setCurrentRow(0);
  EXPECT_EQ(Box(), At("日本語/データ.bin"));

  selection_->SetFolder(root_);
  selection_->HandleDrop(*FileDrop({At("日本語/データ.bin")}));
  EXPECT_EQ(selection_->CurrentFolder(), At("日本語"));
  EXPECT_EQ(Box(), At("日本語/データ.bin"));
  EXPECT_EQ(dir_->currentItem()->text().trimmed(), "日本語");
}

// Names copied from a Windows machine keep their code page 932 bytes: shown as Japanese,
// and opened by those bytes; a byte that is no text at all shows as U+FFFD.
TEST_F(InputFileSelectionTest, NamesThatAreNoUtf8AreShownReadablyAndOpenedByTheirBytes) {
  const std::string folder = At("\x8E\x8E\x8C\xB1");  // 試験 in code page 932
  const std::string file = folder + "/bad\xFF.bin";
  fs::create_directory(folder);
  WriteFileBytes(file, "\x01");
  WriteFileBytes(At("\x8E\x8E\x8C\xB1.bin"), "\x02");
  Start();
  Show();
  EXPECT_NE(FileRow("試験.bin"), -1);
  files_->setCurrentRow(FileRow("試験.bin"));
  EXPECT_EQ(Box(), At("試験.bin"));
  EXPECT_EQ(selection_->FileNameToOpen(), At("\x8E\x8E\x8C\xB1.bin"));
  EXPECT_EQ(CheckInputFileName(selection_->FileNameToOpen()), InputFileCheck::kOk);

  DoubleClickFolder(folder);
  EXPECT_EQ(selection_->CurrentFolder(), folder);
  EXPECT_EQ(dir_->currentItem()->text().trimmed(), "試験");
  ASSERT_EQ(FileRows(), std::vector<std::string>{"bad\uFFFD.bin"});
  files_->setCurrentRow(0);
  EXPECT_EQ(Box(), At("試験/bad\uFFFD.bin"));
  EXPECT_EQ(selection_->FileNameToOpen(), file);
  EXPECT_EQ(CheckInputFileName(selection_->FileNameToOpen()), InputFileCheck::kOk);

  // A typed name is used as typed, also one that reads like a listed one.
  txt_->setText(QString::fromStdString(At("試験.bin")));
  EXPECT_EQ(selection_->FileNameToOpen(), At("試験.bin"));
  EXPECT_EQ(CheckInputFileName(selection_->FileNameToOpen()), InputFileCheck::kNoSuchFile);

  // A drop carries the bytes percent-encoded in its URL.
  selection_->SetFolder(root_);
  const QByteArray encoded = QByteArray::fromStdString(file).toPercentEncoding("/");
  selection_->HandleDrop(*UrlDrop({QUrl::fromEncoded("file://" + encoded)}));
  EXPECT_EQ(selection_->CurrentFolder(), folder);
  EXPECT_EQ(Box(), At("試験/bad\uFFFD.bin"));
  EXPECT_EQ(selection_->FileNameToOpen(), file);
  EXPECT_TRUE(Log().empty());
}

TEST_F(InputFileSelectionTest, AFolderRemovedWhileShownLogsAndTheListsStay) {
  Start();
  Show();
  const auto folders = FolderRows();
  const auto files = FileRows();
  fs::remove_all(At("sub"));
  DoubleClickFolder(At("sub"));
  EXPECT_EQ(Log(), std::vector<std::string>{"ファイルが見つかりません。(DirInDataFile_Change)"});
  EXPECT_EQ(selection_->CurrentFolder(), root_);
  EXPECT_EQ(FolderRows(), folders);
  EXPECT_EQ(FileRows(), files);
  EXPECT_TRUE(boxes_.shown.empty());

  // Setting the path from code raises to the caller instead.
  EXPECT_THROW(selection_->SetFolder(At("sub")), RunTimeError);
  EXPECT_EQ(FolderRows(), folders);
}

TEST_F(InputFileSelectionTest, TypingIntoTheBoxMovesNothing) {
  Start();
  const auto folders = FolderRows();
  txt_->clear();
  QTest::keyClicks(txt_, QString::fromStdString(At("sub/x.bin")));
  EXPECT_EQ(Box(), At("sub/x.bin"));
  EXPECT_EQ(selection_->CurrentFolder(), root_);
  EXPECT_EQ(FolderRows(), folders);
  EXPECT_EQ(FileRows().size(), 3u);
}

TEST_F(InputFileSelectionTest, RealDropEventsOnTheBoxNeverInsertText) {
  Start();
  QMimeData text;
  text.setText("typed text");
  QDragEnterEvent enter_text(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, {});
  QApplication::sendEvent(txt_, &enter_text);
  EXPECT_FALSE(enter_text.isAccepted());
  QDropEvent drop_text(QPointF(5, 5), Qt::CopyAction, &text, Qt::LeftButton, {});
  QApplication::sendEvent(txt_, &drop_text);
  QCoreApplication::processEvents();
  EXPECT_EQ(Box(), "keep");

  // A file dropped with a text form as well (as file managers do) names the file.
  const auto files = FileDrop({At("sub/x.bin")});
  files->setText("text form");
  QDragEnterEvent enter_files(QPoint(5, 5), Qt::CopyAction, files.get(), Qt::LeftButton, {});
  QApplication::sendEvent(txt_, &enter_files);
  EXPECT_TRUE(enter_files.isAccepted());
  QDropEvent drop_files(QPointF(5, 5), Qt::CopyAction, files.get(), Qt::LeftButton, {});
  QApplication::sendEvent(txt_, &drop_files);
  EXPECT_TRUE(drop_files.isAccepted());
  QCoreApplication::processEvents();
  EXPECT_EQ(Box(), At("sub/x.bin"));
  EXPECT_EQ(selection_->CurrentFolder(), At("sub"));
}

}  // namespace
}  // namespace ostrel
