#include "file_lists.h"

#include <mntent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "common/run_time_error.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

template <typename Visit>
void ForEachEntry(const std::string& folder, Visit visit) {
  std::error_code ec;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  if (ec) ThrowFileError(ec.value());
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) ThrowFileError(ec.value());
    const std::string name = it->path().filename().string();
    if (name.empty() || name.front() == '.') continue;  // hidden
    visit(*it, name);
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
      if (dir != "/" && std::find(drives.begin(), drives.end(), dir) == drives.end())
        drives.push_back(dir);
    }
    endmntent(mounts);
  }
  std::sort(drives.begin(), drives.end());
  drives.insert(drives.begin(), "/");
  return drives;
}

std::string DriveOf(const std::string& path, const std::vector<std::string>& drives) {
  std::string best = "/";
  for (const auto& d : drives) {
    const bool prefix = path == d || (path.rfind(d, 0) == 0 && (d == "/" || path[d.size()] == '/'));
    if (prefix && d.size() > best.size()) best = d;
  }
  return best;
}

FolderListing ListFolder(const std::string& folder) {
  FolderListing listing;
  const fs::path path = fs::path(folder).lexically_normal();
  fs::path walked;
  for (const auto& part : path) {
    if (part.empty()) continue;
    walked /= part;
    const std::string text = walked.string();
    if (listing.ancestors.empty() || text != listing.ancestors.back())
      listing.ancestors.push_back(text.size() > 1 && text.back() == '/' ? text.substr(0, text.size() - 1) : text);
  }
  ForEachEntry(folder, [&](const fs::directory_entry& entry, const std::string&) {
    std::error_code ec;
    if (entry.is_directory(ec)) listing.subfolders.push_back(entry.path().string());
  });
  std::sort(listing.subfolders.begin(), listing.subfolders.end());
  return listing;
}

std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> files;
  ForEachEntry(folder, [&](const fs::directory_entry& entry, const std::string& name) {
    std::error_code ec;
    if (entry.is_regular_file(ec)) files.push_back(name);
  });
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace ostrel
