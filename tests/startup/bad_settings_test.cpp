// Bad settings files through the whole start-up: the settings load into the hidden main
// window, the log rotation and the check that picks the first window. For each file:
// the message boxes in order, the log lines, which window opens, and that the settings
// file is exactly as it was (start-up only reads it).

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "common/cp932.h"
#include "common/timer.h"
#include "logging/operation_log.h"
#include "mainwindow/main_window.h"
#include "settings/com_setting_dialog.h"
#include "startup/startup_sequence.h"
#include "startup/working_folders.h"
#include "support/fake_message_box.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

constexpr const char* kReadFailed = "設定ファイルの読み込みに失敗しました。";
const std::string kOverflow = "オーバーフローしました。";
const std::string kInvalidValue = "プロパティの値が無効です。";

struct Key {
  const char* section;
  const char* name;
  const char* good;
  const char* message;  // shown when a strict key is empty or not numeric; null: lenient
};

// The eleven keys in the order the load reads them, with usable values: destination
// 127.0.0.1, a send period of 5 s.
constexpr Key kKeys[] = {
    {"Port", "UdpSrcPort", "50001", nullptr},
    {"IPAddress", "IPAddress", "127.0.0.1", nullptr},
    {"Port", "UdpDestPort", "50000", nullptr},
    {"Maintenance", "SendInterval", "5", nullptr},
    {"Maintenance", "SendIntervalUnit", "1", nullptr},
    {"Maintenance", "CommonSendRetry", "3", "共通のリトライ回数が不正です。"},
    {"Maintenance", "PingRetry", "2", "Pingリトライ回数が不正です。"},
    {"Maintenance", "UdpAnsTimerInteval", "100", "UDP応答タイマインターバルが不正です。"},
    {"Maintenance", "UdpAnsTimeOut", "1000", "UDP応答タイムアウト値が不正です。"},
    {"Maintenance", "LogMaxSize", "1", "ログ最大サイズが不正です。"},
    {"Maintenance", "LogGenerations", "3", "ログ最大世代数が不正です。"},
};

const Key& KeyNamed(const std::string& name) {
  for (const Key& key : kKeys)
    if (name == key.name) return key;
  throw std::logic_error("no key " + name);
}

// A settings file (code page 932, CR LF) in the usual section order with every key at
// its usable value, except `key` with the code-page-932 bytes `value`.
std::string SettingsWith(const std::string& key = "", const std::string& value = "") {
  std::string text;
  for (const char* section : {"IPAddress", "Port", "Maintenance"}) {
    text += "[" + std::string(section) + "]\r\n";
    for (const Key& k : kKeys) {
      if (std::string(k.section) != section) continue;
      text += std::string(k.name) + "=" + (key == k.name ? value : std::string(k.good)) + "\r\n";
    }
  }
  return text;
}

enum class Window { kMain, kDialog, kNone };

std::ostream& operator<<(std::ostream& out, Window w) {
  return out << (w == Window::kMain     ? "main window"
                 : w == Window::kDialog ? "settings dialog"
                                        : "none");
}

struct Outcome {
  Texts boxes;
  Texts log;
  Window window = Window::kNone;
};

bool operator==(const Outcome& a, const Outcome& b) {
  return a.boxes == b.boxes && a.log == b.log && a.window == b.window;
}

void PrintTo(const Outcome& o, std::ostream* out) {
  *out << "{boxes:";
  for (const auto& t : o.boxes) *out << " [" << t << "]";
  *out << "; log:";
  for (const auto& t : o.log) *out << " [" << t << "]";
  *out << "; window: " << o.window << "}";
}

// The common answers.
Outcome Opens(Window window) { return {{}, {}, window}; }
Outcome KeyRejected(const Key& key, Window window = Window::kMain) {
  return {{key.message, kReadFailed}, {"(ReadSetting)"}, window};
}
Outcome LoadFails(const std::string& description, Window window = Window::kMain,
                  Texts more_log = {}) {
  Texts log{description + "(ReadSetting)"};
  log.insert(log.end(), more_log.begin(), more_log.end());
  return {{kReadFailed}, log, window};
}

// What the loaded main window holds, read before the start-up objects go.
struct Loaded {
  MainSettings settings;
  int answer_timer_interval = -1;
  int16_t log_max_size = 0;
  int16_t log_generations = 0;
};

class BadSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolderForTesting(dir_.str());
    setenv("XDG_RUNTIME_DIR", run_.str().c_str(), 1);
    fs::create_directories(dir_.path() / "Config");
  }
  void TearDown() override { SetProgramFolderForTesting(""); }

  std::string SettingsPath() const { return dir_ / "Config/Kiv_UdpSendSetting.ini"; }
  fs::path LogPath() const { return dir_.path() / "Log/Kiv_UdpSndLog.txt"; }

  // Runs the start-up on the settings file as it is on disk.
  Outcome StartOnFile(Loaded* loaded = nullptr) {
    boxes_.shown.clear();
    fs::remove(LogPath());
    intLogMaxSize = 0;
    intLogGenerations = 0;
    struct stat before {};
    EXPECT_EQ(stat(SettingsPath().c_str(), &before), 0);

    Outcome outcome;
    {
      Startup s = Main([] {});
      const bool main_shown = s.main_window && s.main_window->isVisible();
      const bool dialog_shown = s.dialog && s.dialog->isVisible();
      EXPECT_FALSE(main_shown && dialog_shown) << "one first window";
      outcome.window = main_shown ? Window::kMain : dialog_shown ? Window::kDialog : Window::kNone;
      EXPECT_EQ(s.window_shown, outcome.window != Window::kNone);
      if (loaded && s.main_window) {
        loaded->settings = s.main_window->Settings();
        loaded->answer_timer_interval = s.main_window->tmrRcvAns()->Interval();
        loaded->log_max_size = intLogMaxSize;
        loaded->log_generations = intLogGenerations;
      }
    }
    for (const auto& box : boxes_.shown) {
      outcome.boxes.push_back(box.text);
      EXPECT_EQ(box.icon, MsgIcon::Critical) << box.text;
      EXPECT_EQ(box.buttons, MsgButtons::Ok) << box.text;
    }
    outcome.log = test::LogMessages(LogPath());

    // Start-up never writes the settings file: same inode, same time, nothing beside it.
    struct stat after {};
    EXPECT_EQ(stat(SettingsPath().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path() / "Config"), {}), 1);
    return outcome;
  }

  // Writes `bytes` as the settings file, starts, and checks the file's bytes afterwards.
  Outcome Start(const std::string& bytes, Loaded* loaded = nullptr) {
    test::WriteFileBytes(SettingsPath(), bytes);
    Outcome outcome = StartOnFile(loaded);
    EXPECT_TRUE(test::ReadFileBytes(SettingsPath()) == bytes) << "the settings file is unchanged";
    return outcome;
  }

  // Starts with one key set to `value`, expecting `expected`.
  void ExpectKey(const std::string& key, const std::string& value, const Outcome& expected) {
    EXPECT_EQ(Start(SettingsWith(key, value)), expected) << key << "=" << value;
  }

  test::TempDir dir_;
  test::TempDir run_;
  test::FakeMessageBoxes boxes_;
};

TEST_F(BadSettingsTest, UsableFileOpensTheMainWindowQuietly) {
  Loaded loaded;
  EXPECT_EQ(Start(SettingsWith(), &loaded), Opens(Window::kMain));
  EXPECT_EQ(loaded.settings.lngSrcPort, 50001);
  EXPECT_EQ(loaded.answer_timer_interval, 100);
  EXPECT_EQ(loaded.log_generations, 3);
}

TEST_F(BadSettingsTest, EveryKeyEmpty) {
  for (const Key& key : kKeys) {
    // A communication key is skipped by the load; the start-up check then opens the
    // dialog. A maintenance key stops the load with its own message first.
    ExpectKey(key.name, "", key.message ? KeyRejected(key) : Opens(Window::kDialog));
  }
}

TEST_F(BadSettingsTest, EveryKeyNotNumeric) {
  for (const std::string value : {"x1", "1x", "1 2", "--1", "1e", "&H", "&HG", "1,,0", "."}) {
    for (const Key& key : kKeys) {
      ExpectKey(key.name, value, key.message ? KeyRejected(key) : Opens(Window::kDialog));
    }
  }
  // The address is taken as any text; only the start-up check refuses it.
  test::WriteFileBytes(SettingsPath(), SettingsWith("IPAddress", "localhost"));
  Startup s = Main([] {});
  ASSERT_TRUE(s.main_window);
  EXPECT_EQ(s.main_window->Settings().strDestIpAddress, "localhost");
  EXPECT_TRUE(s.dialog && s.dialog->isVisible());
}

