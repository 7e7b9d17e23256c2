#include "settings/ini_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <utility>

#include "common/cp932.h"
#include "common/run_time_error.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

// A settings file as an operator might keep it: a comment, blank lines, uneven spacing.
const std::string kSettings =
    "; Ostrel\r\n"
    "[IPAddress]\r\n"
    "IPAddress=192.168.0.10\r\n"
    "\r\n"
    "[Port]\r\n"
    "UdpSrcPort = 5000\r\n"
    "UdpDestPort=6000\r\n"
    "\r\n"
    "[Maintenance]\r\n"
    "Sendinterval=2000\r\n"
    "SendIntervalUnit=0\r\n"
    "CommonSendRetry=3\r\n"
    "PingRetry=3\r\n"
    "UdpAnsTimerInteval=100\r\n"
    "UdpAnsTimeOut=1000\r\n"
    "LogMaxSize=3\r\n"
    "LogGenerations=10\r\n";

std::string WithoutCr(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
  return s;
}

std::string Replaced(std::string s, const std::string& from, const std::string& to) {
  return s.replace(s.find(from), from.size(), to);
}

// Names beginning with '.' in `dir`: temporaries that a write left behind.
std::vector<std::string> HiddenFiles(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename().string().front() == '.') names.push_back(entry.path().string());
  }
  return names;
}

// The description of the RunTimeError that WriteIni raises, or "" when it succeeds.
std::string WriteError(std::string_view section, std::string_view key, const std::string& file,
                       std::string_view value) {
  try {
    WriteIni(section, key, file, value);
  } catch (const RunTimeError& error) {
    return error.Description();
  }
  return "";
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(ReadIniTest, CrLfAndLfFilesReadAlikeWithoutRegardToCase) {
  TempDir dir;
  for (const std::string& content : {kSettings, WithoutCr(kSettings)}) {
    WriteFileBytes(dir / "a.ini", content);
    EXPECT_EQ(ReadIni("IPAddress", "IPAddress", dir / "a.ini"), "192.168.0.10");
    EXPECT_EQ(ReadIni("Port", "UdpSrcPort", dir / "a.ini"), "5000");
    EXPECT_EQ(ReadIni("Maintenance", "SendInterval", dir / "a.ini"), "2000");
    EXPECT_EQ(ReadIni("MAINTENANCE", "sendinterval", dir / "a.ini"), "2000");
    EXPECT_EQ(ReadIni("Maintenance", "LogGenerations", dir / "a.ini"), "10");
  }
}

TEST(ReadIniTest, BlanksAndOnePairOfMatchingQuotesAreRemoved) {
  TempDir dir;
  WriteFileBytes(dir / "a.ini",
                 "[S]\n \t Plain \t=  \t two  inner  blanks \t \nDouble=\"quoted\"\n"
                 "Single='single'\nMixed=\"mixed'\nEmptyQuotes=\"\"\nPadded=\"  x  \"\n"
                 "Empty=  \nNoEquals\n");
  const std::pair<const char*, const char*> cases[] = {
      {"Plain", "two  inner  blanks"},
      {"Double", "quoted"},
      {"Single", "single"},
      {"Mixed", "\"mixed'"},
      {"EmptyQuotes", ""},
      {"Padded", "x"},
      {"Empty", ""},
      {"NoEquals", ""},
  };
  for (const auto& [key, expected] : cases) {
    EXPECT_EQ(ReadIni("S", key, dir / "a.ini"), expected) << key;
  }
}

TEST(ReadIniTest, AnythingMissingReadsEmpty) {
  TempDir dir;
  fs::create_directory(dir / "folder.ini");
  WriteFileBytes(dir / "a.ini", "Orphan=1\n[S]\nk=1\n");
  EXPECT_EQ(ReadIni("S", "k", dir / "missing.ini"), "");
  EXPECT_EQ(ReadIni("S", "k", dir / "missing/a.ini"), "");
  EXPECT_EQ(ReadIni("S", "k", dir / "folder.ini"), "");
  EXPECT_EQ(ReadIni("T", "k", dir / "a.ini"), "");
  EXPECT_EQ(ReadIni("S", "x", dir / "a.ini"), "");
  // A key above every section belongs to none.
  EXPECT_EQ(ReadIni("", "Orphan", dir / "a.ini"), "");
}

TEST(ReadIniTest, FifoInTheFilesPlaceIsNeverOpened) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "a.ini").c_str(), 0644), 0);
  EXPECT_EQ(ReadIni("S", "k", dir / "a.ini"), "");  // would block if opened for reading
  EXPECT_NE(WriteError("S", "k", dir / "a.ini", "v"), "");
}

