#pragma once
// The files of a Log folder that several users may share (the installed program folder's
// Log is root:ostrel 2775). Any member of the group may put anything in the place of a
// file there: a link is never followed, a FIFO or device never waited on, and only a
// regular file is used. Lines are appended whole or not at all, and processes sharing a
// log take turns at rotating it.

#include <fcntl.h>

#include <string>

namespace ostrel {

inline constexpr int kLogAppend = O_WRONLY | O_APPEND;

// Opens the existing regular file `path` with `flags`; else -1 with errno set (ELOOP for a
// link, ENXIO for a FIFO without a reader, EINVAL for anything else but a regular file).
int OpenLogFile(const std::string& path, int flags);

// The same, creating the file when missing; a file made in a shared folder gets the
// group's write permission, so the next member of the group can use it too.
int OpenOrCreateLogFile(const std::string& path, int flags);

// Appends `bytes` in one write, so that lines of processes sharing the file stay whole. A
// short write (a full disk) is cut off again, so the file keeps ending on a whole line;
// false then, and on any failure.
bool AppendWhole(int fd, const std::string& bytes);

// An advisory lock on ".<log name>.lock" beside the log `log`, held while the object
// lives, so that rotations of one log by several processes take turns. A lock another
// process holds is waited for a second at most, so a send timer's tick never hangs.
class RotationLock {
 public:
  explicit RotationLock(const std::string& log);
  ~RotationLock();
  RotationLock(const RotationLock&) = delete;
  RotationLock& operator=(const RotationLock&) = delete;

  // Still taken by another process after the wait: that process is rotating right now.
  // Where no lock can be had at all (a read-only folder, something else in the lock
  // file's place, a file system without locks) the caller goes ahead alone.
  bool Busy() const { return busy_; }

 private:
  int fd_ = -1;
  bool busy_ = false;
};

}  // namespace ostrel
