#pragma once
// The input-file area of the main window: the drive list, the folder list and the file
// list follow each other, and a click on a file or a file dropped onto the file-name box
// puts the file's full path into the box. Nothing here loads the file; "入力" uses
// whatever text the box holds when it is pressed.
//
//   drive chosen ──► folder list at the drive's root ──► file list of that folder
//   folder entry double-clicked / Enter ──► folder list moves ──► file list follows
//   file selected (mouse or keys) ──► txtInFileName = folder + "/" + name
//   files dropped on txtInFileName ──► drive, folder (and so file list), then the box
//
// A path set from code ripples down the same way (drive, then folder, then file list).
// Typing into the box moves nothing. Every event runs under the handler convention: a
// failure writes "description(Tag)" to the log and leaves the list where it was.

#include <QList>
#include <QObject>
#include <QUrl>
#include <functional>
#include <string>
#include <vector>

#include "file_name_text.h"

class QComboBox;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMimeData;

namespace ostrel {

class InputFileSelection : public QObject {
  Q_OBJECT

 public:
  // Gives the drive list's entries, "/" first; DriveList() unless a test stands in.
  using DriveSource = std::function<std::vector<std::string>()>;

  // Takes over the behaviour of the four controls, which must outlive this object (it
  // does not own them; give it one of their ancestors as `parent`). Fills the lists with
  // the process's current drive and folder ("/" when that cannot be listed) and empties
  // the file-name box. Enables drops on the box and handles them itself, so dropped text
  // is never inserted.
  InputFileSelection(QComboBox* drvInDataFile, QListWidget* DirInDataFile,
                     QListWidget* FileInDataFile, QLineEdit* txtInFileName,
                     QObject* parent = nullptr, DriveSource drives = nullptr);

  // The drive list's chosen mount point.
  std::string CurrentDrive() const;
  // The folder list's path (DirInDataFile.Path): absolute, no trailing "/".
  std::string CurrentFolder() const { return folder_; }
  // The folder whose files the file list shows (FileInDataFile.Path). It differs from
  // CurrentFolder() only when the files of the current folder could not be listed.
  std::string FileListFolder() const { return file_folder_; }

  // drvInDataFile.Drive = `drive`: when it is another drive than the chosen one, the
  // folder list moves to its root, and the file list follows. Raises RunTimeError when
  // `drive` is not in the drive list.
  void SetDrive(const std::string& drive);

  // DirInDataFile.Path = `folder` ("" is "/", a relative path counts from the process's
  // current folder): the folder list shows it, the drive list its drive, and the file
  // list follows. Raises RunTimeError, leaving all lists as they were, when `folder`
  // cannot be opened as a folder.
  void SetFolder(const std::string& folder);

  // Applies the drop rule to `data` as if it had been dropped onto the file-name box.
  void HandleDrop(const QMimeData& data);

  // The name "入力" opens: the file system's own bytes of the file a click or a drop put
  // into the box, while the box shows it unchanged; else the box's text as typed.
  std::string FileNameToOpen() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void drvInDataFile_Change();
  void DirInDataFile_Change();
  void FileInDataFile_Click();
  void txtInFileName_OLEDragDrop(const QList<QUrl>& urls);
  // A folder entry was double-clicked or confirmed with Enter.
  void EnterFolderEntry(const QListWidgetItem* item);

  // Reads the drive list again and shows it, keeping the current folder's drive chosen.
  void RefreshDrives();
  // Chooses the drive of `folder` without raising the change event.
  void ShowDriveOf(const std::string& folder);
  // Replaces the file list with the files of `folder`; raises when it cannot be read.
  void ShowFiles(const std::string& folder);

  QComboBox* drvInDataFile_;
  QListWidget* DirInDataFile_;
  QListWidget* FileInDataFile_;
  QLineEdit* txtInFileName_;
  DriveSource drive_source_;
  std::vector<std::string> drives_;
  std::string folder_;
  std::string file_folder_;
  // Paths and names are the file system's bytes; the lists and the box show their
  // DisplayPathText, and each list entry keeps its bytes beside its text.
  NameBehindText box_name_;
};

}  // namespace ostrel