TEST(ReadIniTest, FirstSectionAndFirstKeyWin) {
  TempDir dir;
  WriteFileBytes(dir / "a.ini", "[S]\nk=first\nK=second\n[s]\nk=third\nonly=later\n");
  EXPECT_EQ(ReadIni("S", "k", dir / "a.ini"), "first");
  EXPECT_EQ(ReadIni("S", "only", dir / "a.ini"), "");
}

TEST(ReadIniTest, DoubleByteNamesMatchOnlyThemselves) {
  TempDir dir;
  // ア is 83 41 and ヂ is 83 61: their second bytes differ only as 'A' and 'a' do.
  // ゾ is 83 5D: its second byte is ']'.
  WriteFileBytes(dir / "a.ini",
                 "[\x83\x41]\r\n\x83\x61=\x92\x6c\r\n[\x83\x5D]\r\nk=2\r\n[ \x83\x61 ]\r\nk=3\r\n");
  EXPECT_EQ(ReadIni("ア", "ヂ", dir / "a.ini"), "値");
  EXPECT_EQ(ReadIni("ア", "ア", dir / "a.ini"), "");
  EXPECT_EQ(ReadIni("ゾ", "k", dir / "a.ini"), "2");
  EXPECT_EQ(ReadIni("ヂ", "k", dir / "a.ini"), "3");
}

TEST(ReadIniTest, ValuesAreCutTo255BytesWithoutSplittingACharacter) {
  TempDir dir;
  const std::string a = "\x82\xa0";  // あ
  WriteFileBytes(dir / "a.ini", "[S]\nascii=" + std::string(300, 'x') + "\nwide=" + Repeat(a, 200) +
                                    "\nodd=y" + Repeat(a, 200) +
                                    "\nblank=" + std::string(250, 'z') + std::string(10, ' ') +
                                    "tail\nquoted=\"" + std::string(300, 'q') + "\"\n");
  EXPECT_EQ(ReadIni("S", "ascii", dir / "a.ini"), std::string(255, 'x'));
  EXPECT_EQ(ReadIni("S", "wide", dir / "a.ini"), Repeat("あ", 127));
  EXPECT_EQ(ReadIni("S", "odd", dir / "a.ini"), "y" + Repeat("あ", 127));
  EXPECT_EQ(ReadIni("S", "blank", dir / "a.ini"), std::string(250, 'z'));
  EXPECT_EQ(ReadIni("S", "quoted", dir / "a.ini"), std::string(255, 'q'));
}

TEST(ReadIniTest, DamagedFilesReadWithoutFailing) {
  TempDir dir;
  std::mt19937 random(20240607);
  std::string junk(65536, '\0');
  for (char& c : junk) c = static_cast<char>(random());
  const std::string long_line = std::string(10000, 'n');
  const std::pair<std::string, const char*> cases[] = {
      {"", ""},
      {"[S]\r\nk=v", "v"},
      {"\xEF\xBB\xBF[S]\r\nk=v\r\n", "v"},
      {"[S]\r\nk=v\r", "v"},
      {long_line + "\n[S]\n" + long_line + "\nk=" + long_line + "\n", nullptr},
      {"[S]\nk=v\n" + junk, "v"},
      {junk + "\n[S]\nk=v\n", "v"},
      {junk, nullptr},
  };
  for (const auto& [content, expected] : cases) {
    WriteFileBytes(dir / "a.ini", content);
    std::string value = ReadIni("S", "k", dir / "a.ini");
    if (expected) {
      EXPECT_EQ(value, expected) << content.substr(0, 40);
    }
  }
  WriteFileBytes(dir / "a.ini", long_line + "\n[S]\n" + long_line + "\nk=" + long_line + "\n");
  EXPECT_EQ(ReadIni("S", "k", dir / "a.ini"), std::string(255, 'n'));
}

