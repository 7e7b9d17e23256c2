#include "logging/operation_log.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/run_time_error.h"
#include "logging/error_handler.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using test::LogLines;
using test::LogMessages;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

constexpr int64_t kMiB = 1024 * 1024;

class OperationLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    intToolKind = 2;
    InitLog(dir_.str());
    strHostName = "PC01";
    SetCurrentClock(&clock_);
  }
  void TearDown() override { SetCurrentClock(nullptr); }

  std::string Live() const { return strLogFile[2]; }
  static void MakeFileOfSize(const std::string& path, int64_t size) {
    WriteFileBytes(path, "");
    ASSERT_EQ(truncate(path.c_str(), size), 0);
  }

  TempDir dir_;
  FixedClock clock_{LocalTime{2024, 5, 6, 13, 7, 9, 850}};
};

TEST_F(OperationLogTest, InitLogBuildsEveryKindsPathAndName) {
  EXPECT_EQ(strLogFile[0], dir_ / "Kiv_TcpSndLog.txt");
  EXPECT_EQ(strLogFile[2], dir_ / "Kiv_UdpSndLog.txt");
  EXPECT_EQ(strLogFile[9], dir_ / "Kiv_UdpTextRcvLog.txt");
  EXPECT_EQ(strToolKindName[5], "Kiv_SerialRcv");
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  InitLog(dir_.str() + "/");  // a folder given with its separator gets no second one
  EXPECT_EQ(strLogFile[2], dir_ / "Kiv_UdpSndLog.txt");
  EXPECT_EQ(strHostName, host);
}

TEST_F(OperationLogTest, LineHasCodeTimeStampHostAndMessageInCp932WithCrLf) {
  WriteLog(2, "abc");
  WriteLog(2, "接続先:192.168.1.20 Ping OK");
  const std::string bytes = ReadFileBytes(Live());
  EXPECT_EQ(bytes.substr(0, 35), "1001 24/05/06 13:07:09.8 PC01 abc\r\n");
  // "接" in code page 932 is 0x90 0xDA.
  EXPECT_EQ(bytes.substr(65, 4), "\x90\xDA\x91\xB1");
  EXPECT_EQ(LogLines(Live()).back(), "1001 24/05/06 13:07:09.8 PC01 接続先:192.168.1.20 Ping OK");
}

TEST_F(OperationLogTest, TenthsDigitFollowsTheMilliseconds) {
  const struct {
    int ms;
    char tenths;
  } cases[] = {{0, '0'}, {99, '0'}, {100, '1'}, {199, '1'}, {850, '8'}, {999, '9'}};
  for (const auto& c : cases) {
    EXPECT_EQ(LogTimeStamp({2009, 1, 2, 3, 4, 5, c.ms}), std::string("09/01/02 03:04:05.") + c.tenths)
        << c.ms << " ms";
  }
}

TEST_F(OperationLogTest, EmptyMessageEndsWithHostAndOneBlank) {
  WriteLog(2, "");
  EXPECT_EQ(ReadFileBytes(Live()), "1001 24/05/06 13:07:09.8 PC01 \r\n");
}

TEST_F(OperationLogTest, GivenTimeStampAndCodeAreUsed) {
  WriteLog(2, "m", "stamp", 7);
  WriteLog(2, "n", "", 12345);
  WriteLog(2, "o", "", -5);
  EXPECT_EQ(LogLines(Live()),
            (std::vector<std::string>{"0007 stamp PC01 m", "12345 24/05/06 13:07:09.8 PC01 n",
                                      "-0005 24/05/06 13:07:09.8 PC01 o"}));
}

TEST_F(OperationLogTest, KindOutsideTheTableWritesNothing) {
  WriteLog(10, "x");
  WriteLog(-1, "x");
  EXPECT_TRUE(fs::is_empty(dir_.path()));
}

TEST_F(OperationLogTest, LinesAreLostSilentlyWhenTheFolderIsGone) {
  const std::string live = Live();
  InitLog(dir_ / "gone");
  WriteLog(2, "lost");
  EXPECT_FALSE(fs::exists(dir_ / "gone"));
  InitLog(dir_.str());
  WriteLog(2, "kept");
  EXPECT_EQ(LogMessages(live), std::vector<std::string>{"kept"});
}

TEST_F(OperationLogTest, LinesAreAppendedNeverRewritten) {
  WriteFileBytes(Live(), "old line\r\n");
  WriteLog(2, "new");
  EXPECT_EQ(LogLines(Live()).front(), "old line");
  EXPECT_EQ(LogLines(Live()).size(), 2u);
}

