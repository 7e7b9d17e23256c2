#include "input_file_selection.h"

#include <QComboBox>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>
#include <filesystem>

#include "common/path_text.h"
#include "common/run_time_error.h"
#include "file_lists.h"
#include "logging/error_handler.h"
#include "ui/ui_support.h"

namespace ostrel {
namespace {

constexpr const char* kOneFileOnly = "ドロップファイルは１ファイルのみ可能です。";
constexpr int kIndentPerLevel = 2;  // blanks per folder level in the folder list

// A path for the screen; the bytes stay with the entry that shows it.
QString ToText(const std::string& path) { return QString::fromStdString(DisplayPathText(path)); }
QByteArray ToBytes(const std::string& path) {
  return QByteArray(path.data(), static_cast<qsizetype>(path.size()));
}
std::string BytesOf(const QListWidgetItem& item) {
  return item.data(Qt::UserRole).toByteArray().toStdString();
}

// The path of a local file URL as the file system's bytes: the URL carries them
// percent-encoded, also where they are no UTF-8, which the URL's text form would lose.
std::string LocalFileBytes(const QUrl& url) {
  return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

// The last part of a folder path; "/" for the root.
std::string EntryName(const std::string& folder) {
  if (folder == "/") return folder;
  return folder.substr(folder.rfind('/') + 1);
}

// A file URL without a host is a file of this computer; file URLs naming another host,
// and every other scheme, are not files the program can read.
bool IsLocalFileUrl(const QUrl& url) { return url.isLocalFile() && url.host().isEmpty(); }

}  // namespace

InputFileSelection::InputFileSelection(QComboBox* drvInDataFile, QListWidget* DirInDataFile,
                                       QListWidget* FileInDataFile, QLineEdit* txtInFileName,
                                       QObject* parent, DriveSource drives)
    : QObject(parent),
      drvInDataFile_(drvInDataFile),
      DirInDataFile_(DirInDataFile),
      FileInDataFile_(FileInDataFile),
      txtInFileName_(txtInFileName),
      drive_source_(drives ? std::move(drives) : DriveSource(DriveList)) {
  connect(drvInDataFile_, &QComboBox::currentIndexChanged, this,
          &InputFileSelection::drvInDataFile_Change);
  connect(DirInDataFile_, &QListWidget::itemDoubleClicked, this,
          &InputFileSelection::EnterFolderEntry);
  DirInDataFile_->installEventFilter(this);  // Enter on a folder entry
  // A selection made with the keys raises only the first signal, a click on the file
  // already selected only the second; a click on another file both, to the same effect.
  connect(FileInDataFile_, &QListWidget::itemSelectionChanged, this,
          &InputFileSelection::FileInDataFile_Click);
  connect(FileInDataFile_, &QListWidget::itemClicked, this,
          &InputFileSelection::FileInDataFile_Click);
  txtInFileName_->setAcceptDrops(true);
  txtInFileName_->installEventFilter(this);
  txtInFileName_->clear();

  RefreshDrives();
  try {
    SetFolder(std::filesystem::current_path().string());
  } catch (const std::exception&) {
    // A current folder that has gone away (or is unreadable) is no place to start from;
    // the root always exists.
    try {
      SetFolder("/");
    } catch (const std::exception&) {
    }
  }
}

std::string InputFileSelection::CurrentDrive() const {
  const int index = drvInDataFile_->currentIndex();
  if (index < 0 || index >= static_cast<int>(drives_.size())) return {};
  return drives_[index];
}

void InputFileSelection::SetDrive(const std::string& drive) {
  const auto found = std::find(drives_.begin(), drives_.end(), drive);
  if (found == drives_.end()) throw RunTimeError(desc::kInvalidPropertyValue);
  // Choosing the drive already chosen moves nothing, like choosing it in the list.
  drvInDataFile_->setCurrentIndex(static_cast<int>(found - drives_.begin()));
}

void InputFileSelection::SetFolder(const std::string& folder) {
  const std::string target = NormalFolderPath(folder);
  const FolderListing listing = ListFolder(target);
  {
    const QSignalBlocker quiet(DirInDataFile_);
    DirInDataFile_->clear();
    const QIcon open = DirInDataFile_->style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = DirInDataFile_->style()->standardIcon(QStyle::SP_DirClosedIcon);
    int depth = 0;
    auto add = [&](const std::string& path, const QIcon& icon) {
      auto* item = new QListWidgetItem(
          icon, QString(depth * kIndentPerLevel, ' ') + ToText(EntryName(path)));
      item->setData(Qt::UserRole, ToBytes(path));
      DirInDataFile_->addItem(item);
    };
    for (const auto& ancestor : listing.ancestors) {
      add(ancestor, open);
      ++depth;
    }
    for (const auto& sub : listing.subfolders) add(sub, closed);
    QListWidgetItem* current = DirInDataFile_->item(static_cast<int>(listing.ancestors.size()) - 1);
    DirInDataFile_->setCurrentItem(current);
    DirInDataFile_->scrollToItem(current);
  }
  folder_ = target;
  // Linux has no separate current folder per drive: a folder on another mount simply
  // makes that mount the chosen drive.
  ShowDriveOf(folder_);
  DirInDataFile_Change();
}

void InputFileSelection::HandleDrop(const QMimeData& data) {
  if (!data.hasUrls()) return;  // text or anything else that is not a list of files
  txtInFileName_OLEDragDrop(data.urls());
}

bool InputFileSelection::eventFilter(QObject* watched, QEvent* event) {
  if (watched == txtInFileName_) {
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (drag->mimeData()->hasUrls()) {
          drag->acceptProposedAction();
        } else {
          drag->ignore();
        }
        return true;  // the box never shows a text drop cursor
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!drop->mimeData()->hasUrls()) {
          drop->ignore();
          return true;
        }
        drop->acceptProposedAction();
        // Handled on the next pass of the event loop: a message box opened inside the
        // drop would keep the file manager waiting for the end of its drag.
        QMetaObject::invokeMethod(
            this, [this, urls = drop->mimeData()->urls()] { txtInFileName_OLEDragDrop(urls); },
            Qt::QueuedConnection);
        return true;
      }
      default:
        break;
    }
  } else if (watched == DirInDataFile_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      EnterFolderEntry(DirInDataFile_->currentItem());
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

std::string InputFileSelection::FileNameToOpen() const {
  return box_name_.BytesFor(txtInFileName_->text().toStdString());
}

void InputFileSelection::drvInDataFile_Change() {
  RunHandled("drvInDataFile_Change", [&] {
    const std::string drive = CurrentDrive();
    if (!drive.empty()) SetFolder(drive);
  });
}

void InputFileSelection::DirInDataFile_Change() {
  RunHandled("DirInDataFile_Change", [&] { ShowFiles(folder_); });
}

void InputFileSelection::FileInDataFile_Click() {
  RunHandled("FileInDataFile_Click", [&] {
    const QList<QListWidgetItem*> selected = FileInDataFile_->selectedItems();
    if (selected.isEmpty()) return;
    const std::string path = AddBackslash(file_folder_) + BytesOf(*selected.front());
    txtInFileName_->setText(QString::fromStdString(box_name_.Show(path)));
  });
}

void InputFileSelection::txtInFileName_OLEDragDrop(const QList<QUrl>& urls) {
  RunHandled("txtInFileName_OLEDragDrop", [&] {
    std::vector<std::string> files;
    for (const QUrl& url : urls) {
      if (IsLocalFileUrl(url)) files.push_back(LocalFileBytes(url));
    }
    if (files.size() > 1) {
      ShowMessage(txtInFileName_->window(), kOneFileOnly, MsgIcon::Information);
      return;
    }
    if (files.empty()) return;
    const std::string& dropped = files.front();
    std::string folder = GetFolderPath(dropped);
    if (folder.empty()) folder = "/";  // a file directly in the root
    RefreshDrives();                   // a stick plugged in after start counts too
    SetDrive(DriveOf(folder, drives_));
    // A folder opens itself in the folder list; a hidden or special file fails here,
    // since it is no folder, and the box keeps its text.
    SetFolder(IsNormalFile(dropped) ? folder : dropped);
    txtInFileName_->setText(QString::fromStdString(box_name_.Show(dropped)));
  });
}

void InputFileSelection::EnterFolderEntry(const QListWidgetItem* item) {
  if (item == nullptr) return;
  const std::string folder = BytesOf(*item);
  RunHandled("DirInDataFile_Change", [&] { SetFolder(folder); });
}

void InputFileSelection::RefreshDrives() {
  std::vector<std::string> drives = drive_source_();
  std::erase(drives, "/");
  drives.insert(drives.begin(), "/");  // the root is always there, and first
  if (drives == drives_) return;
  drives_ = std::move(drives);
  {
    const QSignalBlocker quiet(drvInDataFile_);
    drvInDataFile_->clear();
    for (const auto& drive : drives_) drvInDataFile_->addItem(ToText(drive));
  }
  ShowDriveOf(folder_.empty() ? "/" : folder_);
}

void InputFileSelection::ShowDriveOf(const std::string& folder) {
  const auto found = std::find(drives_.begin(), drives_.end(), DriveOf(folder, drives_));
  const QSignalBlocker quiet(drvInDataFile_);
  drvInDataFile_->setCurrentIndex(
      found == drives_.end() ? -1 : static_cast<int>(found - drives_.begin()));
}

void InputFileSelection::ShowFiles(const std::string& folder) {
  const std::vector<std::string> files = ListFiles(folder);
  const QSignalBlocker quiet(FileInDataFile_);
  FileInDataFile_->clear();
  for (const auto& name : files) {
    auto* item = new QListWidgetItem(ToText(name), FileInDataFile_);
    item->setData(Qt::UserRole, ToBytes(name));
  }
  file_folder_ = folder;
}

}  // namespace ostrel
