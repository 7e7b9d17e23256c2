// The ping-program way and the choice of the way, with stand-in programs in a folder of
// the test's own, and the real /usr/bin/ping where it is installed.
#include "transmission/ping_program.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <cerrno>
#include <chrono>
#include <fstream>

#include "icmp_test_support.h"
#include "transmission/echo_way.h"
#include "transmission/ping_check.h"
#include "transmission/reachability.h"

namespace ostrel {
namespace {

using std::chrono::milliseconds;
using test::TestNamespace;

int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start).count();
}

in_addr Loopback() {
  in_addr address{};
  inet_aton("127.0.0.1", &address);
  return address;
}

// A folder of stand-ins for the ping program. Each records its process id and its
// arguments in `<name>.run` beside it, then does what its body says.
class StandIns {
 public:
  std::string Make(const std::string& name, const std::string& body, bool executable = true) {
    const std::string path = Path(name);
    std::ofstream(path) << "#!/bin/sh\necho $$ \"$@\" >'" << path << ".run'\n" << body << "\n";
    chmod(path.c_str(), executable ? 0755 : 0644);
    return path;
  }
  std::string Path(const std::string& name) const {
    return dir_.filePath(name.c_str()).toStdString();
  }
  // What the last run of `name` recorded: its process id, then its arguments.
  std::string Run(const std::string& name) const {
    std::ifstream in(Path(name) + ".run");
    std::string line;
    std::getline(in, line);
    return line;
  }
  static bool StillRuns(const std::string& run) { return kill(std::stoi(run), 0) == 0; }

 private:
  QTemporaryDir dir_;
};

TEST(PingProgram, FixedArgumentsWithTheTimeOutInSeconds) {
  const std::vector<std::string> expected = {"-n", "-q", "-c", "1",        "-s",
                                             "0",  "-W", "",   "127.0.0.1"};
  for (const auto& [ms, seconds] : {std::pair{300, "0.300"}, {0, "0.001"}, {32767, "32.767"}}) {
    std::vector<std::string> arguments = expected;
    arguments[7] = seconds;
    EXPECT_EQ(PingProgramArguments(Loopback(), milliseconds(ms)), arguments) << ms;
  }
}

TEST(PingProgram, ExitStatusAloneDecidesAndAHangingRunIsKilled) {
  StandIns programs;
  const std::string replying = programs.Make("replying", "echo 'no output is read'; exit 0");
  const std::string silent = programs.Make("silent", "exit 1");
  const std::string hanging = programs.Make("hanging", "exec /bin/sleep 30");
  const auto check = [](const std::string& program, uint8_t tries) {
    return test::Reachable("127.0.0.1", tries, [program](in_addr target) {
      return std::make_unique<PingProgramProbe>(program, target);
    });
  };
  EXPECT_TRUE(check(replying, 1));
  EXPECT_EQ(programs.Run("replying").substr(programs.Run("replying").find(' ') + 1),
            "-n -q -c 1 -s 0 -W 0.300 127.0.0.1");
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(check(silent, 2));
  EXPECT_LT(MillisecondsSince(start), 900) << "an ended run is not waited out (2 x 500 ms)";

  // Each try waits out its margin, then kills the run.
  PingCheck event_driven(
      [hanging](in_addr target) { return std::make_unique<PingProgramProbe>(hanging, target); });
  QSignalSpy finished(&event_driven, &PingCheck::Finished);
  start = std::chrono::steady_clock::now();
  event_driven.Start("127.0.0.1", 2);
  ASSERT_TRUE(finished.wait(5000));
  EXPECT_FALSE(finished.at(0).at(0).toBool());
  EXPECT_GE(MillisecondsSince(start), 2 * (300 + kPingProgramMargin.count()) - 40);
  EXPECT_LT(MillisecondsSince(start), 5000);
  EXPECT_FALSE(StandIns::StillRuns(programs.Run("hanging"))) << "killed and reaped";
}

TEST(EchoWays, SocketsFirstThenTheProgramDecidedOnceAndKept) {
  StandIns programs;
  const std::string ping = programs.Make("ping", "exit 0");
  programs.Make("not-executable", "exit 0", /*executable=*/false);
  QDir().mkpath(programs.Path("folder").c_str());
  const std::vector<std::string> paths = {programs.Path("absent"), programs.Path("folder"),
                                          programs.Path("not-executable"), ping};
  struct Case {
    const char* name;
    int datagram, raw;  // what socket() says
    std::vector<std::string> paths;
    EchoWay way;
  };
  const Case cases[] = {
      {"datagram allowed", 0, 0, paths, EchoWay::kDatagramSocket},
      {"outside ping_group_range", EACCES, 0, paths, EchoWay::kRawSocket},
      {"no capability", EACCES, EPERM, paths, EchoWay::kPingProgram},
      {"no ICMP sockets at all", EAFNOSUPPORT, EPROTONOSUPPORT, paths, EchoWay::kPingProgram},
      {"no program either", EACCES, EPERM, {programs.Path("absent")}, EchoWay::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int asked = 0;
    EchoWays ways({[&](IcmpSocketKind kind) {
                     ++asked;
                     return kind == IcmpSocketKind::kDatagram ? c.datagram : c.raw;
                   },
                   c.paths});
    EXPECT_EQ(ways.Way(), c.way);
    const int asked_first = asked;
    EXPECT_EQ(ways.Way(), c.way);
    EXPECT_EQ(asked, asked_first) << "decided once";
    EXPECT_EQ(ways.Make(Loopback()) == nullptr, c.way == EchoWay::kNone);
  }

  // Short of descriptors at the first check: that check fails, the next one decides.
  int error = EMFILE;
  EchoWays ways({[&](IcmpSocketKind) { return error; }, paths});
  EXPECT_EQ(ways.Way(), EchoWay::kNone);
  error = EACCES;
  EXPECT_EQ(ways.Way(), EchoWay::kPingProgram);
  EXPECT_TRUE(test::Reachable("127.0.0.1", 1, ways.Factory()));
}

// The real program against hosts of the test's own: one that answers, one that ignores
// echo requests.
TEST(PingProgramSystem, AnswersFromLoopbackAndSilenceFromAHostIgnoringEchoRequests) {
  const std::optional<std::string> ping = FindPingProgram(kPingProgramPaths);
  if (!ping) GTEST_SKIP() << "no ping program at /usr/bin/ping or /bin/ping";
  const EchoExchangeFactory program = [&](in_addr target) {
    return std::make_unique<PingProgramProbe>(*ping, target);
  };
  EXPECT_TRUE(test::Reachable("127.0.0.1", 2, program));
  if (const std::string why = TestNamespace::WhyUnavailable(); !why.empty()) GTEST_SKIP() << why;
  TestNamespace ns(/*ignore_echo_requests=*/true);
  ASSERT_TRUE(ns.ok());
  TestNamespace::Inside inside(ns);
  ASSERT_TRUE(inside.ok());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(test::Reachable("127.0.0.1", 2, program));
  EXPECT_GE(MillisecondsSince(start), 560);
}

}  // namespace
}  // namespace ostrel
