#include "senddata/send_data_file.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "common/tool_kind.h"
#include "fake_grid.h"
#include "logging/operation_log.h"
#include "senddata/byte_grid.h"
#include "senddata/flex_grid.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using enum InputFileCheck;

constexpr int64_t k4GiB = int64_t{4} << 30;

Bytes Pattern(std::size_t n) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  return bytes;
}

// Files live in their own folder, so wildcards never meet the log beside it. Every test
// runs under an alarm: opening a FIFO the wrong way would block for good.
class SendDataFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    alarm(30);
    intToolKind = 2;
    InitLog(dir_.str());
    fs::create_directory(files_);
  }
  void TearDown() override { alarm(0); }

  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = files_ + "/" + name;
    test::WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
    return path;
  }
  std::string Path(const std::string& name) const { return files_ + "/" + name; }
  // Every kind of name that is not a regular, visible file.
  void MakeStrangeFiles() {
    Write(".hidden.bin", Pattern(4));
    fs::create_directory(Path("sub"));
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0644), 0);
    fs::create_symlink(Path("data.bin"), Path("link.bin"));
    fs::create_symlink(Path("gone.bin"), Path("dangling"));
    fs::create_directory_symlink(Path("sub"), Path("linkdir"));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", Path("sock").c_str());
    socket_ = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  Bytes ReadBack(const GridControl& grid) {
    Bytes bytes;
    SetByteArrayFromGrid(bytes, grid);
    return bytes;
  }
  std::vector<std::string> Log() { return test::LogMessages(strLogFile[2]); }

  test::TempDir dir_;
  std::string files_ = dir_ / "files";
  int socket_ = -1;
};

