// Bad send-data files through the main window's own load path: the name typed into the
// file-name box, a click on "入力". Each kind of bad file must get its answer at once:
// the missing-file box, or one log line with the grid left as it was, or a normal load.
// Nothing may block: every test runs under an alarm, since opening a FIFO for reading
// would wait for a writer for good.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "common/run_time_error.h"
#include "logging/operation_log.h"
#include "mainwindow/main_window.h"
#include "senddata/byte_grid.h"
#include "senddata/flex_grid.h"
#include "support/fake_message_box.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr const char* kMissingFile = "ファイルがありません。";
constexpr int64_t k5GiB = int64_t{5} << 30;

Bytes Pattern(std::size_t n, uint8_t seed) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + seed);
  return bytes;
}

std::string LoadFailure(const char* description) {
  return std::string(description) + "(SetDataFromFileToGrid)";
}

// What the operator and the log see after one click.
struct Answer {
  std::optional<std::string> box;  // the critical missing-file box, or none
  std::vector<std::string> log;
  std::optional<Bytes> grid;  // the bytes now shown; nullopt: the grid is as it was
};

Answer Missing() { return {kMissingFile, {}, std::nullopt}; }
Answer Logged(const char* description) {
  return {std::nullopt, {LoadFailure(description)}, std::nullopt};
}
Answer Loaded(Bytes bytes) { return {std::nullopt, {}, std::move(bytes)}; }

class BadFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    alarm(30);
    intToolKind = 2;
    InitLog(dir_.str());
    fs::create_directory(files_);
    test::WriteFileBytes(before_, std::string(previous_.begin(), previous_.end()));
    window_.EnsureLoaded();
  }
  void TearDown() override {
    if (socket_ >= 0) close(socket_);
    alarm(0);
  }

  std::string Path(const std::string& name) const { return files_ + "/" + name; }
  std::string Write(const std::string& name, const Bytes& bytes) {
    test::WriteFileBytes(Path(name), std::string(bytes.begin(), bytes.end()));
    return Path(name);
  }
  void MakeSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    socket_ = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }

  // The grid before every case: a 20-byte file loaded through the box, so "unchanged"
  // can be told from a load of anything else.
  void ResetGrid() {
    window_.txtInFileName()->setText(QString::fromStdString(before_));
    window_.cmdRead()->click();
    boxes_.shown.clear();
    fs::remove(strLogFile[2]);
  }
  Bytes GridBytes() {
    Bytes bytes;
    SetByteArrayFromGrid(bytes, *window_.fgrdSendData());
    return bytes;
  }

  // Types `name` into the box exactly, clicks "入力" and compares what happens with
  // `expected`. The time to the answer is printed, not judged.
  void Expect(const std::string& what, const std::string& name, const Answer& expected) {
    ResetGrid();
    ASSERT_EQ(GridBytes(), previous_);
    window_.txtInFileName()->setText(QString::fromStdString(name));
    ASSERT_EQ(window_.txtInFileName()->text().toStdString(), name)
        << what << ": the box keeps the name";
    QElapsedTimer clock;
    clock.start();
    window_.cmdRead()->click();
    const qint64 ms = clock.elapsed();
    std::printf("  %-44s answered in %3lld ms\n", what.c_str(), static_cast<long long>(ms));

    if (expected.box) {
      ASSERT_EQ(boxes_.shown.size(), 1u) << what;
      EXPECT_EQ(boxes_.shown[0].text, *expected.box) << what;
      EXPECT_EQ(boxes_.shown[0].icon, MsgIcon::Critical) << what;
      EXPECT_EQ(boxes_.shown[0].buttons, MsgButtons::Ok) << what;
    } else {
      EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{}) << what;
    }
    EXPECT_EQ(test::LogMessages(strLogFile[2]), expected.log) << what;
    const Bytes shown = expected.grid.value_or(previous_);
    EXPECT_EQ(GridBytes(), shown) << what;
    EXPECT_EQ(window_.fgrdSendData()->Rows(), static_cast<int>((shown.size() + 15) / 16) + 1)
        << what;
    EXPECT_TRUE(window_.fgrdSendData()->Redraw()) << what << ": redraw is on again";
  }

  test::TempDir dir_;
  std::string files_ = dir_ / "files";
  const Bytes previous_ = Pattern(20, 0x40);
  const std::string before_ = dir_ / "before.bin";
  int socket_ = -1;
  test::FakeMessageBoxes boxes_;
  MainWindow window_;
};

TEST_F(BadFilesTest, EmptyAndGibibyteFilesAreAnsweredAtOnce) {
  Write("empty.bin", {});
  const Bytes head = Pattern(16, 1);
  const std::string huge = Write("huge.bin", head);
  ASSERT_EQ(truncate(huge.c_str(), k5GiB), 0) << "sparse: no disk space is used";
  Bytes first2048(2048, 0);
  std::copy(head.begin(), head.end(), first2048.begin());

  Expect("0 bytes", Path("empty.bin"), Logged(desc::kSubscriptOutOfRange));
  Expect("5 GiB sparse", huge, Loaded(first2048));
  Expect("1 byte", Write("one.bin", {0xA5}), Loaded({0xA5}));
}

