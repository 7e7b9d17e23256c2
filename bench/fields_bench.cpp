// Computed fields: a CRC computed and written into a payload just before it goes out,
// beside a loopback sendto of the same bytes (the floor of one transmission's cost).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <numeric>
#include <vector>

#include "fields/crc.h"
#include "fields/field_writer.h"

namespace {

using namespace ostrel;

std::vector<uint8_t> Payload(size_t size) {
  std::vector<uint8_t> bytes(size);
  std::iota(bytes.begin(), bytes.end(), uint8_t{0x5A});
  return bytes;
}

void ComputeCrc(benchmark::State& state, const char* model, size_t size) {
  const Crc& crc = CatalogueCrc(*FindCrcModel(model));
  const std::vector<uint8_t> bytes = Payload(size);
  for (auto _ : state) benchmark::DoNotOptimize(crc.Compute(bytes));
}

// The payload is `size` bytes once the CRC of `model` is appended, as the send path grows it.
void WriteCrcField(benchmark::State& state, const char* model, size_t size) {
  FieldDefinition definition;
  definition.model = model;
  definition.order = ByteOrder::kLittle;
  FieldWriter writer({definition});
  const size_t crc_bytes = static_cast<size_t>(FieldSize(definition));
  std::vector<uint8_t> payload = Payload(size);
  for (auto _ : state) {
    payload.resize(size - crc_bytes);
    if (writer.Write(payload)) state.SkipWithError("the field does not fit");
    benchmark::DoNotOptimize(payload.data());
  }
}

void LoopbackSendto(benchmark::State& state, size_t size) {
  const int receiver = socket(AF_INET, SOCK_DGRAM, 0);
  const int sender = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    state.SkipWithError("no loopback socket");
  }
  const std::vector<uint8_t> bytes = Payload(size);
  std::vector<uint8_t> drain(size);
  for (auto _ : state) {
    sendto(sender, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address),
           sizeof address);
    state.PauseTiming();
    recv(receiver, drain.data(), drain.size(), MSG_DONTWAIT);
    state.ResumeTiming();
  }
  close(sender);
  close(receiver);
}

BENCHMARK_CAPTURE(ComputeCrc, crc32_2048, "CRC-32", 2048);
BENCHMARK_CAPTURE(WriteCrcField, crc32_2048, "CRC-32", 2048);
BENCHMARK_CAPTURE(ComputeCrc, crc16_modbus_8, "CRC-16/MODBUS", 8);
BENCHMARK_CAPTURE(WriteCrcField, crc16_modbus_8, "CRC-16/MODBUS", 8);
BENCHMARK_CAPTURE(LoopbackSendto, bytes_2048, 2048);
BENCHMARK_CAPTURE(LoopbackSendto, bytes_8, 8);

}  // namespace

BENCHMARK_MAIN();