TEST_F(SendDataFileTest, FileLengthIsMeasuredForRegularFilesOnly) {
  Write("data.bin", Pattern(5));
  Write("empty.bin", {});
  MakeStrangeFiles();
  const int fd = open(Path("sparse").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(ftruncate(fd, k4GiB + 7), 0);
  close(fd);
  const std::pair<std::string, int64_t> cases[] = {
      {Path("data.bin"), 5},
      {Path("empty.bin"), 0},
      {Path("link.bin"), 5},
      {Path("sparse"), k4GiB + 7},
      {Path("missing"), -1},
      {Path("sub"), -1},
      {Path("fifo"), -1},
      {Path("sock"), -1},
      {Path("dangling"), -1},
      {"/dev/null", -1},
      {"", -1},
  };
  for (const auto& [path, length] : cases) EXPECT_EQ(GetFileLength(path), length) << path;
  close(socket_);
}

TEST_F(SendDataFileTest, CheckFindsVisibleRegularFilesByNameOrPattern) {
  Write("data.bin", Pattern(5));
  Write("データ.bin", Pattern(5));
  MakeStrangeFiles();
  const std::pair<std::string, InputFileCheck> cases[] = {
      {"", kEmptyName},
      {"   ", kNoSuchFile},
      {Path("data.bin"), kOk},
      {Path("link.bin"), kOk},
      {Path("データ.bin"), kOk},
      {Path("missing.bin"), kNoSuchFile},
      {Path("data.bin "), kNoSuchFile},
      {Path("sub"), kNoSuchFile},
      {Path("sub/"), kNoSuchFile},
      {Path("linkdir"), kNoSuchFile},
      {Path(".hidden.bin"), kNoSuchFile},
      {Path("fifo"), kNoSuchFile},
      {Path("sock"), kNoSuchFile},
      {Path("dangling"), kNoSuchFile},
      {"/dev/null", kNoSuchFile},
      {Path("*.bin"), kOk},
      {Path("d?ta.bin"), kOk},
      {Path("デ?タ.*"), kOk},
      {Path("*a*.b?n"), kOk},
      {Path("*.none"), kNoSuchFile},
      {Path("*idden.bin"), kNoSuchFile},  // only the hidden file matches
      {Path(".hid*"), kNoSuchFile},
      {Path("su*"), kNoSuchFile},  // only a folder matches
      {Path("fif?"), kNoSuchFile},
      {Path("s*/x"), kNoSuchFile},
  };
  for (const auto& [name, check] : cases) EXPECT_EQ(CheckInputFileName(name), check) << name;
  close(socket_);
}

TEST_F(SendDataFileTest, LoadShowsTheFirst2048BytesWithRedrawOffOnlyMeanwhile) {
  test::FakeGrid fake;
  LoadSendDataFile(fake, Write("short.bin", Pattern(20)));
  EXPECT_TRUE(fake.Redraw());
  EXPECT_EQ(fake.writes_while_redraw_off, fake.set_text_calls);
  EXPECT_EQ(ReadBack(fake), Pattern(20));

  FlexGrid grid;
  const Bytes long_bytes = Pattern(3000);
  for (const auto& [name, bytes] :
       std::vector<std::pair<std::string, Bytes>>{{"long.bin", long_bytes},
                                                  {"long.bin", long_bytes},
                                                  {"データ.bin", Pattern(20)},
                                                  {"exact.bin", Pattern(2048)},
                                                  {"one.bin", {0x0A}}}) {
    LoadSendDataFile(grid, Write(name, bytes));
    const std::size_t n = std::min<std::size_t>(bytes.size(), 2048);
    EXPECT_EQ(grid.Rows(), static_cast<int>((n + 15) / 16) + 1) << name;
    EXPECT_EQ(ReadBack(grid), Bytes(bytes.begin(), bytes.begin() + n)) << name;
    EXPECT_TRUE(grid.Redraw());
  }
  EXPECT_EQ(grid.TextMatrix(1, 1), "0A");
  EXPECT_EQ(grid.CellBackColorAt(1, 2), kGreyBackColor);
  EXPECT_TRUE(Log().empty());
}

TEST_F(SendDataFileTest, SparseFileOfGibibytesLoadsItsFirst2048Bytes) {
  const std::string path = Write("huge.bin", Pattern(16));
  const int fd = open(path.c_str(), O_WRONLY);
  ASSERT_EQ(ftruncate(fd, k4GiB + 100), 0);
  close(fd);
  FlexGrid grid;
  LoadSendDataFile(grid, path);
  Bytes expected(2048, 0);
  const Bytes head = Pattern(16);
  std::copy(head.begin(), head.end(), expected.begin());
  EXPECT_EQ(grid.Rows(), 129);
  EXPECT_EQ(ReadBack(grid), expected);
  EXPECT_TRUE(Log().empty());
}

TEST_F(SendDataFileTest, BadFilesLeaveTheGridAsItWasAndLogOneLine) {
  Write("data.bin", Pattern(5));
  Write("empty.bin", {});
  MakeStrangeFiles();
  const std::pair<std::string, std::string> cases[] = {
      {Path("empty.bin"), "インデックスが有効範囲にありません。"},
      {Path("*.bin"), "ファイルが見つかりません。"},  // passes the check, opened literally
      {Path("dangling"), "ファイルが見つかりません。"},
      {Path("sub"), "パス名が無効です。"},
      {Path("fifo"), "パス名が無効です。"},
      {Path("sock"), "パス名が無効です。"},
      {"/dev/zero", "パス名が無効です。"},
  };
  FlexGrid grid;
  LoadSendDataFile(grid, Write("before.bin", Pattern(20)));
  for (const auto& [path, description] : cases) {
    LoadSendDataFile(grid, path);
    EXPECT_EQ(Log(), std::vector<std::string>{description + "(SetDataFromFileToGrid)"}) << path;
    EXPECT_EQ(ReadBack(grid), Pattern(20)) << path;
    EXPECT_TRUE(grid.Redraw()) << path;
    fs::remove(strLogFile[2]);
  }
  close(socket_);
}

TEST_F(SendDataFileTest, UnreadableFilePassesTheCheckButFailsTheLoad) {
  const std::string path = Write("locked.bin", Pattern(20));
  fs::permissions(path, fs::perms::none);
  EXPECT_TRUE(test::RunUnprivileged(dir_.path(), [&] {
    test::FakeGrid grid;
    LoadSendDataFile(grid, path);
    return CheckInputFileName(path) == kOk && GetFileLength(path) == -1 && grid.Redraw() &&
           grid.set_text_calls == 0;
  }));
  EXPECT_EQ(Log(), std::vector<std::string>{"書き込みできません。(SetDataFromFileToGrid)"});
}

}  // namespace
}  // namespace ostrel
