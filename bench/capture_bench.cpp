// The cost of capturing one datagram: its block built (IPv4 and UDP headers, both
// checksums, direction, note) and written to a real file in /tmp, and the whole capture on
// the send cycle's observers (the recorder and its notes), beside the cost of the
// operation-log line every datagram gets anyway, and of learning the local address.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_file.h"
#include "capture/capture_recorder.h"
#include "capture/local_address.h"
#include "common/tool_kind.h"
#include "logging/operation_log.h"
#include "transmission/observer_fan_out.h"

namespace ostrel {
namespace {

// A fresh folder in /tmp, removed with its files when the benchmark ends.
class BenchFolder {
 public:
  BenchFolder() {
    char pattern[] = "/tmp/ostrel-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    path_ = pattern;
  }
  ~BenchFolder() { std::filesystem::remove_all(path_); }
  BenchFolder(const BenchFolder&) = delete;
  BenchFolder& operator=(const BenchFolder&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The file starts afresh every 100,000 datagrams (outside the timing), so a long run does
// not fill the disk.
constexpr int64_t kDatagramsPerFile = 100'000;

void BM_CaptureDatagram(benchmark::State& state) {
  BenchFolder folder;
  const std::string file = folder / "capture.pcapng";
  std::vector<uint8_t> payload(static_cast<size_t>(state.range(0)));
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
  auto capture = std::make_unique<CaptureFile>(file);
  CapturedDatagram datagram{CaptureDirection::kOutbound,
                            {0x7F000001, 50002},
                            {0x7F000001, 50001},
                            payload,
                            RealTimeNowNs(),
                            "cycle 12, transmission 2 of 3"};
  int64_t in_file = 0;
  for (auto _ : state) {
    if (++in_file > kDatagramsPerFile) {
      state.PauseTiming();
      capture = std::make_unique<CaptureFile>(file);
      in_file = 1;
      state.ResumeTiming();
    }
    ++datagram.time_ns;
    capture->Write(datagram);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(payload.size()));
}
BENCHMARK(BM_CaptureDatagram)->Arg(4)->Arg(100)->Arg(2048)->Arg(CaptureFile::kLargestPayload);

// The reports of one cycle as the send cycle gives them: a transmission and its answer (two
// datagrams of `bytes` bytes each).
void ReportExchange(SendCycleObserver& observer, const std::vector<uint8_t>& bytes) {
  const auto sent = std::chrono::steady_clock::now();
  const auto arrival = sent + std::chrono::microseconds(400);
  observer.CycleStarted();
  observer.Transmitted(bytes.size(), sent, 1);
  observer.Sent({bytes, 0x7F000001, 50001, 50002, sent});
  observer.Arrived(bytes.size(), arrival, true);
  observer.Answered({bytes, 0x7F000001, 50001, 0x7F000001, 50001, arrival});
  observer.Received({bytes, 0x7F000001, 50001, 50002, arrival}, true);
  observer.CycleEnded(CycleOutcome::kAnswered);
}

// A capture running on the cycle's observers, per datagram: the recorder's notes, its copy
// of the transmission held for the kernel's stamp, the local address (learnt once), the
// verdict's note ("判定:一致", given), the block and its write. The file starts afresh every
// 50,000 exchanges, outside the timing.
void BM_RecordExchange(benchmark::State& state) {
  BenchFolder folder;
  const std::string file = folder / "capture.pcapng";
  const std::vector<uint8_t> bytes(static_cast<size_t>(state.range(0)), 0x5A);
  const auto start = [&] {
    auto recorder = std::make_unique<CaptureRecorder>(file, [] { return 3; });
    recorder->SetAnswerNote([](const AnswerReport&) { return std::string("判定:一致"); });
    return recorder;
  };
  ObserverFanOut observers;
  auto recorder = start();
  observers.Add(recorder.get());
  int64_t in_file = 0;
  for (auto _ : state) {
    if (++in_file > kDatagramsPerFile / 2) {
      state.PauseTiming();
      observers.Remove(recorder.get());
      recorder = start();
      observers.Add(recorder.get());
      in_file = 1;
      state.ResumeTiming();
    }
    ReportExchange(observers, bytes);
  }
  state.SetItemsProcessed(state.iterations() * 2);  // datagrams
}
BENCHMARK(BM_RecordExchange)->Arg(4)->Arg(100)->Arg(2048);

// The same reports with no capture running: what the cycle's observers cost then.
void BM_ExchangeWithoutCapture(benchmark::State& state) {
  const std::vector<uint8_t> bytes(100, 0x5A);
  ObserverFanOut observers;
  for (auto _ : state) ReportExchange(observers, bytes);
  state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_ExchangeWithoutCapture);

// The line the log gets for every datagram sent or received (opened, appended, closed).
void BM_LogLine(benchmark::State& state) {
  BenchFolder folder;
  InitLog(folder.path());
  for (auto _ : state) WriteLog(Kiv_UdpSnd, "100バイトの応答データを受信しました。");
}
BENCHMARK(BM_LogLine);

// The throwaway socket that learns the local address for a destination.
void BM_LocalAddressFor(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(LocalAddressFor({0x7F000001, 50001}));
}
BENCHMARK(BM_LocalAddressFor);

}  // namespace
}  // namespace ostrel

BENCHMARK_MAIN();
