#include "operation_log.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/cp932.h"
#include "common/path_text.h"
#include "common/run_time_error.h"
#include "common/shared_folder.h"

namespace ostrel {

std::array<std::string, kToolKindCount> strLogFile;
std::array<std::string, kToolKindCount> strToolKindName;
std::string strHostName;
int16_t intLogMaxSize = 0;
int16_t intLogGenerations = 0;

namespace {

constexpr int16_t kDefaultLogMaxSize = 3;       // MiB, for a size below 1
constexpr int16_t kDefaultLogGenerations = 10;  // for a count below 1
constexpr int64_t kMiB = 1024 * 1024;

// Existence of a generation is tested for regular files only.
bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int64_t FileLength(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) ThrowFileError(errno);
  return static_cast<int64_t>(st.st_size);
}

void DeleteFile(const std::string& path) {
  if (unlink(path.c_str()) != 0) ThrowFileError(errno);
}

// Moves `from` to `to`; a move onto an existing name fails, it never replaces.
void MoveFile(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
  if (errno != EINVAL && errno != ENOSYS) ThrowFileError(errno);
  // A file system without RENAME_NOREPLACE: test first, then rename.
  struct stat st {};
  if (lstat(to.c_str(), &st) == 0) ThrowFileError(EEXIST);
  if (rename(from.c_str(), to.c_str()) != 0) ThrowFileError(errno);
}

std::string Generation(const std::string& path, int n) { return path + "." + std::to_string(n); }

// Opens the log for appending, creating it when missing. A log made in a shared folder
// gets the group's write permission, so the next member of the group can append to it.
int OpenForAppend(const std::string& path) {
  constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY;
  int fd = open(path.c_str(), kFlags);
  if (fd >= 0 || errno != ENOENT) return fd;
  fd = open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
  if (fd >= 0) {
    ShareNewFile(fd, path);
    return fd;
  }
  // Made by someone else meanwhile, or a link to a missing file: as any append would.
  return errno == EEXIST ? open(path.c_str(), kFlags | O_CREAT, 0644) : fd;
}

}  // namespace

void InitLog(const std::string& strFolder) {
  char buffer[256];
  if (gethostname(buffer, sizeof buffer) != 0) ThrowFileError(errno);
  const std::string_view name(buffer, sizeof buffer);
  const auto nul = name.find('\0');
  if (nul == std::string_view::npos) throw RunTimeError(desc::kInvalidArgument);
  strHostName = std::string(name.substr(0, nul));

  const std::string folder = AddBackslash(strFolder);
  for (int kind = 0; kind < kToolKindCount; ++kind) {
    strToolKindName[kind] = std::string(kToolKinds[kind].identifier);
    strLogFile[kind] = folder + std::string(kToolKinds[kind].log_file);
  }
}

std::string LogTimeStamp(const LocalTime& t) {
  const int tenths = t.millisecond <= 99 ? 0 : std::to_string(t.millisecond).front() - '0';
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02d/%02d/%02d %02d:%02d:%02d.%d", t.year % 100, t.month,
                t.day, t.hour, t.minute, t.second, tenths);
  return buffer;
}

std::string LogLineText(std::string_view strMessage, std::string_view strTimeStamp,
                        int16_t intCode) {
  const int code = intCode == 0 ? 1001 : intCode;
  char code_text[16];
  // At least four digits, the sign in front of them ("-0005").
  std::snprintf(code_text, sizeof code_text, code < 0 ? "-%04d" : "%04d", code < 0 ? -code : code);
  std::string line = code_text;
  line += ' ';
  line += strTimeStamp.empty() ? LogTimeStamp(CurrentClock().Now()) : std::string(strTimeStamp);
  line += ' ';
  line += strHostName;
  line += ' ';
  line += strMessage;
  return line;
}

void WriteLog(int intKind, std::string_view strMessage, std::string_view strTimeStamp,
              int16_t intCode) noexcept {
  try {
    if (intKind < 0 || intKind >= kToolKindCount) return;
    const std::string& path = strLogFile[intKind];
    if (path.empty()) return;  // the log has not started yet
    const std::string bytes = Utf8ToCp932(LogLineText(strMessage, strTimeStamp, intCode)) + "\r\n";
    const int fd = OpenForAppend(path);
    if (fd < 0) return;
    // One write per line, so lines of two processes appending to the same file stay whole.
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(fd);
  } catch (...) {
    // The log is the last resort: a line that cannot be written is lost.
  }
}

void RotateLog(const std::string& strPath, int16_t& intMaxSize, int16_t& intGenerations) {
  if (intMaxSize < 1) intMaxSize = kDefaultLogMaxSize;
  if (intGenerations < 1) intGenerations = kDefaultLogGenerations;
  if (!IsRegularFile(strPath)) return;

  // 64-bit, so every positive size works (32767 MiB at most).
  const int64_t limit = static_cast<int64_t>(intMaxSize) * kMiB;
  if (FileLength(strPath) <= limit) return;

  if (intGenerations == 1) {
    // Only the live file is kept: drop it, and the next line starts a new one.
    DeleteFile(strPath);
    return;
  }
  const std::string oldest = Generation(strPath, intGenerations - 1);
  if (IsRegularFile(oldest)) DeleteFile(oldest);
  for (int i = intGenerations - 1; i >= 1; --i) {
    const std::string from = Generation(strPath, i);
    if (IsRegularFile(from)) MoveFile(from, Generation(strPath, i + 1));
  }
  if (IsRegularFile(strPath)) MoveFile(strPath, Generation(strPath, 1));
}

}  // namespace ostrel
