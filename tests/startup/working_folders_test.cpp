#include "startup/working_folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/path_text.h"
#include "common/run_time_error.h"
#include "logging/operation_log.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

class WorkingFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    intToolKind = 0;
    strLogFile = {};
    SetProgramFolderForTesting(dir_.str());
  }
  void TearDown() override { SetProgramFolderForTesting(""); }
  TempDir dir_;
};

TEST(PathTextTest, AddBackslashAppendsOneSeparator) {
  EXPECT_EQ(AddBackslash(""), "/");
  EXPECT_EQ(AddBackslash("/"), "/");
  EXPECT_EQ(AddBackslash("/opt/ostrel"), "/opt/ostrel/");
  EXPECT_EQ(AddBackslash("/opt/ostrel/"), "/opt/ostrel/");
}

TEST(PathTextTest, GetFolderPathCutsAtTheLastSeparator) {
  EXPECT_EQ(GetFolderPath(""), "");
  EXPECT_EQ(GetFolderPath("/data/a.bin"), "/data");
  EXPECT_EQ(GetFolderPath("/a.bin"), "");
  EXPECT_EQ(GetFolderPath("a.bin"), "");
  EXPECT_EQ(GetFolderPath("/data/sub/"), "/data/sub");
}

TEST(ProgramFolderTest, IsTheFolderOfTheRunningExecutable) {
  SetProgramFolderForTesting("");
  const fs::path exe = fs::read_symlink("/proc/self/exe");
  EXPECT_EQ(ProgramFolder(), exe.parent_path().string());
}

TEST_F(WorkingFoldersTest, SetDefineFillsFoldersAndSettingFilesOfKindsZeroToFive) {
  ASSERT_TRUE(SetDefine());
  EXPECT_EQ(strConfigFolder, dir_ / "Config");
  EXPECT_EQ(strTempFolder, dir_ / "Temp");
  EXPECT_EQ(strLogFolder, dir_ / "Log");
  EXPECT_EQ(strSettingFile[0], dir_ / "Config/Kiv_TcpSendSetting.ini");
  EXPECT_EQ(strSettingFile[2], dir_ / "Config/Kiv_UdpSendSetting.ini");
  EXPECT_EQ(strSettingFile[5], dir_ / "Config/Kiv_SerialRecvSetting.ini");
  for (int kind = 6; kind <= 9; ++kind) EXPECT_EQ(strSettingFile[kind], "") << kind;
}

TEST_F(WorkingFoldersTest, ProgramInTheRootFolderHasNoDoubledSeparator) {
  SetProgramFolderForTesting("/");
  ASSERT_TRUE(SetDefine());
  EXPECT_EQ(strConfigFolder, "/Config");
  EXPECT_EQ(strTempFolder, "/Temp");
  EXPECT_EQ(strLogFolder, "/Log");
  EXPECT_EQ(strSettingFile[2], "/Config/Kiv_UdpSendSetting.ini");
}

TEST_F(WorkingFoldersTest, InitEnvironmentCreatesFoldersAndStartsTheLog) {
  ASSERT_TRUE(InitEnvironment(2));
  EXPECT_EQ(intToolKind, 2);
  for (const char* name : {"Config", "Log", "Temp"}) EXPECT_TRUE(fs::is_directory(dir_ / name));
  EXPECT_EQ(strLogFile[2], dir_ / "Log/Kiv_UdpSndLog.txt");
  WriteLog(2, "started");
  EXPECT_EQ(test::LogMessages(strLogFile[2]), std::vector<std::string>{"started"});
}

TEST_F(WorkingFoldersTest, TempLosesItsFilesAndLinksButKeepsSubfoldersAndLinkTargets) {
  fs::create_directories(dir_ / "Temp/sub");
  WriteFileBytes(dir_ / "Temp/a.bin", "a");
  WriteFileBytes(dir_ / "Temp/.hidden", "h");
  WriteFileBytes(dir_ / "Temp/sub/kept.bin", "k");
  WriteFileBytes(dir_ / "outside.txt", "precious");
  fs::create_directory(dir_ / "outside-folder");
  WriteFileBytes(dir_ / "outside-folder/inner.txt", "inner");
  fs::create_symlink(dir_ / "outside.txt", dir_ / "Temp/link-to-file");
  fs::create_directory_symlink(dir_ / "outside-folder", dir_ / "Temp/link-to-folder");
  fs::create_symlink(dir_ / "nowhere", dir_ / "Temp/dangling");
  ASSERT_EQ(mkfifo((dir_ / "Temp/fifo").c_str(), 0600), 0);

  ASSERT_TRUE(InitEnvironment(2));

  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir_ / "Temp"))
    left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"fifo", "sub"}));
  EXPECT_EQ(ReadFileBytes(dir_ / "Temp/sub/kept.bin"), "k");
  EXPECT_EQ(ReadFileBytes(dir_ / "outside.txt"), "precious");
  EXPECT_EQ(ReadFileBytes(dir_ / "outside-folder/inner.txt"), "inner");
}