// Another member of a shared Log folder may put anything in the log's place: nothing is
// followed or waited on, the line is lost and counted, and the log is usable again after.
TEST_F(OperationLogTest, LinkFifoOrFolderInTheLogsPlaceLosesTheLineAndIsNeverFollowed) {
  WriteFileBytes(dir_ / "victim", "private\n");
  const auto lose_line = [&](const char* what) {
    const uint64_t lost = LostLogLines();
    EXPECT_NE(LogAppendError(Live()), 0) << what;
    WriteLog(2, "line");  // a FIFO without a reader would block here for ever
    EXPECT_EQ(LostLogLines(), lost + 1) << what;
    fs::remove(Live());
  };
  fs::create_symlink(dir_ / "victim", Live());
  lose_line("link");
  fs::create_symlink(dir_ / "missing", Live());
  lose_line("dangling link");
  ASSERT_EQ(mkfifo(Live().c_str(), 0666), 0);
  lose_line("FIFO");
  fs::create_directory(Live());
  lose_line("folder");
  EXPECT_EQ(ReadFileBytes(dir_ / "victim"), "private\n");
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
  EXPECT_EQ(LogAppendError(Live()), 0);
  WriteLog(2, "back");
  EXPECT_EQ(LogMessages(Live()), std::vector<std::string>{"back"});
}

// A full disk takes part of a line: the part is cut off again, so the next line, once
// there is room, starts on a line of its own.
TEST_F(OperationLogTest, ShortWriteIsCutBackToTheLastWholeLine) {
  WriteLog(2, "first");
  const std::string before = ReadFileBytes(Live());
  rlimit old_limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit small = old_limit;
  small.rlim_cur = before.size() + 10;  // a file size limit stops the write part way
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const uint64_t lost = LostLogLines();
  WriteLog(2, "a line longer than the room that is left");
  const std::string after = ReadFileBytes(Live());
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);
  EXPECT_EQ(after, before);
  EXPECT_EQ(LostLogLines(), lost + 1);
  WriteLog(2, "second");
  EXPECT_EQ(LogMessages(Live()), (std::vector<std::string>{"first", "second"}));
}

// A folder with the set-group-ID bit is shared by its group: whoever starts the log there,
// the next member must be able to append, whatever umask the first one had.
TEST_F(OperationLogTest, LogStartedInASharedFolderStaysWritableForTheGroup) {
  const mode_t old_mask = umask(022);
  for (const auto& [folder_mode, log_mode] :
       std::vector<std::pair<fs::perms, fs::perms>>{{fs::perms(02775), fs::perms(0664)},
                                                    {fs::perms(02755), fs::perms(0644)},
                                                    {fs::perms(0775), fs::perms(0644)}}) {
    fs::remove(Live());
    fs::permissions(dir_.path(), folder_mode);
    WriteLog(2, "first");
    WriteLog(2, "second");
    EXPECT_EQ(fs::status(Live()).permissions(), log_mode) << std::oct << int(folder_mode);
    EXPECT_EQ(LogMessages(Live()), (std::vector<std::string>{"first", "second"}));
  }
  umask(old_mask);
  fs::permissions(dir_.path(), fs::perms(0700));
}

TEST_F(OperationLogTest, ErrorHandlerWritesDescriptionThenTag) {
  LogError("SendUdpData", RunTimeError(desc::kOverflow));
  LogErrorText("ReadSetting", "");
  EXPECT_TRUE(RunHandled("Body", [] {}));
  EXPECT_FALSE(RunHandled("Body", [] { throw RunTimeError(desc::kDivisionByZero); }));
  EXPECT_EQ(LogMessages(Live()), (std::vector<std::string>{"オーバーフローしました。(SendUdpData)",
                                                           "(ReadSetting)", "0 で除算しました。(Body)"}));
}

// --- rotation ---

TEST_F(OperationLogTest, RotationShiftsEveryGenerationAndDropsTheOldest) {
  int16_t size = 1, generations = 3;
  MakeFileOfSize(Live(), kMiB + 1);
  WriteFileBytes(Live() + ".1", "one");
  WriteFileBytes(Live() + ".2", "two");
  RotateLog(Live(), size, generations);
  EXPECT_FALSE(fs::exists(Live()));
  EXPECT_EQ(fs::file_size(Live() + ".1"), static_cast<uintmax_t>(kMiB + 1));
  EXPECT_EQ(ReadFileBytes(Live() + ".2"), "one");
  EXPECT_FALSE(fs::exists(Live() + ".3"));
  WriteLog(2, "next");
  EXPECT_EQ(LogMessages(Live()), std::vector<std::string>{"next"});
}

TEST_F(OperationLogTest, RotationFillsGapsWithoutOverwriting) {
  int16_t size = 1, generations = 5;
  MakeFileOfSize(Live(), kMiB + 1);
  WriteFileBytes(Live() + ".2", "two");
  WriteFileBytes(Live() + ".7", "beyond the count");
  RotateLog(Live(), size, generations);
  EXPECT_TRUE(fs::exists(Live() + ".1"));
  EXPECT_FALSE(fs::exists(Live() + ".2"));
  EXPECT_EQ(ReadFileBytes(Live() + ".3"), "two");
  EXPECT_EQ(ReadFileBytes(Live() + ".7"), "beyond the count");
}

