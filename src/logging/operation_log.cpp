#include "operation_log.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "common/cp932.h"
#include "common/display_text.h"
#include "common/path_text.h"
#include "common/run_time_error.h"
#include "log_files.h"

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

std::atomic<uint64_t> lost_lines{0};

// Existence of a generation is tested for regular files only; a link is none.
bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int64_t FileLength(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) ThrowFileError(errno);
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
  return DateTimeText(t) + '.' + std::to_string(tenths);
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
    const int fd = OpenOrCreateLogFile(path, kLogAppend);
    const bool written = fd >= 0 && AppendWhole(fd, bytes);
    if (fd >= 0) close(fd);
    if (!written) lost_lines.fetch_add(1, std::memory_order_relaxed);
  } catch (...) {
    // The log is the last resort: a line that cannot be written is lost.
    lost_lines.fetch_add(1, std::memory_order_relaxed);
  }
}

uint64_t LostLogLines() noexcept { return lost_lines.load(std::memory_order_relaxed); }

int LogAppendError(const std::string& path) noexcept {
  const int fd = OpenLogFile(path, kLogAppend);
  if (fd >= 0) {
    close(fd);
    return 0;
  }
  if (errno != ENOENT) return errno;
  // The first line creates the file: the folder must take it.
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  return access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

void RotateLog(const std::string& strPath, int16_t& intMaxSize, int16_t& intGenerations) {
  if (intMaxSize < 1) intMaxSize = kDefaultLogMaxSize;
  if (intGenerations < 1) intGenerations = kDefaultLogGenerations;
  if (!IsRegularFile(strPath)) return;

  // 64-bit, so every positive size works (32767 MiB at most).
  const int64_t limit = static_cast<int64_t>(intMaxSize) * kMiB;
  if (FileLength(strPath) <= limit) return;

  // Another process may have rotated meanwhile: under the lock, look again.
  const RotationLock lock(strPath);
  if (lock.Busy() || !IsRegularFile(strPath) || FileLength(strPath) <= limit) return;

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
