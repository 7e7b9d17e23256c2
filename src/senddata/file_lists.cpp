#include "file_lists.h"

#include <mntent.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <filesystem>

#include "common/path_text.h"
#include "common/run_time_error.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

// True when `path` is `folder` or lies below it.
bool IsAtOrBelow(const std::string& path, const std::string& folder) {
  if (folder == "/") return !path.empty() && path.front() == '/';
  return path.compare(0, folder.size(), folder) == 0 &&
         (path.size() == folder.size() || path[folder.size()] == '/');
}

// The same rule a desktop's volume list uses: kernel interfaces, run-time folders and
// file systems without blocks (proc, cgroup and the like) are no place for data files.
bool IsUserVolume(const mntent& entry) {
  const std::string dir = entry.mnt_dir;
  for (const char* special : {"/dev", "/proc", "/sys", "/var/run", "/var/lock"}) {
    if (IsAtOrBelow(dir, special)) return false;
  }
  if (std::string(entry.mnt_type) == "rootfs") return false;
  struct statvfs info {};
  return statvfs(entry.mnt_dir, &info) == 0 && info.f_blocks > 0;
}

template <typename Visit>
void ForEachVisibleEntry(const std::string& folder, Visit visit) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) ThrowFileError(ec.value());
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) ThrowFileError(ec.value());
    const std::string name = it->path().filename().string();
    if (!IsHiddenName(name)) visit(*it, name);
  }
}

}  // namespace

std::vector<std::string> DriveList() {
  std::vector<std::string> drives;
  if (FILE* mounts = setmntent("/proc/self/mounts", "r")) {
    mntent entry{};
    char buffer[4096];
    while (getmntent_r(mounts, &entry, buffer, sizeof buffer)) {
      const std::string dir = entry.mnt_dir;
      if (dir == "/" || std::find(drives.begin(), drives.end(), dir) != drives.end()) continue;
      if (IsUserVolume(entry)) drives.push_back(dir);
    }
    endmntent(mounts);
  }
  std::sort(drives.begin(), drives.end());
  drives.insert(drives.begin(), "/");
  return drives;
}

std::string DriveOf(const std::string& path, const std::vector<std::string>& drives) {
  std::string best = "/";
  for (const auto& drive : drives) {
    if (drive.size() > best.size() && IsAtOrBelow(path, drive)) best = drive;
  }
  return best;
}

std::string NormalFolderPath(const std::string& folder) {
  if (folder.empty()) return "/";
  std::string text = fs::absolute(fs::path(folder)).lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

FolderListing ListFolder(const std::string& folder) {
  const std::string path = NormalFolderPath(folder);
  FolderListing listing;
  listing.ancestors.push_back("/");
  for (std::size_t pos = path.find('/', 1); path.size() > 1; pos = path.find('/', pos + 1)) {
    listing.ancestors.push_back(path.substr(0, pos));
    if (pos == std::string::npos) break;
  }
  ForEachVisibleEntry(path, [&](const fs::directory_entry& entry, const std::string&) {
    std::error_code ec;
    if (entry.is_directory(ec)) listing.subfolders.push_back(entry.path().string());
  });
  std::sort(listing.subfolders.begin(), listing.subfolders.end());
  return listing;
}

std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> files;
  ForEachVisibleEntry(folder, [&](const fs::directory_entry& entry, const std::string& name) {
    std::error_code ec;
    if (entry.is_regular_file(ec)) files.push_back(name);
  });
  std::sort(files.begin(), files.end());
  return files;
}

bool IsNormalFile(const std::string& path) {
  std::error_code ec;
  return !IsHiddenName(fs::path(path).filename().string()) && fs::is_regular_file(path, ec);
}

}  // namespace ostrel
