// The send grid's round trip: a 2048-byte file loaded into a FlexGrid (the load the
// "入力" button runs) and the grid read back into the payload (what every send does).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "senddata/byte_grid.h"
#include "senddata/flex_grid.h"
#include "senddata/send_data_file.h"

namespace ostrel {
namespace {

// A 2048-byte file of every byte value, starting at `seed`, removed when the benchmark
// ends.
class SampleFile {
 public:
  explicit SampleFile(int seed) {
    char pattern[] = "/tmp/ostrel-bench-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) std::abort();
    close(fd);
    path_ = pattern;
    std::ofstream out(path_, std::ios::binary);
    for (int i = 0; i < 2048; ++i) out.put(static_cast<char>(i * 7 + seed));
  }
  ~SampleFile() { unlink(path_.c_str()); }
  SampleFile(const SampleFile&) = delete;
  SampleFile& operator=(const SampleFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void BM_LoadFileAndReadBack(benchmark::State& state) {
  // Two files in turn, so every cell text really changes (an equal text costs less).
  const SampleFile files[] = {SampleFile(0), SampleFile(1)};
  FlexGrid grid;
  grid.resize(585, 161);
  std::vector<uint8_t> bytes;
  std::size_t turn = 0;
  for (auto _ : state) {
    LoadSendDataFile(grid, files[turn++ % 2].path());
    SetByteArrayFromGrid(bytes, grid);
    benchmark::DoNotOptimize(bytes.data());
  }
  if (bytes.size() != 2048) state.SkipWithError("the read-back did not give 2048 bytes");
}
BENCHMARK(BM_LoadFileAndReadBack)->Unit(benchmark::kMillisecond);

// The same without the file: 2048 bytes in memory into the grid and back, as an answer
// fills the receive grid (drawing off during the fill, as the answer handler does).
void BM_FillAndReadBack(benchmark::State& state) {
  std::vector<uint8_t> payloads[2];
  for (int seed = 0; seed < 2; ++seed) {
    for (int i = 0; i < 2048; ++i) payloads[seed].push_back(static_cast<uint8_t>(i * 7 + seed));
  }
  FlexGrid grid;
  grid.resize(585, 161);
  std::vector<uint8_t> bytes;
  std::size_t turn = 0;
  for (auto _ : state) {
    grid.SetRedraw(false);
    SetGridFromByteArray(grid, payloads[turn++ % 2]);
    grid.SetRedraw(true);
    SetByteArrayFromGrid(bytes, grid);
    benchmark::DoNotOptimize(bytes.data());
  }
  if (bytes != payloads[(turn + 1) % 2]) state.SkipWithError("the read-back differs");
}
BENCHMARK(BM_FillAndReadBack)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ostrel

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
