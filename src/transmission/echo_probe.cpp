#include "echo_probe.h"

#include "common/internet_checksum.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace ostrel {
namespace {

constexpr uint8_t kEchoReply = 0;
constexpr uint8_t kEchoRequest = 8;
constexpr size_t kMinIpHeaderSize = 20;
// Room for the largest IP header and an ICMP header; the rest of a packet is not read.
constexpr size_t kReceiveBufferSize = 128;
// Packets read per call at most, so a flood of other ICMP traffic on a raw socket cannot
// hold the thread; the rest is read when the caller finds the socket readable again.
constexpr int kPacketsPerTake = 64;

uint16_t ReadBigEndian16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

// Raw sockets see every echo reply of the host, so each probe needs an identifier of
// its own: one per process and probe, so concurrent checks (and other processes
// pinging) do not take each other's replies.
uint16_t NextIdentifier() {
  static std::atomic<uint16_t> counter{0};
  return static_cast<uint16_t>(static_cast<uint16_t>(getpid()) * 31U + counter++);
}

}  // namespace

std::array<uint8_t, kEchoRequestSize> BuildEchoRequest(uint16_t identifier, uint16_t sequence) {
  std::array<uint8_t, kEchoRequestSize> request{
      kEchoRequest,
      0,  // code
      0,  // checksum, below
      0,
      static_cast<uint8_t>(identifier >> 8),
      static_cast<uint8_t>(identifier),
      static_cast<uint8_t>(sequence >> 8),
      static_cast<uint8_t>(sequence),
  };
  const uint16_t checksum = InternetChecksum(request);
  request[2] = static_cast<uint8_t>(checksum >> 8);
  request[3] = static_cast<uint8_t>(checksum);
  return request;
}

bool IsEchoReply(std::span<const uint8_t> packet, in_addr from, IcmpSocketKind kind, in_addr target,
                 uint16_t identifier) {
  if (from.s_addr != target.s_addr) return false;
  if (kind == IcmpSocketKind::kRaw) {
    if (packet.empty() || packet[0] >> 4 != 4) return false;
    const size_t header_size = static_cast<size_t>(packet[0] & 0x0F) * 4;
    if (header_size < kMinIpHeaderSize || packet.size() < header_size) return false;
    packet = packet.subspan(header_size);
  }
  if (packet.size() < kEchoRequestSize || packet[0] != kEchoReply) return false;
  return kind == IcmpSocketKind::kDatagram || ReadBigEndian16(&packet[4]) == identifier;
}

EchoExchangeFactory SocketExchanges(IcmpEndpointFactory open_endpoint) {
  return [open_endpoint = std::move(open_endpoint)](in_addr target) {
    return std::make_unique<EchoProbe>(open_endpoint ? open_endpoint() : nullptr, target);
  };
}

EchoProbe::EchoProbe(std::unique_ptr<IcmpEndpoint> endpoint, in_addr target)
    : endpoint_(std::move(endpoint)), target_(target), identifier_(NextIdentifier()) {}

EchoProbe::~EchoProbe() { Close(); }

bool EchoProbe::Open() {
  Close();
  open_ = endpoint_ != nullptr && endpoint_->Open();
  return open_;
}

void EchoProbe::Close() {
  if (open_) endpoint_->Close();
  open_ = false;
}

int EchoProbe::Descriptor() const { return open_ ? endpoint_->Descriptor() : -1; }

bool EchoProbe::SendRequest(std::chrono::milliseconds /*timeout*/) {
  if (!open_) return false;
  const auto request = BuildEchoRequest(identifier_, ++sequence_);
  return endpoint_->Send(target_, request);
}

ReplyState EchoProbe::TakeReplies() {
  if (!open_) return ReplyState::kFailed;
  std::array<uint8_t, kReceiveBufferSize> buffer{};
  for (int i = 0; i < kPacketsPerTake; ++i) {
    size_t size = 0;
    in_addr from{};
    switch (endpoint_->Receive(buffer, size, from)) {
      case ReceiveStatus::kNothing:
        return ReplyState::kWaiting;
      case ReceiveStatus::kError:
        return ReplyState::kFailed;
      case ReceiveStatus::kPacket:
        if (IsEchoReply(std::span(buffer).first(std::min(size, buffer.size())), from,
                        endpoint_->Kind(), target_, identifier_)) {
          return ReplyState::kAnswered;
        }
        break;
    }
  }
  return ReplyState::kWaiting;
}

}  // namespace ostrel
