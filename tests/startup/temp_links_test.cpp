// Emptying Temp at start-up must delete names, never what they point to: links in Temp
// go as links, whatever they lead to, and nothing below a subfolder is touched. These
// cases add link chains, links within Temp, hard links and a Temp that is itself a link.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "common/tool_kind.h"
#include "logging/operation_log.h"
#include "startup/working_folders.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::WriteFileBytes;

class TempLinksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolderForTesting(dir_.str());
    fs::create_directories(outside_ / "folder/deeper");
    WriteFileBytes(outside_ / "precious.txt", "precious");
    WriteFileBytes(outside_ / "folder/inner.txt", "inner");
    WriteFileBytes(outside_ / "folder/deeper/deep.txt", "deep");
  }
  void TearDown() override { SetProgramFolderForTesting(""); }

  std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  void ExpectOutsideIntact() {
    EXPECT_EQ(ReadFileBytes(outside_ / "precious.txt"), "precious");
    EXPECT_EQ(ReadFileBytes(outside_ / "folder/inner.txt"), "inner");
    EXPECT_EQ(ReadFileBytes(outside_ / "folder/deeper/deep.txt"), "deep");
  }

  test::TempDir dir_;
  test::TempDir other_;  // a folder beside the program folder
  fs::path outside_ = other_.path();
  fs::path temp_ = dir_.path() / "Temp";
};

TEST_F(TempLinksTest, LinkChainsGoAsLinksAndTheirEndsStay) {
  fs::create_directory(temp_);
  // Temp/first -> outside hop -> precious.txt; Temp/a -> Temp/b -> outside folder.
  fs::create_symlink(outside_ / "precious.txt", outside_ / "hop");
  fs::create_symlink(outside_ / "hop", temp_ / "first");
  fs::create_directory_symlink(outside_ / "folder", temp_ / "b");
  fs::create_symlink(temp_ / "b", temp_ / "a");
  // A loop of links and a relative link that climbs out of Temp.
  fs::create_symlink(temp_ / "loop2", temp_ / "loop1");
  fs::create_symlink(temp_ / "loop1", temp_ / "loop2");
  fs::create_symlink(fs::relative(outside_ / "folder/inner.txt", temp_), temp_ / "relative");

  ASSERT_TRUE(InitEnvironment(Kiv_UdpSnd));

  EXPECT_EQ(Names(temp_), std::vector<std::string>{});
  EXPECT_TRUE(fs::is_symlink(outside_ / "hop")) << "a hop outside Temp stays";
  ExpectOutsideIntact();
}

TEST_F(TempLinksTest, LinksIntoSubfoldersOfTempLeaveTheSubfoldersWhole) {
  fs::create_directories(temp_ / "sub/deeper");
  WriteFileBytes(temp_ / "sub/kept.bin", "kept");
  WriteFileBytes(temp_ / "sub/deeper/kept.bin", "deeper");
  fs::create_symlink(outside_ / "precious.txt", temp_ / "sub/link-inside-sub");
  fs::create_symlink(temp_ / "sub/kept.bin", temp_ / "to-file-in-sub");
  fs::create_directory_symlink(temp_ / "sub", temp_ / "to-sub");
  WriteFileBytes(temp_ / "scratch.bin", "scratch");

  ASSERT_TRUE(InitEnvironment(Kiv_UdpSnd));

  EXPECT_EQ(Names(temp_), std::vector<std::string>{"sub"});
  EXPECT_EQ(Names(temp_ / "sub"),
            (std::vector<std::string>{"deeper", "kept.bin", "link-inside-sub"}));
  EXPECT_EQ(ReadFileBytes(temp_ / "sub/kept.bin"), "kept");
  EXPECT_EQ(ReadFileBytes(temp_ / "sub/deeper/kept.bin"), "deeper");
  EXPECT_TRUE(fs::is_symlink(temp_ / "sub/link-inside-sub"));
  ExpectOutsideIntact();
}

TEST_F(TempLinksTest, HardLinkLosesOnlyItsNameInTemp) {
  fs::create_directory(temp_);
  fs::create_hard_link(outside_ / "precious.txt", temp_ / "hard");
  ASSERT_EQ(fs::hard_link_count(outside_ / "precious.txt"), 2u);

  ASSERT_TRUE(InitEnvironment(Kiv_UdpSnd));

  EXPECT_FALSE(fs::exists(temp_ / "hard"));
  EXPECT_EQ(fs::hard_link_count(outside_ / "precious.txt"), 1u);
  ExpectOutsideIntact();
}

TEST_F(TempLinksTest, TempThatIsALinkIsNeitherFollowedNorReplaced) {
  fs::create_directory_symlink(outside_ / "folder", temp_);

  // Start-up goes on: a Temp that cannot be emptied is no failure.
  ASSERT_TRUE(InitEnvironment(Kiv_UdpSnd));

  EXPECT_TRUE(fs::is_symlink(temp_));
  EXPECT_EQ(fs::read_symlink(temp_), outside_ / "folder");
  ExpectOutsideIntact();
}

}  // namespace
}  // namespace ostrel