TEST(GetAnsiLeftStringTest, CountsCp932BytesAndDropsACutCharacter) {
  const struct {
    const char* text;
    int n;
    const char* expected;
  } cases[] = {
      {"abc", 0, ""},   {"abc", -1, ""},    {"abc", 2, "ab"}, {"abc", 99, "abc"},
      {"aあb", 2, "a"}, {"aあb", 3, "aあ"}, {"ｱｲ", 1, "ｱ"},   {"😀x", 1, "?"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetAnsiLeftString(c.text, c.n), c.expected) << c.text << " " << c.n;
  }
}

TEST(WriteIniTest, ChangingOneValueKeepsEveryOtherByte) {
  TempDir dir;
  // The whole file is compared, so the six maintenance keys are covered too.
  for (const std::string& original :
       {kSettings, WithoutCr(kSettings), "\xEF\xBB\xBF" + kSettings}) {
    WriteFileBytes(dir / "a.ini", original);
    WriteIni("Port", "UdpSrcPort", dir / "a.ini", "7000");
    EXPECT_EQ(ReadFileBytes(dir / "a.ini"),
              Replaced(original, "UdpSrcPort = 5000", "UdpSrcPort=7000"));
    // The file's own spelling of the key is kept.
    WriteIni("Maintenance", "SendInterval", dir / "a.ini", "3000");
    EXPECT_EQ(ReadFileBytes(dir / "a.ini"),
              Replaced(Replaced(original, "UdpSrcPort = 5000", "UdpSrcPort=7000"),
                       "Sendinterval=2000", "Sendinterval=3000"));
  }
}

TEST(WriteIniTest, ReplacedLineKeepsItsOwnEnding) {
  TempDir dir;
  WriteFileBytes(dir / "a.ini", "[S]\r\n  KEY =  old  \r\n[T]\nk=v");
  WriteIni("s", "key", dir / "a.ini", "new");
  WriteIni("T", "k", dir / "a.ini", "w");
  EXPECT_EQ(ReadFileBytes(dir / "a.ini"), "[S]\r\nKEY=new\r\n[T]\nk=w");
}

TEST(WriteIniTest, NewKeyFollowsTheLastNonBlankLineOfItsSection) {
  TempDir dir;
  WriteFileBytes(dir / "a.ini", "[A]\r\na=1\r\n; note\r\n\r\n\r\n[C]\r\n\r\n[B]\r\nb=1");
  WriteIni("A", "new", dir / "a.ini", "2");
  WriteIni("C", "x", dir / "a.ini", "3");
  WriteIni("B", "c", dir / "a.ini", "4");
  EXPECT_EQ(ReadFileBytes(dir / "a.ini"),
            "[A]\r\na=1\r\n; note\r\nnew=2\r\n\r\n\r\n[C]\r\nx=3\r\n\r\n[B]\r\nb=1\r\nc=4\r\n");
}

