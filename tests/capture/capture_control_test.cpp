// A capture on the send cycle's observers: a full disk ends it with one log line and
// takes it off the observers, while the reports (the cycle) go on.

#include "capture/capture_control.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "common/run_time_error.h"
#include "common/tool_kind.h"
#include "logging/operation_log.h"
#include "support/test_support.h"
#include "transmission/observer_fan_out.h"

namespace ostrel {
namespace {

TEST(CaptureControl, AFullDiskEndsTheCaptureWithOneLogLineAndTheCycleGoesOn) {
  test::TempDir dir;
  intToolKind = 2;
  InitLog(dir.str());
  const std::string file = dir / "full.pcapng";
  const pid_t child = fork();
  if (child == 0) {
    // In a child, so the limit and the ignored SIGXFSZ stay there. Room for the header and
    // one 2,048-byte packet, not for two.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{3000, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &limit);
    ObserverFanOut observers;
    CaptureControl capture(observers, [] { return 3; });
    int changes = 0;  // the start, then the failure
    capture.SetChangeListener([&] { ++changes; });
    capture.Start(file);
    const std::vector<uint8_t> bytes(2048, 0x5A);
    const auto now = std::chrono::steady_clock::now();
    const DatagramReport datagram{bytes, 0x7F000001, 50001, 50002, now};
    observers.CycleStarted();
    for (int attempt = 1; attempt <= 3; ++attempt) {
      observers.Transmitted(bytes.size(), now, attempt);
      observers.Sent(datagram);
      observers.TransmissionUnanswered();
    }
    observers.CycleEnded(CycleOutcome::kUnanswered);
    const bool stopped = !capture.Capturing() && observers.Empty() && changes == 2 &&
                         capture.FailureText() == desc::kDiskFull;
    capture.Stop();
    _exit(stopped ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(test::LogMessages(strLogFile[2]),
            std::vector<std::string>{std::string(desc::kDiskFull) + "(WriteCapture)"});
  // The file ends with its last whole block: the first transmission.
  EXPECT_GT(std::filesystem::file_size(file), 2048u);
  EXPECT_LT(std::filesystem::file_size(file), 3000u);
}

}  // namespace
}  // namespace ostrel