TEST_F(WorkingFoldersTest, FileNamedConfigIsLeftAlone) {
  WriteFileBytes(dir_ / "Config", "not a folder");
  ASSERT_TRUE(InitEnvironment(2));
  EXPECT_TRUE(fs::is_regular_file(dir_ / "Config"));
  EXPECT_EQ(ReadFileBytes(dir_ / "Config"), "not a folder");
}

TEST_F(WorkingFoldersTest, UnwritableProgramFolderFailsWithoutATrace) {
  const bool as_expected = test::RunUnprivileged(dir_.path(), [&] {
    fs::permissions(dir_.path(), fs::perms::owner_read | fs::perms::owner_exec);
    const bool started = InitEnvironment(2);
    // The kind is stored before anything can fail; the log never started.
    return !started && intToolKind == 2 && strLogFile[2].empty();
  });
  EXPECT_TRUE(as_expected);
  EXPECT_TRUE(fs::is_empty(dir_.path()));
}

TEST_F(WorkingFoldersTest, MissingProgramFolderFailsInitEnvironment) {
  SetProgramFolderForTesting(dir_ / "missing");
  EXPECT_FALSE(InitEnvironment(2));
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

TEST_F(WorkingFoldersTest, MakeFolderCreatesOneLevelOrRaises) {
  EXPECT_NO_THROW(MakeFolder(dir_ / "one"));
  EXPECT_TRUE(fs::is_directory(dir_ / "one"));
  EXPECT_NO_THROW(MakeFolder(dir_ / "one"));
  EXPECT_THROW(MakeFolder(dir_ / "a/b"), RunTimeError);
  EXPECT_FALSE(fs::exists(dir_ / "a"));
}

TEST_F(WorkingFoldersTest, ClearFolderStopsAtAFileItCannotDelete) {
  fs::create_directory(dir_ / "T");
  WriteFileBytes(dir_ / "T/a", "a");
  EXPECT_TRUE(ClearFolder(dir_ / "T", 1));
  EXPECT_TRUE(fs::is_directory(dir_ / "T"));
  EXPECT_FALSE(ClearFolder(dir_ / "missing", 1));
  WriteFileBytes(dir_ / "T/b", "b");
  EXPECT_TRUE(ClearFolder(dir_ / "T", 0)) << "flag other than 1 removes the emptied folder";
  EXPECT_FALSE(fs::exists(dir_ / "T"));
  fs::create_directories(dir_ / "T/sub");
  EXPECT_FALSE(ClearFolder(dir_ / "T", 0)) << "a folder with subfolders cannot be removed";

  WriteFileBytes(dir_ / "T/c", "c");
  EXPECT_TRUE(test::RunUnprivileged(dir_.path(), [&] {
    fs::permissions(dir_ / "T", fs::perms::owner_read | fs::perms::owner_exec);
    return !ClearFolder(dir_ / "T", 1);
  }));
  EXPECT_TRUE(fs::exists(dir_ / "T/c"));
}

TEST_F(WorkingFoldersTest, UndeletableFileInTempStillLetsStartUpGoOn) {
  fs::create_directory(dir_ / "Temp");
  WriteFileBytes(dir_ / "Temp/stuck", "s");
  EXPECT_TRUE(test::RunUnprivileged(dir_.path(), [&] {
    fs::permissions(dir_ / "Temp", fs::perms::owner_read | fs::perms::owner_exec);
    return InitEnvironment(2);
  }));
  EXPECT_TRUE(fs::exists(dir_ / "Temp/stuck"));
}

}  // namespace
}  // namespace ostrel