TEST_F(OperationLogTest, FileOfExactlyTheLimitStays) {
  int16_t size = 1, generations = 3;
  MakeFileOfSize(Live(), kMiB);
  RotateLog(Live(), size, generations);
  EXPECT_TRUE(fs::exists(Live()));
  EXPECT_FALSE(fs::exists(Live() + ".1"));
}

TEST_F(OperationLogTest, SizeAndGenerationsBelowOneTakeTheirDefaultsAndWriteThemBack) {
  for (int16_t bad : {int16_t{0}, int16_t{-1}, int16_t{-32768}}) {
    int16_t size = bad, generations = bad;
    MakeFileOfSize(Live(), 3 * kMiB);
    RotateLog(Live(), size, generations);
    EXPECT_EQ(size, 3);
    EXPECT_EQ(generations, 10);
    EXPECT_TRUE(fs::exists(Live())) << "3 MiB is not over the default limit";
    MakeFileOfSize(Live(), 3 * kMiB + 1);
    size = bad;
    RotateLog(Live(), size, generations);
    EXPECT_FALSE(fs::exists(Live()));
    fs::remove(Live() + ".1");
  }
}

TEST_F(OperationLogTest, LargeLimitsUseSixtyFourBitArithmetic) {
  // 2048 MiB and more would overflow 32 bits; a sparse file 1 byte over the limit.
  for (int16_t mib : {int16_t{2047}, int16_t{2048}, int16_t{32767}}) {
    int16_t size = mib, generations = 2;
    MakeFileOfSize(Live(), mib * kMiB);
    EXPECT_NO_THROW(RotateLog(Live(), size, generations));
    EXPECT_TRUE(fs::exists(Live())) << mib;
    MakeFileOfSize(Live(), mib * kMiB + 1);
    EXPECT_NO_THROW(RotateLog(Live(), size, generations));
    EXPECT_FALSE(fs::exists(Live())) << mib;
    EXPECT_TRUE(fs::exists(Live() + ".1")) << mib;
    fs::remove(Live() + ".1");
  }
}

TEST_F(OperationLogTest, OneGenerationKeepsOnlyTheLiveFile) {
  int16_t size = 1, generations = 1;
  for (int round = 0; round < 3; ++round) {
    MakeFileOfSize(Live(), kMiB + 1);
    EXPECT_NO_THROW(RotateLog(Live(), size, generations));
    EXPECT_FALSE(fs::exists(Live()));
    EXPECT_FALSE(fs::exists(Live() + ".1"));
    EXPECT_FALSE(fs::exists(Live() + ".0"));
  }
  WriteLog(2, "fresh");
  EXPECT_EQ(LogMessages(Live()), std::vector<std::string>{"fresh"});
}

TEST_F(OperationLogTest, MissingLiveFileIsNoRotation) {
  int16_t size = 1, generations = 3;
  WriteFileBytes(Live() + ".1", "one");
  RotateLog(Live(), size, generations);
  EXPECT_EQ(ReadFileBytes(Live() + ".1"), "one");
  EXPECT_FALSE(fs::exists(Live() + ".2"));
}

TEST_F(OperationLogTest, MoveOntoAFolderFailsAndLeavesTheFiles) {
  int16_t size = 1, generations = 3;
  MakeFileOfSize(Live(), kMiB + 1);
  WriteFileBytes(Live() + ".1", "one");
  fs::create_directory(Live() + ".2");  // not a regular file: neither deleted nor replaced
  EXPECT_THROW(RotateLog(Live(), size, generations), RunTimeError);
  EXPECT_EQ(ReadFileBytes(Live() + ".1"), "one");
  EXPECT_EQ(fs::file_size(Live()), static_cast<uintmax_t>(kMiB + 1));
}

TEST_F(OperationLogTest, UndeletableOldestGenerationRaises) {
  MakeFileOfSize(Live(), kMiB + 1);
  WriteFileBytes(Live() + ".1", "one");
  const bool raised = test::RunUnprivileged(dir_.path(), [&] {
    fs::permissions(dir_.path(), fs::perms::owner_read | fs::perms::owner_exec);
    int16_t size = 1, generations = 2;
    try {
      RotateLog(Live(), size, generations);
    } catch (const RunTimeError&) {
      return true;
    }
    return false;
  });
  EXPECT_TRUE(raised);
  EXPECT_EQ(ReadFileBytes(Live() + ".1"), "one");
}

}  // namespace
}  // namespace ostrel