TEST_F(BadSettingsTest, SixteenBitKeysAtAndBeyondTheirLimits) {
  for (const char* name : {"CommonSendRetry", "PingRetry", "LogMaxSize", "LogGenerations"}) {
    for (const std::string value : {"32767", "-32768"})
      ExpectKey(name, value, Opens(Window::kMain));
    for (const std::string value : {"32768", "-32769", "2147483647", "2147483648"})
      ExpectKey(name, value, LoadFails(kOverflow));
  }
  Loaded loaded;
  Start(SettingsWith("PingRetry", "32767"), &loaded);
  EXPECT_EQ(loaded.settings.intPingRetry, 32767);
  Start(SettingsWith("LogMaxSize", "32767"), &loaded);
  EXPECT_EQ(loaded.log_max_size, 32767);
  Start(SettingsWith("LogGenerations", "-32768"), &loaded);
  EXPECT_EQ(loaded.log_generations, 10) << "the rotation puts its default in";

  // The unit is numeric but no unit at all: the dialog, which cannot select it and logs
  // that. Beyond 16 bits it fails the load and then the start-up check itself, which
  // leaves no window.
  for (const std::string value : {"32767", "-32768"}) {
    ExpectKey("SendIntervalUnit", value,
              Outcome{{}, {kInvalidValue + "(Form_Load)"}, Window::kDialog});
  }
  for (const std::string value : {"32768", "-32769"}) {
    ExpectKey("SendIntervalUnit", value,
              LoadFails(kOverflow, Window::kNone, {kOverflow + "(Main)"}));
  }
}

TEST_F(BadSettingsTest, ThirtyTwoBitKeysAtAndBeyondTheirLimits) {
  // Ports are only tested for being numeric at start-up, so any 32-bit value opens the
  // main window; beyond 32 bits the load fails but the check still passes.
  for (const char* name : {"UdpSrcPort", "UdpDestPort"}) {
    for (const std::string value : {"32767", "32768", "2147483647", "-2147483648"})
      ExpectKey(name, value, Opens(Window::kMain));
    for (const std::string value : {"2147483648", "-2147483649"})
      ExpectKey(name, value, LoadFails(kOverflow));
  }
  for (const std::string value : {"2147483647", "-2147483648", "32768", "-32769"})
    ExpectKey("UdpAnsTimeOut", value, Opens(Window::kMain));
  for (const std::string value : {"2147483648", "-2147483649"})
    ExpectKey("UdpAnsTimeOut", value, LoadFails(kOverflow));

  // The send period is loaded, then judged by the validator, which logs its own overflow.
  ExpectKey("SendInterval", "2147483647", Opens(Window::kDialog));
  ExpectKey("SendInterval", "2147483648",
            LoadFails(kOverflow, Window::kDialog, {kOverflow + "(CheckInterval)"}));

  Loaded loaded;
  Start(SettingsWith("UdpSrcPort", "2147483647"), &loaded);
  EXPECT_EQ(loaded.settings.lngSrcPort, 2147483647);
  Start(SettingsWith("UdpDestPort", "2147483648"), &loaded);
  EXPECT_EQ(loaded.settings.lngSrcPort, 50001) << "keys before the failing one are loaded";
  EXPECT_EQ(loaded.settings.lngDestPort, 0) << "the failing key keeps its old value";
  EXPECT_EQ(loaded.answer_timer_interval, 0) << "later keys are not read";
}

TEST_F(BadSettingsTest, AnswerTimerIntervalOutsideWhatATimerTakes) {
  Loaded loaded;
  for (const std::string value : {"0", "65535"}) {
    EXPECT_EQ(Start(SettingsWith("UdpAnsTimerInteval", value), &loaded), Opens(Window::kMain));
    EXPECT_EQ(loaded.answer_timer_interval, std::stoi(value));
  }
  for (const std::string value : {"65536", "-1", "2147483647", "-2147483648"})
    ExpectKey("UdpAnsTimerInteval", value, LoadFails(kInvalidValue));
  ExpectKey("UdpAnsTimerInteval", "2147483648", LoadFails(kOverflow));
}

