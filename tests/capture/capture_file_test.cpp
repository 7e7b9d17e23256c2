// The capture file as Wireshark reads it: tshark and capinfos read back what the writer
// wrote, and check the IPv4 and UDP checksums.

#include "capture/capture_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "capture/local_address.h"
#include "common/internet_checksum.h"
#include "common/run_time_error.h"
#include "support/test_support.h"

namespace ostrel {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

struct ToolRun {
  int status = -1;  // exit status
  std::string out;
  std::string err;
};

// Runs a shell command, its standard error to a file (tshark warns there when run as root).
ToolRun RunTool(const std::string& command, const TempDir& dir) {
  const std::string err_file = dir / "stderr.txt";
  ToolRun run;
  FILE* pipe = popen((command + " 2>" + err_file).c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = ReadFileBytes(err_file);
  return run;
}

bool HaveTshark() { return std::system("command -v tshark capinfos >/dev/null 2>&1") == 0; }

// Per frame: interface, direction flags, source, destination, ports, payload, comment.
ToolRun Fields(const std::string& file, const TempDir& dir) {
  return RunTool("tshark -r '" + file +
                     "' -T fields -E separator='|' -e frame.interface_name "
                     "-e frame.packet_flags_direction -e ip.src -e ip.dst -e udp.srcport "
                     "-e udp.dstport -e udp.payload -e frame.comment",
                 dir);
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char digits[3];
  for (uint8_t b : bytes) {
    snprintf(digits, sizeof digits, "%02x", b);
    text += digits;
  }
  return text;
}

constexpr uint32_t kLoopback = 0x7F000001;
constexpr int64_t kStart = 1'796'727'008'598'473'137;  // 2026-12-08 10:50:08.598473137 UTC

class CaptureFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTshark())
      GTEST_SKIP() << "tshark and capinfos are not installed (apt-get install tshark)";
  }
  TempDir dir_;
};

