#pragma once
// The contents of the input-file lists: the drive list holds the mounted file systems'
// root folders ("/" first), the folder list the path from "/" down to the current folder
// followed by its subfolders, the file list the regular, non-hidden files of a folder.
// "Hidden" means a name beginning with a dot.

#include <string>
#include <vector>

namespace ostrel {

// Mount points of the mounted file systems a user keeps files on, "/" first, the rest
// sorted. Kernel and pseudo file systems (anything under /dev, /proc, /sys, /var/run,
// /var/lock, and file systems of no size) are left out.
std::vector<std::string> DriveList();

// The mount point in `drives` that holds the absolute `path` (the longest one that is
// `path` itself or a folder above it); "/" when none is.
std::string DriveOf(const std::string& path, const std::vector<std::string>& drives);

// `folder` made absolute (against the process's current folder) and lexically normal,
// without a trailing separator; "" stands for "/".
std::string NormalFolderPath(const std::string& folder);

struct FolderListing {
  std::vector<std::string> ancestors;   // "/", "/home", "/home/op" (the last is the folder)
  std::vector<std::string> subfolders;  // full paths, sorted, hidden ones left out
};
// The listing of NormalFolderPath(folder). Links to folders count as subfolders.
// Raises RunTimeError when `folder` cannot be opened as a folder (missing, unreadable,
// or not a folder at all).
FolderListing ListFolder(const std::string& folder);

// Names (not paths) of the regular, non-hidden files of `folder`, sorted. Links to
// regular files count. Raises RunTimeError when the folder cannot be opened.
std::vector<std::string> ListFiles(const std::string& folder);

// True when `path` names an existing regular file (links followed) whose name is not
// hidden: what a lookup "with normal attributes" finds. Never opens the file.
bool IsNormalFile(const std::string& path);

}  // namespace ostrel
