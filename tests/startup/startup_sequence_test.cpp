#include "startup/startup_sequence.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <filesystem>

#include "logging/operation_log.h"
#include "mainwindow/main_window.h"
#include "settings/com_setting_dialog.h"
#include "startup/instance_lock.h"
#include "startup/working_folders.h"
#include "support/fake_message_box.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using test::FakeMessageBoxes;
using test::LogMessages;
using test::TempDir;
using test::WriteFileBytes;

std::string Settings(const std::string& src_port, const std::string& unit,
                     const std::string& maintenance_tail = "CommonSendRetry=3\r\nPingRetry=2\r\n"
                                                           "UdpAnsTimerInteval=100\r\n"
                                                           "UdpAnsTimeOut=1000\r\nLogMaxSize=1\r\n"
                                                           "LogGenerations=3\r\n") {
  return "[IPAddress]\r\nIPAddress=127.0.0.1\r\n[Port]\r\nUdpSrcPort=" + src_port +
         "\r\nUdpDestPort=50000\r\n[Maintenance]\r\nSendInterval=5\r\nSendIntervalUnit=" + unit +
         "\r\n" + maintenance_tail;
}

class StartupSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolderForTesting(dir_.str());
    // The running-copy lock lives in XDG_RUNTIME_DIR: one per test, since parallel test
    // processes share this executable.
    setenv("XDG_RUNTIME_DIR", run_.str().c_str(), 1);
    intLogMaxSize = 0;
    intLogGenerations = 0;
  }
  void TearDown() override { SetProgramFolderForTesting(""); }
  void WriteSettings(const std::string& text) {
    fs::create_directories(dir_.path() / "Config");
    WriteFileBytes(dir_ / "Config/Kiv_UdpSendSetting.ini", text);
  }
  std::vector<std::string> Log() { return LogMessages(dir_ / "Log/Kiv_UdpSndLog.txt"); }
  static bool DialogShown(const Startup& s) { return s.dialog && s.dialog->isVisible(); }
  static bool MainShown(const Startup& s) { return s.main_window && s.main_window->isVisible(); }

  TempDir dir_;
  TempDir run_;
  int ended_ = 0;
  std::function<void()> end_ = [this] { ++ended_; };
  FakeMessageBoxes boxes_;
};

TEST_F(StartupSequenceTest, EmptyFolderGetsItsFoldersAndOpensTheSettingsDialog) {
  Startup s = Main(end_);
  for (const char* name : {"Config", "Log", "Temp"}) EXPECT_TRUE(fs::is_directory(dir_ / name));
  EXPECT_TRUE(s.window_shown);
  EXPECT_TRUE(DialogShown(s));
  EXPECT_FALSE(MainShown(s));
  EXPECT_EQ(boxes_.Texts(), (std::vector<std::string>{"共通のリトライ回数が不正です。",
                                                      "設定ファイルの読み込みに失敗しました。"}));
  EXPECT_EQ(Log(), std::vector<std::string>{"(ReadSetting)"});
}

TEST_F(StartupSequenceTest, UsableSettingsOpenTheMainWindow) {
  WriteSettings(Settings("50001", "1"));
  Startup s = Main(end_);
  ASSERT_TRUE(MainShown(s));
  EXPECT_FALSE(DialogShown(s));
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_EQ(s.main_window->Settings().lngSrcPort, 50001);
  EXPECT_EQ(intLogGenerations, 3);
}

TEST_F(StartupSequenceTest, EachUnusableCommunicationSettingOpensTheDialog) {
  const std::string cases[] = {Settings("", "1"), Settings("abc", "1"), Settings("50001", "a"),
                               Settings("50001", "0")};  // 5 ms is too short
  for (const auto& text : cases) {
    WriteSettings(text);
    Startup s = Main(end_);
    EXPECT_TRUE(DialogShown(s)) << text;
    EXPECT_FALSE(MainShown(s)) << text;
  }
}