TEST_F(BadSettingsTest, BlanksAroundValuesAndKeysAreDropped) {
  Loaded loaded;
  const std::string text = test::Replaced(
      test::Replaced(test::Replaced(SettingsWith(), "PingRetry=2", " PingRetry = \t7  "),
                     "IPAddress=127.0.0.1", "IPAddress=   127.0.0.1   "),
      "UdpSrcPort=50001", "UdpSrcPort=\t50002\t");
  EXPECT_EQ(Start(text, &loaded), Opens(Window::kMain));
  EXPECT_EQ(loaded.settings.intPingRetry, 7);
  EXPECT_EQ(loaded.settings.strDestIpAddress, "127.0.0.1");
  EXPECT_EQ(loaded.settings.lngSrcPort, 50002);
  // A blank inside a number is not allowed.
  ExpectKey("PingRetry", " 1 2 ", KeyRejected(KeyNamed("PingRetry")));
  ExpectKey("UdpSrcPort", "500 01", Opens(Window::kDialog));
  ExpectKey("IPAddress", "127.0.0. 1", Opens(Window::kMain));  // a leading blank in a part
}

TEST_F(BadSettingsTest, HexadecimalValues) {
  Loaded loaded;
  EXPECT_EQ(Start(SettingsWith("PingRetry", "&H10"), &loaded), Opens(Window::kMain));
  EXPECT_EQ(loaded.settings.intPingRetry, 16);
  EXPECT_EQ(Start(SettingsWith("CommonSendRetry", "&H7FFF"), &loaded), Opens(Window::kMain));
  EXPECT_EQ(loaded.settings.intCommonSendRetry, 32767);
  EXPECT_EQ(Start(SettingsWith("UdpAnsTimeOut", "&HFFFFFFFF"), &loaded), Opens(Window::kMain));
  EXPECT_EQ(loaded.settings.lngAnsTimeOut, -1);
  EXPECT_EQ(Start(SettingsWith("UdpSrcPort", "&HC351"), &loaded), Opens(Window::kMain));
  EXPECT_EQ(loaded.settings.lngSrcPort, 50001);
  EXPECT_EQ(Start(SettingsWith("UdpAnsTimerInteval", "&HFFFF"), &loaded), Opens(Window::kMain));
  EXPECT_EQ(loaded.answer_timer_interval, 65535);
  ExpectKey("IPAddress", "&H7F.0.0.&H1", Opens(Window::kMain));
  ExpectKey("SendInterval", "&H258", Opens(Window::kMain));  // 600 s
  ExpectKey("SendInterval", "&H259", Opens(Window::kDialog));

  // A hexadecimal text is a 32-bit value: &H8000 is 32768, too large for 16 bits.
  ExpectKey("PingRetry", "&H8000", LoadFails(kOverflow));
  ExpectKey("UdpAnsTimeOut", "&H100000000", LoadFails(kOverflow));
  ExpectKey("UdpAnsTimerInteval", "&H10000", LoadFails(kInvalidValue));
}

TEST_F(BadSettingsTest, ValuesOf300BytesAreReadAsTheirFirst255) {
  Loaded loaded;
  // Only the first 255 bytes count: 255 zeros, so the junk after them is never seen.
  EXPECT_EQ(
      Start(SettingsWith("PingRetry", std::string(255, '0') + "7" + std::string(44, 'x')), &loaded),
      Opens(Window::kMain));
  EXPECT_EQ(loaded.settings.intPingRetry, 0);
  ExpectKey("CommonSendRetry", std::string(300, '1'), LoadFails(kOverflow));
  ExpectKey("UdpAnsTimeOut", std::string(300, '9'), LoadFails(kOverflow));

  // The address keeps 255 bytes; a double-byte character cut by the limit is dropped whole.
  std::string kana;
  for (int i = 0; i < 150; ++i) kana += "あ";
  std::string kept;
  for (int i = 0; i < 127; ++i) kept += "あ";
  const std::string ascii = std::string(299, 'a') + "b";
  for (const auto& [value, stored] :
       {std::pair{Utf8ToCp932(kana), kept}, std::pair{ascii, std::string(255, 'a')}}) {
    test::WriteFileBytes(SettingsPath(), SettingsWith("IPAddress", value));
    // The dialog opens, so read the loaded address through the load alone.
    Startup s = Main([] {});
    ASSERT_TRUE(s.main_window);
    EXPECT_EQ(s.main_window->Settings().strDestIpAddress, stored);
    EXPECT_TRUE(s.dialog && s.dialog->isVisible());
  }
  ExpectKey("IPAddress", "127.0.0.1" + std::string(291, ' '), Opens(Window::kMain));
}