TEST(WriteIniTest, NewSectionIsAppendedInTheFilesLineEnding) {
  TempDir dir;
  const std::string added = "[Port]\r\nUdpSrcPort=5000\r\n";
  const std::pair<std::string, std::string> cases[] = {
      {"", added},
      {"\xEF\xBB\xBF", "\xEF\xBB\xBF" + added},
      {"[A]\r\na=1", "[A]\r\na=1\r\n" + added},
      {"[A]\r\na=1\r", "[A]\r\na=1\r\n" + added},
      {"[A]\na=1\n", "[A]\na=1\n" + WithoutCr(added)},
      {"[A]\na=1", "[A]\na=1\n" + WithoutCr(added)},
  };
  for (const auto& [original, expected] : cases) {
    WriteFileBytes(dir / "a.ini", original);
    WriteIni("Port", "UdpSrcPort", dir / "a.ini", "5000");
    EXPECT_EQ(ReadFileBytes(dir / "a.ini"), expected) << original;
  }
}

TEST(WriteIniTest, MissingFileIsCreatedWithTheUsualPermissions) {
  TempDir dir;
  mode_t old_mask = umask(027);
  WriteIni("Port", "UdpSrcPort", dir / "a.ini", "5000");
  umask(old_mask);
  EXPECT_EQ(ReadFileBytes(dir / "a.ini"), "[Port]\r\nUdpSrcPort=5000\r\n");
  EXPECT_EQ(fs::status(dir / "a.ini").permissions(), static_cast<fs::perms>(0640));
  EXPECT_TRUE(HiddenFiles(dir.path()).empty());

  fs::permissions(dir / "a.ini", static_cast<fs::perms>(0604));
  WriteIni("Port", "UdpSrcPort", dir / "a.ini", "6000");
  EXPECT_EQ(fs::status(dir / "a.ini").permissions(), static_cast<fs::perms>(0604));
}

TEST(WriteIniTest, MissingFileInASharedFolderStaysWritableForTheGroup) {
  TempDir dir;
  fs::permissions(dir.path(), fs::perms(02770));
  mode_t old_mask = umask(027);
  WriteIni("Port", "UdpSrcPort", dir / "a.ini", "5000");
  umask(old_mask);
  EXPECT_EQ(fs::status(dir / "a.ini").permissions(), fs::perms(0660));
}

TEST(WriteIniTest, DuplicatesChangeOnlyTheFirstOccurrence) {
  TempDir dir;
  WriteFileBytes(dir / "a.ini", "[S]\nk=1\nK=2\n[s]\nk=3\n");
  WriteIni("S", "k", dir / "a.ini", "9");
  WriteIni("S", "new", dir / "a.ini", "5");
  EXPECT_EQ(ReadFileBytes(dir / "a.ini"), "[S]\nk=9\nK=2\nnew=5\n[s]\nk=3\n");
}

TEST(WriteIniTest, EveryWrittenValueReadsBack) {
  TempDir dir;
  const std::string file = dir / "a.ini";
  const char* sections[] = {"IPAddress", "Port", "maintenance", "MAINTENANCE", "ア", "ゾ", " Pad "};
  const char* keys[] = {"SendInterval", "Sendinterval", "k", "K", "ヂ", "キー 2", "ソ"};
  const char* pieces[] = {"a", "Z", "0", " ", "あ", "ｱ", "\"", "'", "=", "[", "]", ";", "\\", "表"};
  std::mt19937 random(7);
  // What each (section, key) should hold, by names folded the way the file folds them.
  std::map<std::pair<std::string, std::string>, std::string> model;
  const auto fold = [](std::string s) {
    std::string t(s.begin() + s.find_first_not_of(' '), s.begin() + s.find_last_not_of(' ') + 1);
    for (char& c : t) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return t;
  };
  for (int step = 0; step < 150; ++step) {
    const char* section = sections[random() % std::size(sections)];
    const char* key = keys[random() % std::size(keys)];
    std::string value = "v";  // starts and ends with a letter: no blanks or quotes to lose
    for (int n = random() % 12; n > 0; --n) value += pieces[random() % std::size(pieces)];
    value += "e";
    WriteIni(section, key, file, value);
    model[{fold(section), fold(key)}] = value;
    for (const auto& [name, expected] : model) {
      ASSERT_EQ(ReadIni(name.first, name.second, file), expected) << "step " << step;
    }
  }
  WriteIni("Port", "k", file, "😀");
  EXPECT_EQ(ReadIni("Port", "k", file), "?");
}

