#include "working_folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>

#include "common/path_text.h"
#include "common/run_time_error.h"
#include "logging/error_handler.h"
#include "logging/operation_log.h"

namespace ostrel {

std::string strConfigFolder;
std::string strTempFolder;
std::string strLogFolder;
std::array<std::string, kToolKindCount> strSettingFile;

namespace {

std::string g_program_folder_override;

std::string RealProgramFolder() {
  const std::string exe = ExecutablePath();
  if (exe.empty()) throw RunTimeError(desc::kPathNotFound);
  const std::string folder = GetFolderPath(exe);
  return folder.empty() ? std::string(1, kPathSeparator) : folder;
}

}  // namespace

std::string ExecutablePath() {
  char buffer[PATH_MAX + 1];
  const ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
  // A path that fills the buffer may have been cut: no path rather than a wrong one.
  return n > 0 && n < PATH_MAX ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string ProgramFolder() {
  return g_program_folder_override.empty() ? RealProgramFolder() : g_program_folder_override;
}

void SetProgramFolderForTesting(const std::string& folder) { g_program_folder_override = folder; }

bool SetDefine() {
  return RunHandled("SetDefine", [] {
    const std::string program = AddBackslash(ProgramFolder());
    strConfigFolder = program + "Config";
    strTempFolder = program + "Temp";
    strLogFolder = program + "Log";
    const std::string config = AddBackslash(strConfigFolder);
    for (int kind = 0; kind < kToolKindCount; ++kind) {
      const auto name = kToolKinds[kind].setting_file;
      strSettingFile[kind] = name.empty() ? std::string() : config + std::string(name);
    }
  });
}

void MakeFolder(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) return;  // something of that name is there already
  if (mkdir(path.c_str(), 0777) != 0) ThrowFileError(errno);
}

bool ClearFolder(const std::string& path, uint8_t flag) {
  const int dir_fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (dir_fd < 0) return false;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(dir_fd), closedir);
  if (!dir) {
    close(dir_fd);
    return false;
  }
  // Files and links go; a link is unlinked itself and never followed. Subfolders stay.
  while (const dirent* entry = readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (fstatat(dir_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (S_ISDIR(st.st_mode)) continue;
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) continue;
    if (unlinkat(dir_fd, entry->d_name, 0) != 0) return false;
  }
  dir.reset();
  if (flag != 1 && rmdir(path.c_str()) != 0) return false;
  return true;
}

bool InitEnvironment(int16_t intKind) {
  intToolKind = intKind;
  try {
    if (!SetDefine()) return false;
    MakeFolder(strLogFolder);
    InitLog(strLogFolder);
    MakeFolder(strConfigFolder);
    MakeFolder(strTempFolder);
    // A Temp that is a link, to a folder or anywhere else, is kept and not emptied: its
    // target is no folder of this program and may be another user's, and the files there
    // were never put there by this program. ClearFolder refuses to follow it (O_NOFOLLOW)
    // and start-up goes on, since nothing of the program is kept in Temp.
    ClearFolder(strTempFolder, 1);
    return true;
  } catch (...) {
    return false;  // start-up ends; nothing is written here
  }
}

}  // namespace ostrel
