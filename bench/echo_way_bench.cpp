// The cost of one successful reachability check to 127.0.0.1 through each of the check's
// ways: a PingCheck of one try over an ICMP datagram socket, over a raw ICMP socket and
// through the system's ping program. Each check opens its way afresh, as the send cycle's
// check does. A way this process may not use is reported as such and skipped.
//
//   echo_way_bench [checks per way]   (default 50)
//
// bench/echo_way_bench.sh runs it in a network namespace of its own, where the datagram
// socket is allowed for every group; the raw socket needs root or CAP_NET_RAW.

#include <time.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "transmission/echo_probe.h"
#include "transmission/icmp_endpoint.h"
#include "transmission/ping_check.h"
#include "transmission/ping_program.h"

namespace ostrel {
namespace {

double NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct Way {
  const char* name;
  EchoExchangeFactory factory;
};

std::vector<Way> Ways() {
  std::vector<Way> ways;
  ways.push_back({"ICMP datagram socket", SocketExchanges([] {
                    return std::make_unique<SystemIcmpEndpoint>(
                        SystemIcmpEndpoint::Choice::kDatagramOnly);
                  })});
  ways.push_back({"raw ICMP socket", SocketExchanges([] {
                    return std::make_unique<SystemIcmpEndpoint>(
                        SystemIcmpEndpoint::Choice::kRawOnly);
                  })});
  const auto program = FindPingProgram(kPingProgramPaths);
  if (program) {
    ways.push_back({"ping program", [program](in_addr target) -> std::unique_ptr<EchoExchange> {
                      return std::make_unique<PingProgramProbe>(*program, target);
                    }});
  } else {
    std::printf("%-22s no ping program at /usr/bin/ping or /bin/ping\n", "ping program");
  }
  return ways;
}

// One check of 127.0.0.1 with one try, run to its end.
bool CheckOnce(const EchoExchangeFactory& factory) {
  PingCheck check(factory);
  bool reachable = false;
  QEventLoop loop;
  QObject::connect(&check, &PingCheck::Finished, [&](bool result) {
    reachable = result;
    loop.quit();
  });
  check.Start("127.0.0.1", 1);
  loop.exec();
  return reachable;
}

void Measure(const Way& way, int checks) {
  // One check first: the first start of a program or socket pays for cold caches.
  if (!CheckOnce(way.factory)) {
    std::printf("%-22s not usable by this process (the check fails)\n", way.name);
    return;
  }
  std::vector<double> times;
  int failed = 0;
  for (int i = 0; i < checks; ++i) {
    const double start = NowMs();
    const bool ok = CheckOnce(way.factory);
    const double took = NowMs() - start;
    if (ok) {
      times.push_back(took);
    } else {
      ++failed;
    }
  }
  if (times.empty()) {
    std::printf("%-22s every check failed\n", way.name);
    return;
  }
  std::sort(times.begin(), times.end());
  std::printf("%-22s checks %3zu  failed %d  min %7.3f ms  median %7.3f ms  max %7.3f ms\n",
              way.name, times.size(), failed, times.front(), times[times.size() / 2],
              times.back());
}

}  // namespace
}  // namespace ostrel

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int checks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  for (const auto& way : ostrel::Ways()) ostrel::Measure(way, checks);
  return 0;
}