TEST_F(BadSettingsTest, DuplicatedKeysAndSectionsFirstOneWins) {
  const Key& ping = KeyNamed("PingRetry");
  const std::string good = SettingsWith();
  Loaded loaded;

  EXPECT_EQ(Start(test::Replaced(good, "PingRetry=2\r\n", "PingRetry=x\r\nPingRetry=2\r\n")),
            KeyRejected(ping));
  EXPECT_EQ(Start(test::Replaced(good, "PingRetry=2\r\n", "pingretry=x\r\nPINGRETRY=2\r\n")),
            KeyRejected(ping))
      << "keys are the same without regard to case";
  EXPECT_EQ(
      Start(test::Replaced(good, "PingRetry=2\r\n", "PingRetry=5\r\nPingRetry=x\r\n"), &loaded),
      Opens(Window::kMain));
  EXPECT_EQ(loaded.settings.intPingRetry, 5);

  // A second [Port] is never looked at, whichever way round.
  EXPECT_EQ(Start(good + "[Port]\r\nUdpSrcPort=x\r\nUdpDestPort=\r\n", &loaded),
            Opens(Window::kMain));
  EXPECT_EQ(loaded.settings.lngSrcPort, 50001);
  EXPECT_EQ(Start("[port]\r\nUdpSrcPort=x\r\n" + good), Opens(Window::kDialog));
  // A key that only a second [Maintenance] holds is missing.
  EXPECT_EQ(Start(test::Replaced(good, "LogGenerations=3\r\n", "") +
                  "[Maintenance]\r\nLogGenerations=3\r\n"),
            KeyRejected(KeyNamed("LogGenerations")));
  // Two whole copies of the file read as the first.
  EXPECT_EQ(Start(good + SettingsWith("CommonSendRetry", "")), Opens(Window::kMain));
  EXPECT_EQ(Start(SettingsWith("CommonSendRetry", "") + good),
            KeyRejected(KeyNamed("CommonSendRetry")));
}

TEST_F(BadSettingsTest, BinaryJunk) {
  std::mt19937 random(6);
  std::string junk(64 * 1024, '\0');
  for (char& c : junk) c = static_cast<char>(random());
  // Like a missing file: the first strict key is missing, then the dialog.
  EXPECT_EQ(Start(junk), KeyRejected(KeyNamed("CommonSendRetry"), Window::kDialog));
  // Junk before a usable file is skipped line by line.
  EXPECT_EQ(Start(junk + "\r\n" + SettingsWith()), Opens(Window::kMain));
  // Bytes that are no code-page-932 text, NULs and lone CRs inside values.
  for (const std::string& value : {std::string("\xFF\xFE\x81"),
                                   std::string("1\0"
                                               "2",
                                               3),
                                   std::string("3\r4"), std::string("\x81")}) {
    ExpectKey("PingRetry", value, KeyRejected(KeyNamed("PingRetry")));
    ExpectKey("IPAddress", value, Opens(Window::kDialog));
  }
  // A folder, a FIFO or a device in the file's place reads as no file, without blocking.
  fs::remove(SettingsPath());
  fs::create_symlink("/dev/zero", SettingsPath());
  alarm(30);
  EXPECT_EQ(StartOnFile(), KeyRejected(KeyNamed("CommonSendRetry"), Window::kDialog));
  fs::remove(SettingsPath());
  ASSERT_EQ(mkfifo(SettingsPath().c_str(), 0644), 0);
  EXPECT_EQ(StartOnFile(), KeyRejected(KeyNamed("CommonSendRetry"), Window::kDialog));
  alarm(0);
}

