#include "instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace ostrel {
namespace {

std::string LockFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st {};
  if (runtime && *runtime && stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) return runtime;
  return "/tmp";
}

}  // namespace

InstanceLock::InstanceLock(const std::string& exe_path) {
  // One lock per executable path and user; the name is a hash, the path may hold anything.
  char name[96];
  std::snprintf(name, sizeof name, "/ostrel-%u-%016zx.lock", static_cast<unsigned>(getuid()),
                std::hash<std::string>{}(exe_path));
  path_ = LockFolder() + name;
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);
}

bool InstanceLock::AnotherCopyRunning() {
  if (fd_ >= 0) return false;
  const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  // A lock file someone else made (in a shared /tmp) proves nothing about our copies.
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid() || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    fd_ = fd;
    return false;
  }
  const bool held = errno == EWOULDBLOCK;
  close(fd);
  return held;
}

}  // namespace ostrel
