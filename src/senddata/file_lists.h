#pragma once
// The contents of the input-file lists: the drive list holds the mounted file systems'
// root folders ("/" first), the folder list the path from "/" down to the current folder
// followed by its subfolders, the file list the regular, non-hidden files of a folder.

#include <string>
#include <vector>

namespace ostrel {

// Mount points of the mounted file systems, "/" first, the rest sorted.
std::vector<std::string> DriveList();

// The mount point that holds `path` (the longest mount point that is a prefix of it).
std::string DriveOf(const std::string& path, const std::vector<std::string>& drives);

struct FolderListing {
  std::vector<std::string> ancestors;   // "/", "/home", "/home/op" (the last is the folder)
  std::vector<std::string> subfolders;  // full paths, sorted, hidden ones left out
};
// Raises RunTimeError when `folder` cannot be opened.
FolderListing ListFolder(const std::string& folder);

// Names (not paths) of the regular, non-hidden files of `folder`, sorted. Links to
// regular files count. Raises RunTimeError when the folder cannot be opened.
std::vector<std::string> ListFiles(const std::string& folder);

}  // namespace ostrel
