// Without XDG_RUNTIME_DIR the running-copy lock lives in the shared /tmp under a name
// anyone can work out. A file of that name made and locked by another user must not keep
// this user's program from starting.

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "startup/instance_lock.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

// Unsets an environment variable for the life of the object.
class UnsetEnv {
 public:
  explicit UnsetEnv(const char* name) : name_(name) {
    if (const char* value = std::getenv(name)) old_ = value;
    unsetenv(name);
  }
  ~UnsetEnv() {
    if (old_) setenv(name_, old_->c_str(), 1);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Another user's lock file in /tmp, readable and writable by all and held locked, must
// not make start-up refuse as if a copy ran: only a lock file of our own counts.
TEST(LockSquattingTest, AnotherUsersLockFileInTmpDoesNotStopTheStart) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to act as another user";
  const UnsetEnv no_runtime_dir("XDG_RUNTIME_DIR");
  const std::string exe = "/nonexistent/ostrel-squat-test-" + std::to_string(getpid());
  const std::string path = InstanceLock(exe).LockFilePath();
  ASSERT_EQ(path.rfind("/tmp/", 0), 0u) << path;

  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t squatter = fork();
  ASSERT_GE(squatter, 0);
  if (squatter == 0) {
    // "nobody" makes the file open to all and keeps it locked until told to stop.
    constexpr uid_t kNobody = 65534;
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 || fchmod(fd, 0666) != 0 || flock(fd, LOCK_EX) != 0) _exit(3);
    char c = 'x';
    if (write(ready[1], &c, 1) != 1 || read(done[0], &c, 1) != 1) _exit(4);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1) << "the squatter holds the lock";

  InstanceLock lock(exe);
  EXPECT_FALSE(lock.AnotherCopyRunning()) << "another user's file is no running copy of ours";

  EXPECT_EQ(write(done[1], &c, 1), 1);
  int status = 0;
  waitpid(squatter, &status, 0);
  unlink(path.c_str());
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
}

}  // namespace
}  // namespace ostrel
