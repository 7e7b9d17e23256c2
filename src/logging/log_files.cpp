#include "log_files.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "common/shared_folder.h"

namespace ostrel {
namespace {

constexpr int kNoFollow = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr auto kLockWait = std::chrono::seconds(1);

}  // namespace

int OpenLogFile(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags | kNoFollow);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return fd;
  close(fd);
  errno = EINVAL;
  return -1;
}

int OpenOrCreateLogFile(const std::string& path, int flags) {
  const int fd = OpenLogFile(path, flags);
  if (fd >= 0 || errno != ENOENT) return fd;
  const int made = open(path.c_str(), flags | kNoFollow | O_CREAT | O_EXCL, 0644);
  if (made >= 0) {
    ShareNewFile(made, path);
    return made;
  }
  // Made by someone else meanwhile (or a link put there): as if it had been there.
  return errno == EEXIST ? OpenLogFile(path, flags) : -1;
}

bool AppendWhole(int fd, const std::string& bytes) {
  ssize_t n;
  do {
    n = write(fd, bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(bytes.size())) return true;
  if (n > 0) {
    const off_t end = lseek(fd, 0, SEEK_CUR);  // just after the part written
    if (end >= n) (void)!ftruncate(fd, end - n);
  }
  return false;
}

RotationLock::RotationLock(const std::string& log) {
  const std::size_t slash = log.rfind('/');
  const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
  fd_ = OpenOrCreateLogFile(log.substr(0, name) + "." + log.substr(name) + ".lock", O_RDONLY);
  if (fd_ < 0) return;
  const auto give_up = std::chrono::steady_clock::now() + kLockWait;
  while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return;  // no locks here: alone
    if (std::chrono::steady_clock::now() > give_up) {
      busy_ = true;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

RotationLock::~RotationLock() {
  if (fd_ >= 0) close(fd_);  // releases the lock
}

}  // namespace ostrel