TEST(WriteIniTest, TextThatWouldBreakTheFileIsRefused) {
  TempDir dir;
  WriteFileBytes(dir / "a.ini", kSettings);
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"Po]rt", "k", "v"},   {"Po\nrt", "k", "v"},  {"Po\rrt", "k", "v"},
      {"Port", "", "v"},     {"Port", "  ", "v"},   {"Port", "a=b", "v"},
      {"Port", "a\nb", "v"}, {"Port", "[k]", "v"},  {"Port", "UdpSrcPort", "1\r\n[X]"},
      {"Port", "k", "a\nb"}, {"Port", "k", "a\rb"},
  };
  for (const auto& [section, key, value] : cases) {
    EXPECT_EQ(WriteError(section, key, dir / "a.ini", value), desc::kInvalidArgument)
        << section << key << value;
    EXPECT_EQ(WriteError(section, key, dir / "new.ini", value), desc::kInvalidArgument);
  }
  EXPECT_EQ(ReadFileBytes(dir / "a.ini"), kSettings);
  EXPECT_FALSE(fs::exists(dir / "new.ini"));
}

TEST(WriteIniTest, ReadOnlyFileOrFolderIsLeftAlone) {
  TempDir dir;
  WriteFileBytes(dir / "a.ini", kSettings);
  fs::permissions(dir / "a.ini", static_cast<fs::perms>(0444));
  EXPECT_EQ(WriteError("Port", "UdpSrcPort", dir / "a.ini", "1"), desc::kPermissionDenied);
  EXPECT_EQ(ReadFileBytes(dir / "a.ini"), kSettings);

  // The file is replaced by a new one, so its folder must be writable too.
  fs::permissions(dir / "a.ini", static_cast<fs::perms>(0644));
  fs::permissions(dir.path(), static_cast<fs::perms>(0555));
  EXPECT_EQ(WriteError("Port", "UdpSrcPort", dir / "a.ini", "1"), desc::kPermissionDenied);
  EXPECT_EQ(WriteError("Port", "UdpSrcPort", dir / "b.ini", "1"), desc::kPermissionDenied);
  fs::permissions(dir.path(), static_cast<fs::perms>(0755));
  EXPECT_EQ(ReadFileBytes(dir / "a.ini"), kSettings);
  EXPECT_FALSE(fs::exists(dir / "b.ini"));
  EXPECT_TRUE(HiddenFiles(dir.path()).empty());
}

