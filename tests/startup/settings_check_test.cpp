#include "startup/settings_check.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/run_time_error.h"
#include "startup/instance_lock.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

using test::TempDir;
using test::WriteFileBytes;

std::string File(const std::string& ip, const std::string& src, const std::string& dest,
                 const std::string& interval_line, const std::string& unit) {
  return "[IPAddress]\r\nIPAddress=" + ip + "\r\n[Port]\r\nUdpSrcPort=" + src +
         "\r\nUdpDestPort=" + dest + "\r\n[Maintenance]\r\n" + interval_line +
         "\r\nSendIntervalUnit=" + unit + "\r\n";
}

TEST(SettingsCheckTest, DecidesWhichWindowOpensFirst) {
  TempDir dir;
  const std::string f = dir / "s.ini";
  const struct {
    std::string text;
    bool usable;
  } cases[] = {
      {File("127.0.0.1", "50001", "50000", "SendInterval=5", "1"), true},
      {File("127.0.0.1", "50001", "50000", "sendinterval=2000", "0"), true},
      {File("127.0.0.1", "70000", "50000", "SendInterval=5", "1"), true},  // only numeric
      {File("127.0.0.1", "", "50000", "SendInterval=5", "1"), false},
      {File("127.0.0.1", "50001", "x", "SendInterval=5", "1"), false},
      {File("host", "50001", "50000", "SendInterval=5", "1"), false},
      {File("127.0.0.1", "50001", "50000", "SendInterval=5", "a"), false},
      {File("127.0.0.1", "50001", "50000", "SendInterval=1999", "0"), false},
      {File("127.0.0.1", "50001", "50000", "SendInterval=5", "3"), false},
      {File("127.0.0.1", "50001", "50000", "Other=5", "1"), false},
      {"", false},
  };
  for (const auto& c : cases) {
    WriteFileBytes(f, c.text);
    EXPECT_EQ(StoredCommSettingsUsable(f), c.usable) << c.text;
  }
  EXPECT_FALSE(StoredCommSettingsUsable(dir / "missing.ini"));
}

TEST(SettingsCheckTest, UnitBeyondSixteenBitsRaises) {
  TempDir dir;
  WriteFileBytes(dir / "s.ini", File("127.0.0.1", "1", "2", "SendInterval=5", "40000"));
  EXPECT_THROW(StoredCommSettingsUsable(dir / "s.ini"), RunTimeError);
}

TEST(InstanceLockTest, SecondHolderOfTheSamePathIsRefusedUntilTheFirstEnds) {
  const std::string exe = "/nonexistent/ostrel-lock-test-" + std::to_string(getpid());
  auto first = std::make_unique<InstanceLock>(exe);
  ASSERT_FALSE(first->AnotherCopyRunning());

  // Another process (flock is per open file, so a child with its own open counts).
  const pid_t pid = fork();
  if (pid == 0) {
    InstanceLock second(exe);
    _exit(second.AnotherCopyRunning() ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the second copy is refused";

  InstanceLock other_program(exe + "-other");
  EXPECT_FALSE(other_program.AnotherCopyRunning()) << "another executable path has its own lock";

  const std::string lock_file = first->LockFilePath();
  first.reset();
  InstanceLock again(exe);
  EXPECT_FALSE(again.AnotherCopyRunning()) << "the lock ends with its holder";
  unlink(lock_file.c_str());
  unlink(other_program.LockFilePath().c_str());
}

}  // namespace
}  // namespace ostrel
