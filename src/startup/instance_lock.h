#pragma once
// Refusal of a second running copy of the same executable: an advisory lock (flock) on a
// file named after the executable's real path, kept in $XDG_RUNTIME_DIR (or /tmp), never
// in Temp, which a second copy empties before it checks.

#include <string>

namespace ostrel {

class InstanceLock {
 public:
  // `exe_path` is the executable's real path; the lock file name is derived from it.
  explicit InstanceLock(const std::string& exe_path);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // True when another copy holds the lock. Otherwise this object takes and keeps the lock
  // until it is destroyed (or the process ends) and gives false. A lock file that cannot
  // be created or locked for another reason does not stop the program: false.
  bool AnotherCopyRunning();

  const std::string& LockFilePath() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace ostrel