// The peak resident memory since the last reset, in bytes; the reset works from Linux 4.0.
long PeakRssBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6)) * 1024;
  return -1;
}
bool ResetPeakRss() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  return static_cast<bool>(clear.flush());
}

constexpr off_t k100MB = off_t{100} << 20;

// Settings files of 100 MB. Start-up reads the settings file once per key (16 times), so
// a big file must neither make it take long nor hold much more than the file in memory.
// A settings file is small by nature; where padding comes before the usable keys, a
// reader may stop at a size bound (the keys then count as missing) or read it all.
// (Reading the whole file and a list of all its lines on every read once took minutes
// and gigabytes for 100 MB of empty lines; reads now stop after the first MiB.)
class HugeSettingsTest : public BadSettingsTest {
 protected:
  // Appends `filler` to the settings file until it holds 100 MB more.
  void AppendFiller(const std::string& filler) {
    std::ofstream out(SettingsPath(), std::ios::binary | std::ios::app);
    std::string block;
    while (block.size() + filler.size() <= (1u << 20)) block += filler;
    for (off_t written = 0; written < k100MB; written += static_cast<off_t>(block.size()))
      out << block;
  }
  // Starts on the file as it is and checks time and memory loosely: generous bounds for
  // a busy CI machine or a sanitizer build.
  Outcome StartBounded(const char* what) {
    EXPECT_TRUE(ResetPeakRss());
    const long rss_before = PeakRssBytes();
    const auto start = std::chrono::steady_clock::now();
    Outcome outcome = StartOnFile();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long grown = PeakRssBytes() - rss_before;
    std::printf("  %s: start-up %.2f s, memory grew by %ld MiB\n", what, seconds, grown >> 20);
    EXPECT_LT(seconds, 10.0) << what;
    EXPECT_LT(grown, 512L << 20) << what;
    return outcome;
  }
  // Either answer of a reader is right when the usable keys lie behind 100 MB.
  void ExpectFoundOrMissing(const Outcome& outcome) {
    EXPECT_TRUE(outcome == Opens(Window::kMain) ||
                outcome == KeyRejected(KeyNamed("CommonSendRetry"), Window::kDialog))
        << ::testing::PrintToString(outcome);
  }
};

TEST_F(HugeSettingsTest, SparseNulsAfterTheSettings) {
  test::WriteFileBytes(SettingsPath(), SettingsWith());
  ASSERT_EQ(truncate(SettingsPath().c_str(), k100MB), 0);  // one line of NULs, no disk used
  EXPECT_EQ(StartBounded("settings, then 100 MB of NULs"), Opens(Window::kMain));
}

TEST_F(HugeSettingsTest, EmptyLinesAfterTheSettings) {
  test::WriteFileBytes(SettingsPath(), SettingsWith() + "[Padding]\r\n");
  AppendFiller("\n");
  EXPECT_EQ(StartBounded("settings, then 100 MB of empty lines"), Opens(Window::kMain));
}

TEST_F(HugeSettingsTest, SparseNulsBeforeTheSettings) {
  const std::string good = "\r\n" + SettingsWith();
  test::WriteFileBytes(SettingsPath(), "");
  ASSERT_EQ(truncate(SettingsPath().c_str(), k100MB), 0);
  {
    std::ofstream out(SettingsPath(), std::ios::binary | std::ios::app);
    out << good;
  }
  ExpectFoundOrMissing(StartBounded("100 MB of NULs, then settings"));
}

TEST_F(HugeSettingsTest, CommentLinesBeforeTheSettings) {
  test::WriteFileBytes(SettingsPath(), "");
  AppendFiller("; " + std::string(60, '-') + "\r\n");
  {
    std::ofstream out(SettingsPath(), std::ios::binary | std::ios::app);
    out << SettingsWith();
  }
  ExpectFoundOrMissing(StartBounded("100 MB of comment lines, then settings"));
}

TEST_F(HugeSettingsTest, EmptyLinesBeforeTheSettings) {
  test::WriteFileBytes(SettingsPath(), "");
  AppendFiller("\n");
  {
    std::ofstream out(SettingsPath(), std::ios::binary | std::ios::app);
    out << SettingsWith();
  }
  ExpectFoundOrMissing(StartBounded("100 MB of empty lines, then settings"));
}

}  // namespace
}  // namespace ostrel