TEST_F(StartupSequenceTest, ConfirmedExitOfTheMainWindowEndsTheProgram) {
  WriteSettings(Settings("50001", "1"));
  Startup s = Main(end_);
  ASSERT_TRUE(MainShown(s));
  s.main_window->cmdEnd()->click();  // the fake message box answers OK
  EXPECT_EQ(ended_, 1);
}

TEST_F(StartupSequenceTest, SourcePortBeyondTheRangePassesTheStartUpCheck) {
  WriteSettings(Settings("70000", "1"));
  Startup s = Main(end_);
  EXPECT_TRUE(MainShown(s));
}

TEST_F(StartupSequenceTest, MissingMaintenanceKeysStillOpenTheMainWindow) {
  WriteSettings(Settings("50001", "1", ""));
  Startup s = Main(end_);
  EXPECT_TRUE(MainShown(s));
  EXPECT_EQ(boxes_.Texts().back(), "設定ファイルの読み込みに失敗しました。");
}

TEST_F(StartupSequenceTest, SecondCopyIsRefusedAfterEmptyingTemp) {
  InstanceLock first(ExecutablePath());
  ASSERT_FALSE(first.AnotherCopyRunning());
  fs::create_directories(dir_.path() / "Temp");
  WriteFileBytes(dir_ / "Temp/scratch", "x");
  WriteSettings(Settings("50001", "1"));

  Startup s = Main(end_);
  EXPECT_FALSE(s.window_shown);
  EXPECT_FALSE(s.main_window);
  EXPECT_FALSE(fs::exists(dir_ / "Temp/scratch"));
  EXPECT_EQ(Log(), std::vector<std::string>{"二重起動の為、起動を中止しました。"});
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(StartupSequenceTest, FailureBeforeAnyWindowEndsStartUpWithoutAWindow) {
  // A live log over its limit whose first generation is a folder: the rotation fails.
  WriteSettings(Settings("50001", "1"));
  fs::create_directories(dir_.path() / "Log/Kiv_UdpSndLog.txt.1");
  WriteFileBytes(dir_ / "Log/Kiv_UdpSndLog.txt", std::string(1024 * 1024 + 1, 'x'));
  Startup s = Main(end_);
  EXPECT_FALSE(s.window_shown);
  EXPECT_FALSE(MainShown(s));
  ASSERT_FALSE(Log().empty());
  EXPECT_NE(Log().back().find("(Main)"), std::string::npos);
}

TEST_F(StartupSequenceTest, UnitBeyondSixteenBitsIsARunTimeFailure) {
  WriteSettings(Settings("50001", "40000"));
  Startup s = Main(end_);
  EXPECT_FALSE(s.window_shown);
  EXPECT_EQ(Log().back(), "オーバーフローしました。(Main)");
}

TEST_F(StartupSequenceTest, ApplyOrCancelOfTheStartUpDialogShowsTheMainWindow) {
  WriteSettings(Settings("50001", "a"));
  Startup s = Main(end_);
  ASSERT_TRUE(DialogShown(s));
  emit s.dialog->Finished();
  EXPECT_TRUE(MainShown(s));
  EXPECT_EQ(ended_, 0);
}

TEST_F(StartupSequenceTest, ClosingTheStartUpDialogByItsCloseBoxEndsTheProgram) {
  Startup s = Main(end_);
  ASSERT_TRUE(DialogShown(s));
  s.dialog->close();
  EXPECT_EQ(ended_, 1) << "the program is told to end";
  EXPECT_FALSE(MainShown(s));
}

TEST_F(StartupSequenceTest, UnwritableProgramFolderEndsWithoutAnyTrace) {
  const bool ended_quietly = test::RunUnprivileged(dir_.path(), [&] {
    fs::permissions(dir_.path(), fs::perms::owner_read | fs::perms::owner_exec);
    Startup s = Main(end_);
    return !s.window_shown && !s.main_window;
  });
  EXPECT_TRUE(ended_quietly);
  EXPECT_TRUE(fs::is_empty(dir_.path()));
}

}  // namespace
}  // namespace ostrel
