#include "senddata/file_lists.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "common/run_time_error.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFileBytes;

TEST(DriveOfTest, PicksTheDeepestMountPointHoldingThePath) {
  const std::vector<std::string> drives{"/", "/home", "/home/op/stick", "/media"};
  struct Case {
    const char* path;
    const char* drive;
  } cases[] = {
      {"/", "/"},
      {"/etc", "/"},
      {"/home", "/home"},
      {"/home/op", "/home"},
      {"/home/op/stick/data/a.bin", "/home/op/stick"},
      {"/homeless/a.bin", "/"},  // a name that merely starts like a mount point
      {"/media2", "/"},
  };
  for (const auto& c : cases) EXPECT_EQ(DriveOf(c.path, drives), c.drive) << c.path;
  EXPECT_EQ(DriveOf("/home/op", {}), "/");
}

TEST(DriveListTest, RootComesFirstThenSortedUserVolumes) {
  const auto drives = DriveList();
  ASSERT_FALSE(drives.empty());
  EXPECT_EQ(drives.front(), "/");
  EXPECT_TRUE(std::is_sorted(drives.begin() + 1, drives.end()));
  EXPECT_EQ(std::adjacent_find(drives.begin(), drives.end()), drives.end());
  for (const auto& d : drives) {
    for (const std::string special : {"/proc", "/sys", "/dev"})
      EXPECT_FALSE(d == special || d.rfind(special + "/", 0) == 0) << d;
  }
}

TEST(NormalFolderPathTest, GivesAbsoluteNormalPathsWithoutTrailingSeparator) {
  EXPECT_EQ(NormalFolderPath(""), "/");
  EXPECT_EQ(NormalFolderPath("/"), "/");
  EXPECT_EQ(NormalFolderPath("//"), "/");
  EXPECT_EQ(NormalFolderPath("/tmp/x/"), "/tmp/x");
  EXPECT_EQ(NormalFolderPath("/tmp/./x/../y"), "/tmp/y");
  EXPECT_EQ(NormalFolderPath("rel"), (fs::current_path() / "rel").string());
}

TEST(ListFolderTest, AncestorsRunFromTheRootDownToTheFolder) {
  EXPECT_EQ(ListFolder("/").ancestors, std::vector<std::string>{"/"});
  TempDir dir;
  fs::create_directories(dir.path() / "a" / "b");
  fs::create_directories(dir.path() / "a" / ".c");
  const std::string a = fs::canonical(dir.path()).string() + "/a";
  const FolderListing listing = ListFolder(a + "/b/../");
  ASSERT_GE(listing.ancestors.size(), 3u);
  EXPECT_EQ(listing.ancestors.front(), "/");
  EXPECT_EQ(listing.ancestors.back(), a);
  EXPECT_EQ(listing.subfolders, std::vector<std::string>{a + "/b"});
}

TEST(ListFolderTest, RaisesForWhatIsNoOpenableFolder) {
  TempDir dir;
  WriteFileBytes(dir.path() / "f.bin", "x");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_directory(dir.path() / "closed");
  struct Case {
    std::string path;
    const char* description;
  } cases[] = {
      {dir / "missing", desc::kFileNotFound},
      {dir / "f.bin", desc::kPathNotFound},
      {dir / "fifo", desc::kPathNotFound},  // never opened for reading
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    for (auto list : {+[](const std::string& p) { ListFolder(p); },
                      +[](const std::string& p) { ListFiles(p); }}) {
      try {
        list(c.path);
        ADD_FAILURE() << "no error";
      } catch (const RunTimeError& e) {
        EXPECT_EQ(e.Description(), c.description);
      }
    }
  }
  // An unreadable folder is not shown as an empty one.
  fs::permissions(dir.path() / "closed", fs::perms::owner_exec);
  EXPECT_TRUE(test::RunUnprivileged(dir.path(), [&] {
    try {
      ListFiles(dir / "closed");
      return false;
    } catch (const RunTimeError& e) {
      return e.Description() == desc::kPermissionDenied;
    }
  }));
}

TEST(IsNormalFileTest, FindsOnlyVisibleRegularFiles) {
  TempDir dir;
  WriteFileBytes(dir.path() / "a.bin", "x");
  WriteFileBytes(dir.path() / ".h.bin", "x");
  fs::create_directory(dir.path() / "sub");
  fs::create_symlink("a.bin", dir.path() / "link");
  fs::create_symlink(".h.bin", dir.path() / "link_to_hidden");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_TRUE(IsNormalFile(dir / "a.bin"));
  EXPECT_TRUE(IsNormalFile(dir / "link"));
  EXPECT_TRUE(IsNormalFile(dir / "link_to_hidden"));  // the name in the folder decides
  EXPECT_FALSE(IsNormalFile(dir / ".h.bin"));
  EXPECT_FALSE(IsNormalFile(dir / "sub"));
  EXPECT_FALSE(IsNormalFile(dir / "fifo"));
  EXPECT_FALSE(IsNormalFile(dir / "missing"));
  EXPECT_FALSE(IsNormalFile("/dev/null"));
  EXPECT_FALSE(IsNormalFile(""));
}

}  // namespace
}  // namespace ostrel