// An outbound datagram whose UDP checksum comes out 0 (written as 0xFFFF), an answer longer
// than the grid with an odd length, a note without a datagram and the largest payload.
TEST_F(CaptureFileTest, TsharkReadsTheExchangeWithItsNotesAndGoodChecksums) {
  const std::string file = dir_ / "exchange.pcapng";
  WriteFileBytes(file, std::string(5000, 'x'));  // an earlier file is replaced whole
  const CaptureEndpoint device{kLoopback, 50001};
  const CaptureEndpoint local{LocalAddressFor(device), 50002};
  ASSERT_EQ(local.address, kLoopback);

  std::vector<uint8_t> sent = {0x01, 0x02, 0xFF, 0x00, 0x00, 0x00};
  // The last word makes the ones' complement sum over pseudo-header and datagram 0xFFFF.
  const uint8_t pseudo[] = {127, 0,  0,    1,    127,  0,    0, 1,  0, 17,
                            0,   14, 0xC3, 0x52, 0xC3, 0x51, 0, 14, 0, 0};
  const uint16_t rest = FoldInternetSum(InternetSum(sent, InternetSum(pseudo)));
  sent[4] = static_cast<uint8_t>(rest >> 8);
  sent[5] = static_cast<uint8_t>(rest);
  std::vector<uint8_t> answer(3001);
  for (size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<uint8_t>(i * 7);
  const std::vector<uint8_t> largest(CaptureFile::kLargestPayload, 0xA5);
  {
    CaptureFile capture(file);
    capture.Write({CaptureDirection::kOutbound, local, device, sent, kStart,
                   "cycle 12, transmission 2 of 3"});
    capture.Write({CaptureDirection::kInbound, device, local, answer, kStart + 412'000,
                   "answer, rtt 0.412 ms, 判定:一致"});
    capture.WriteNote(kStart + 500'000'000, "no answer: time-out");
    capture.Write({CaptureDirection::kOutbound, local, device, largest, kStart + 600'000'000, ""});
    const std::vector<uint8_t> too_large(CaptureFile::kLargestPayload + 1);
    EXPECT_THROW(capture.Write({CaptureDirection::kOutbound, local, device, too_large, 0, ""}),
                 RunTimeError);
    EXPECT_FALSE(capture.Failed());
  }

  const ToolRun read = Fields(file, dir_);
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(read.out, "udp|0x00000002|127.0.0.1|127.0.0.1|50002|50001|" + Hex(sent) +
                          "|cycle 12, transmission 2 of 3\n"
                          "udp|0x00000001|127.0.0.1|127.0.0.1|50001|50002|" +
                          Hex(answer) +
                          "|answer, rtt 0.412 ms, 判定:一致\n"
                          "notes|||||||no answer: time-out\n"
                          "udp|0x00000002|127.0.0.1|127.0.0.1|50002|50001|" +
                          Hex(largest) + "|\n");
  const ToolRun bad = RunTool("tshark -r '" + file +
                                  "' -o ip.check_checksum:TRUE -o udp.check_checksum:TRUE -Y "
                                  "'ip.checksum.status == \"Bad\" || udp.checksum.status == "
                                  "\"Bad\" || _ws.malformed || _ws.expert.severity >= warning'",
                              dir_);
  EXPECT_EQ(bad.status, 0) << bad.err;
  EXPECT_EQ(bad.out, "");
  const ToolRun udp_checksums = RunTool(
      "tshark -r '" + file + "' -o udp.check_checksum:TRUE -T fields -e udp.checksum -Y udp", dir_);
  EXPECT_EQ(udp_checksums.out.substr(0, 7), "0xffff\n");

  const ToolRun info = RunTool("TZ=UTC capinfos -c -u -a '" + file + "'", dir_);
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("Number of packets:   4"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Capture duration:    0.600000000 seconds"), std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("2026-12-08 10:50:08.598473137"), std::string::npos) << info.out;
}

// Each block is whole in the file as soon as it is written: a copy cut anywhere in the last
// block reads up to the block before, which tshark reports as a cut-off file, not a damaged
// one. A full disk (here the file-size limit) cuts the half-written block off again.
TEST_F(CaptureFileTest, AFileCutOffReadsUpToItsLastWholePacket) {
  const std::string file = dir_ / "cut.pcapng";
  const CaptureEndpoint device{kLoopback, 50001};
  const CaptureEndpoint local{kLoopback, 50002};
  const std::vector<uint8_t> payload(100, 0x5A);
  const std::string whole_line =
      "udp|0x00000002|127.0.0.1|127.0.0.1|50002|50001|" + Hex(payload) + "|cycle 1\n";
  CaptureFile capture(file);
  capture.Write({CaptureDirection::kOutbound, local, device, payload, kStart, "cycle 1"});
  const auto whole = std::filesystem::file_size(file);  // written through, not buffered
  capture.Write({CaptureDirection::kOutbound, local, device, payload, kStart + 1, "cycle 2"});
  const std::string bytes = ReadFileBytes(file);
  for (size_t cut : {whole + 6, whole + 130, bytes.size() - 1}) {
    const std::string copy = dir_ / "copy.pcapng";
    WriteFileBytes(copy, bytes.substr(0, cut));
    const ToolRun read = Fields(copy, dir_);
    EXPECT_EQ(read.out, whole_line) << cut;
    EXPECT_NE(read.err.find("cut short in the middle of a packet"), std::string::npos) << read.err;
  }

  // In a child, so the limit and the ignored SIGXFSZ stay there.
  const std::string full = dir_ / "full.pcapng";
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{whole + 100, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &limit);
    CaptureFile limited(full);
    limited.Write({CaptureDirection::kOutbound, local, device, payload, kStart, "cycle 1"});
    try {
      limited.Write({CaptureDirection::kOutbound, local, device, payload, kStart, "cycle 2"});
      _exit(1);
    } catch (const RunTimeError& error) {
      if (error.Description() != desc::kDiskFull || !limited.Failed()) _exit(2);
    }
    limited.Write({CaptureDirection::kOutbound, local, device, payload, kStart, "cycle 3"});
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(std::filesystem::file_size(full), whole);
  const ToolRun read = Fields(full, dir_);
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(read.out, whole_line);
}

// Another user's link or FIFO in the file's place: never followed, never waited on.
TEST(CaptureFileOpen, RefusesALinkAndAnythingButARegularFile) {
  TempDir dir;
  const std::string target = dir / "target.txt";
  WriteFileBytes(target, "keep");
  std::filesystem::create_symlink(target, dir / "link.pcapng");
  EXPECT_THROW(CaptureFile(dir / "link.pcapng"), RunTimeError);
  EXPECT_EQ(ReadFileBytes(target), "keep");
  ASSERT_EQ(mkfifo((dir / "fifo.pcapng").c_str(), 0600), 0);
  EXPECT_THROW(CaptureFile(dir / "fifo.pcapng"), RunTimeError);
  EXPECT_THROW(CaptureFile(dir.str()), RunTimeError);
}

}  // namespace
}  // namespace ostrel