TEST(WriteIniTest, MissingFolderOrFolderInTheFilesPlaceIsRefused) {
  TempDir dir;
  fs::create_directory(dir / "folder.ini");
  WriteFileBytes(dir / "plain", "x");
  EXPECT_EQ(WriteError("S", "k", dir / "missing/a.ini", "v"), desc::kPathNotFound);
  EXPECT_EQ(WriteError("S", "k", dir / "plain/a.ini", "v"), desc::kPathNotFound);
  EXPECT_NE(WriteError("S", "k", dir / "folder.ini", "v"), "");
  EXPECT_TRUE(fs::is_empty(dir / "folder.ini"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST(WriteIniTest, SymbolicLinkStaysALink) {
  TempDir dir;
  fs::create_directory(dir / "real");
  WriteFileBytes(dir / "real/a.ini", "[S]\r\nk=1\r\n");
  fs::create_symlink("real/a.ini", dir / "link.ini");
  fs::create_symlink("real/new.ini", dir / "dangling.ini");
  WriteIni("S", "k", dir / "link.ini", "2");
  WriteIni("S", "k", dir / "dangling.ini", "3");
  EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.ini"));
  EXPECT_EQ(ReadFileBytes(dir / "real/a.ini"), "[S]\r\nk=2\r\n");
  EXPECT_EQ(ReadFileBytes(dir / "real/new.ini"), "[S]\r\nk=3\r\n");
  EXPECT_TRUE(HiddenFiles(dir / "real").empty());
}

// In a shared (set-group-ID) folder any member may have put the link, aiming at another
// member's file: it is neither read nor written through, and stays as it is.
TEST(WriteIniTest, LinkInASharedFolderIsRefusedAndLeftAlone) {
  TempDir dir;
  fs::create_directory(dir / "shared");
  fs::permissions(dir / "shared", fs::perms(02775));
  WriteFileBytes(dir / "victim.ini", "[S]\r\nk=1\r\n");
  fs::create_symlink(dir / "victim.ini", dir / "shared/a.ini");
  EXPECT_EQ(ReadIni("S", "k", dir / "shared/a.ini"), "");
  EXPECT_EQ(WriteError("S", "k", dir / "shared/a.ini", "2"), desc::kPermissionDenied);
  EXPECT_EQ(ReadFileBytes(dir / "victim.ini"), "[S]\r\nk=1\r\n");
  EXPECT_EQ(fs::read_symlink(dir / "shared/a.ini"), dir / "victim.ini");
  EXPECT_TRUE(HiddenFiles(dir / "shared").empty());
}

TEST(WriteIniTest, FailedWriteLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const std::string original = kSettings + Repeat("; padding to make the file long\r\n", 300);
  WriteFileBytes(dir / "a.ini", original);
  // A file size limit makes the write stop part way, as a full disk would.
  rlimit old_limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit small = old_limit;
  small.rlim_cur = 4096;
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error = WriteError("Port", "UdpSrcPort", dir / "a.ini", "1");
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);

  EXPECT_EQ(error, desc::kDiskFull);
  EXPECT_EQ(ReadFileBytes(dir / "a.ini"), original);
  EXPECT_TRUE(HiddenFiles(dir.path()).empty());
}

TEST(RemoveStaleTemporariesTest, RemovesOnlyOldTemporariesOfThatFile) {
  TempDir dir;
  const std::string file = dir / "a.ini";
  WriteFileBytes(file, kSettings);
  const auto age = [](const fs::path& p, std::chrono::seconds by) {
    fs::last_write_time(p, fs::file_time_type::clock::now() - by);
  };
  const std::vector<std::string> stale = {".a.ini.Ab12Cd", ".a.ini.zzzzzz"};
  for (const auto& name : stale) {
    WriteFileBytes(dir / name, "half");
    age(dir / name, std::chrono::seconds(120));
  }
  // Kept: a write that may still run, look-alikes, other files' temporaries, a folder and
  // a link with the pattern's name, and the file itself even when old.
  const std::vector<std::string> kept = {".a.ini.Fresh1", ".a.ini.bak",    ".a.ini.ABCDEFG",
                                         ".a.ini.AB-DEF", ".b.ini.Ab12Cd", "a.ini.Ab12Cd"};
  for (const auto& name : kept) WriteFileBytes(dir / name, "x");
  for (const auto& name : kept) {
    if (name != ".a.ini.Fresh1") age(dir / name, std::chrono::seconds(120));
  }
  fs::create_directory(dir / ".a.ini.Folder");
  fs::create_symlink(file, dir / ".a.ini.Link00");
  age(file, std::chrono::seconds(120));

  RemoveStaleTemporaries(file);

  for (const auto& name : stale) EXPECT_FALSE(fs::exists(dir / name)) << name;
  for (const auto& name : kept) EXPECT_TRUE(fs::exists(dir / name)) << name;
  EXPECT_TRUE(fs::is_directory(dir / ".a.ini.Folder"));
  EXPECT_TRUE(fs::is_symlink(dir / ".a.ini.Link00"));
  EXPECT_EQ(ReadFileBytes(file), kSettings);
  // A missing folder is no error.
  RemoveStaleTemporaries(dir / "missing/a.ini");
}

}  // namespace
}  // namespace ostrel