TEST_F(BadFilesTest, AnythingButARegularFileGetsTheMissingFileBox) {
  Write("data.bin", Pattern(8, 2));
  fs::create_directory(Path("folder"));
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0644), 0);
  MakeSocket(Path("socket"));
  fs::create_symlink(Path("gone.bin"), Path("dangling"));
  fs::create_symlink(Path("fifo"), Path("link-to-fifo"));
  fs::create_symlink("/dev/zero", Path("link-to-zero"));
  fs::create_directory_symlink(Path("folder"), Path("link-to-folder"));

  Expect("FIFO (must not wait for a writer)", Path("fifo"), Missing());
  Expect("link to a FIFO", Path("link-to-fifo"), Missing());
  Expect("character device /dev/zero", "/dev/zero", Missing());
  Expect("character device /dev/null", "/dev/null", Missing());
  Expect("link to /dev/zero", Path("link-to-zero"), Missing());
  Expect("UNIX socket", Path("socket"), Missing());
  Expect("folder", Path("folder"), Missing());
  Expect("folder with a trailing slash", Path("folder/"), Missing());
  Expect("link to a folder", Path("link-to-folder"), Missing());
  Expect("file name with a trailing slash", Path("data.bin/"), Missing());
  Expect("dangling link", Path("dangling"), Missing());
  Expect("missing file", Path("missing.bin"), Missing());
}

TEST_F(BadFilesTest, UnreadableFilePassesTheLookupAndLogsOneLine) {
  const std::string path = Write("locked.bin", Pattern(30, 3));
  fs::permissions(path, fs::perms::none);
  ResetGrid();
  // The click runs where permissions apply (as "nobody" when we are root); the child
  // reports what the operator would have seen.
  const bool quiet_and_unchanged = test::RunUnprivileged(dir_.path(), [&] {
    boxes_.shown.clear();
    window_.txtInFileName()->setText(QString::fromStdString(path));
    window_.cmdRead()->click();
    return boxes_.shown.empty() && GridBytes() == previous_ && window_.fgrdSendData()->Redraw();
  });
  EXPECT_TRUE(quiet_and_unchanged) << "no box, grid as it was, redraw on";
  EXPECT_EQ(test::LogMessages(strLogFile[2]),
            std::vector<std::string>{LoadFailure(desc::kPermissionDenied)});
}

TEST_F(BadFilesTest, NamesAreTakenAsTypedBlanksIncluded) {
  const Bytes data = Pattern(8, 4);
  Write("data.bin", data);
  const Bytes lead = Pattern(17, 5), trail = Pattern(18, 6), inner = Pattern(19, 7);
  const Bytes blank = Pattern(3, 8);
  Write(" lead.bin", lead);
  Write("trail.bin ", trail);
  Write("in ner.bin", inner);
  Write(" ", blank);

  Expect("leading blank in the file name", Path(" lead.bin"), Loaded(lead));
  Expect("trailing blank in the file name", Path("trail.bin "), Loaded(trail));
  Expect("inner blank in the file name", Path("in ner.bin"), Loaded(inner));
  Expect("file named by one blank", Path(" "), Loaded(blank));
  Expect("trailing blank not in the file name", Path("data.bin "), Missing());
  Expect("leading blank before the whole path", " " + Path("data.bin"), Missing());
  Expect("blanks only", "   ", Missing());
}

TEST_F(BadFilesTest, JapaneseAndNewlineNamesLoadLikeAnyOther) {
  const Bytes kana = Pattern(40, 9), folder = Pattern(7, 10), newline = Pattern(9, 11);
  Write("送信データ.bin", kana);
  fs::create_directory(Path("試験"));
  Write("試験/電文 1.bin", folder);
  Write("line\nbreak.bin", newline);

  Expect("Japanese file name", Path("送信データ.bin"), Loaded(kana));
  Expect("Japanese folder, blank in the name", Path("試験/電文 1.bin"), Loaded(folder));
  Expect("newline inside the name", Path("line\nbreak.bin"), Loaded(newline));
  Expect("newline where the file has none", Path("送信\nデータ.bin"), Missing());
}

TEST_F(BadFilesTest, WildcardsFindAFileButTheLoadOpensTheNameLiterally) {
  Write("data.bin", Pattern(8, 12));
  Write("送信データ.bin", Pattern(8, 13));
  const Bytes bracket = Pattern(11, 14), star = Pattern(12, 15);
  Write("[x].bin", bracket);
  Write("lit*eral.bin", star);

  // '*' and '?' in the last part are a listing pattern: a match passes the check, and
  // the load then opens the pattern itself, which is no file.
  Expect("'*' matching a file", Path("*.bin"), Logged(desc::kFileNotFound));
  Expect("'?' matching a file", Path("d?ta.bin"), Logged(desc::kFileNotFound));
  Expect("'?' for one Japanese character", Path("送信デ?タ.bin"), Logged(desc::kFileNotFound));
  Expect("'*' matching nothing", Path("*.none"), Missing());
  Expect("'*' in the folder part", files_ + "/*/data.bin", Missing());
  // Brackets are no wildcard: they name themselves.
  Expect("brackets naming a file", Path("[x].bin"), Loaded(bracket));
  Expect("brackets as a character class", Path("[d]ata.bin"), Missing());
  // Linux lets a name hold '*': typed exactly, it matches itself and opens.
  Expect("a file whose name holds '*'", Path("lit*eral.bin"), Loaded(star));
}

}  // namespace
}  // namespace ostrel
