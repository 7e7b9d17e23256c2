#include "capture_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/internet_checksum.h"
#include "common/run_time_error.h"

namespace ostrel {

namespace {

// pcapng block types and option codes.
constexpr uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr uint32_t kInterfaceBlock = 1;
constexpr uint32_t kEnhancedPacketBlock = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kEndOfOptions = 0;
constexpr uint16_t kComment = 1;
constexpr uint16_t kUserApplication = 4;  // section header
constexpr uint16_t kInterfaceName = 2;    // interface
constexpr uint16_t kTimeResolution = 9;   // interface
constexpr uint16_t kPacketFlags = 2;      // enhanced packet

constexpr uint16_t kLinkTypeIpv4 = 228;  // the packet starts with its IPv4 header
// Wireshark's exported PDUs: tags (none here, only their end) before any content (none).
constexpr uint16_t kLinkTypeUpperPdu = 252;
constexpr uint8_t kNoTags[4] = {0, 0, 0, 0};
constexpr uint32_t kDatagrams = 0;  // the interfaces
constexpr uint32_t kNotes = 1;
constexpr uint32_t kSnapLength = 65535;  // every IPv4 packet whole
constexpr uint8_t kNanoseconds = 9;      // time stamps in units of 10^-9 s

// Type, length, interface, time stamp (2 words), captured and original length.
constexpr size_t kPacketBlockFields = 28;
constexpr size_t kIpHeader = 20;
constexpr size_t kUdpHeader = 8;
constexpr uint8_t kUdp = 17;
constexpr size_t kLongestOption = 0xFFFF;

// Block fields are in the machine's byte order (the section's byte-order magic says
// which); the IPv4 and UDP headers inside a packet are in network order, as on the wire.
void PutHost16(std::vector<uint8_t>& out, uint16_t value) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
  out.insert(out.end(), bytes, bytes + sizeof value);
}
void PutHost32(std::vector<uint8_t>& out, uint32_t value) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
  out.insert(out.end(), bytes, bytes + sizeof value);
}
void PutNet16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value);
}
void PutNet32(uint8_t* at, uint32_t value) {
  PutNet16(at, static_cast<uint16_t>(value >> 16));
  PutNet16(at + 2, static_cast<uint16_t>(value));
}

void PadTo4(std::vector<uint8_t>& out) {
  out.resize((out.size() + 3) & ~static_cast<size_t>(3), 0);
}

void PutOption(std::vector<uint8_t>& out, uint16_t code, std::string_view value) {
  PutHost16(out, code);
  PutHost16(out, static_cast<uint16_t>(value.size()));
  out.insert(out.end(), value.begin(), value.end());
  PadTo4(out);
}

// Opens a block of `type` at the end of `out` (its length is filled in by CloseBlock).
void OpenBlock(std::vector<uint8_t>& out, uint32_t type) {
  PutHost32(out, type);
  PutHost32(out, 0);
}

// Ends the options and the block at `start`, with its total length at both ends.
void CloseBlock(std::vector<uint8_t>& out, size_t start) {
  PutHost16(out, kEndOfOptions);
  PutHost16(out, 0);
  const auto length = static_cast<uint32_t>(out.size() - start + 4);
  std::memcpy(out.data() + start + 4, &length, sizeof length);
  PutHost32(out, length);
}

// A note longer than an option holds is cut at the last whole UTF-8 character.
std::string_view OptionText(std::string_view text) {
  if (text.size() <= kLongestOption) return text;
  size_t cut = kLongestOption;
  while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

// The IPv4 and UDP headers and the payload at the end of `out`.
void PutPacket(std::vector<uint8_t>& out, const CapturedDatagram& datagram,
               uint16_t identification) {
  const size_t udp_length = kUdpHeader + datagram.payload.size();
  const size_t start = out.size();
  out.resize(start + kIpHeader + kUdpHeader);
  uint8_t* ip = out.data() + start;
  ip[0] = 0x45;  // version 4, header of 5 words
  ip[1] = 0;
  PutNet16(ip + 2, static_cast<uint16_t>(kIpHeader + udp_length));
  PutNet16(ip + 4, identification);
  PutNet16(ip + 6, 0x4000);  // don't fragment
  ip[8] = 64;                // time to live
  ip[9] = kUdp;
  PutNet16(ip + 10, 0);
  PutNet32(ip + 12, datagram.source.address);
  PutNet32(ip + 16, datagram.destination.address);
  PutNet16(ip + 10, InternetChecksum({ip, kIpHeader}));

  uint8_t* udp = ip + kIpHeader;
  PutNet16(udp, datagram.source.port);
  PutNet16(udp + 2, datagram.destination.port);
  PutNet16(udp + 4, static_cast<uint16_t>(udp_length));
  PutNet16(udp + 6, 0);
  // The UDP checksum covers a pseudo-header (addresses, protocol, UDP length) and the
  // whole datagram; a computed 0 goes as 0xFFFF, since 0 would say "no checksum".
  uint8_t pseudo[12];
  PutNet32(pseudo, datagram.source.address);
  PutNet32(pseudo + 4, datagram.destination.address);
  pseudo[8] = 0;
  pseudo[9] = kUdp;
  PutNet16(pseudo + 10, static_cast<uint16_t>(udp_length));
  uint32_t sum = InternetSum(pseudo);
  sum = InternetSum({udp, kUdpHeader}, sum);
  sum = InternetSum(datagram.payload, sum);
  const uint16_t checksum = FoldInternetSum(sum);
  PutNet16(udp + 6, checksum == 0 ? 0xFFFF : checksum);
  out.insert(out.end(), datagram.payload.begin(), datagram.payload.end());
}

void PutInterface(std::vector<uint8_t>& out, uint16_t link_type, std::string_view name) {
  const size_t start = out.size();
  OpenBlock(out, kInterfaceBlock);
  PutHost16(out, link_type);
  PutHost16(out, 0);
  PutHost32(out, kSnapLength);
  PutOption(out, kInterfaceName, name);
  const char resolution = static_cast<char>(kNanoseconds);
  PutOption(out, kTimeResolution, std::string_view(&resolution, 1));
  CloseBlock(out, start);
}

}  // namespace

int64_t RealTimeNs(const timespec& stamp) {
  return static_cast<int64_t>(stamp.tv_sec) * 1'000'000'000 + stamp.tv_nsec;
}

int64_t RealTimeNowNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return RealTimeNs(now);
}

// O_NONBLOCK keeps the open from waiting on a FIFO put in the file's place (refused right
// after); on a regular file it changes nothing. The file is emptied only once it is known
// to be a regular file.
CaptureFile::CaptureFile(const std::string& path) {
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) ThrowFileError(errno);
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw RunTimeError(desc::kPathAccess);
  }
  if (ftruncate(fd, 0) != 0) {
    const int error = errno;
    ::close(fd);
    ThrowFileError(error);
  }
  fd_ = fd;

  OpenBlock(block_, kSectionHeaderBlock);
  PutHost32(block_, kByteOrderMagic);
  PutHost16(block_, 1);  // format version 1.0
  PutHost16(block_, 0);
  PutHost32(block_, 0xFFFFFFFF);  // section length not given (-1, 64 bits)
  PutHost32(block_, 0xFFFFFFFF);
  PutOption(block_, kUserApplication, "Ostrel");
  CloseBlock(block_, 0);

  PutInterface(block_, kLinkTypeIpv4, "udp");
  PutInterface(block_, kLinkTypeUpperPdu, "notes");
  WriteWhole(block_);
}

CaptureFile::~CaptureFile() {
  if (fd_ >= 0) ::close(fd_);
}

void CaptureFile::Write(const CapturedDatagram& datagram) {
  if (Failed()) return;
  if (datagram.payload.size() > kLargestPayload) throw RunTimeError(desc::kDatagramTooLarge);
  block_.clear();
  block_.resize(kPacketBlockFields);  // filled by Append
  PutPacket(block_, datagram, identification_++);
  Append(kDatagrams, datagram.direction, datagram.time_ns, block_.size() - kPacketBlockFields,
         datagram.comment);
}

void CaptureFile::WriteNote(int64_t time_ns, std::string_view comment) {
  if (Failed()) return;
  block_.clear();
  block_.resize(kPacketBlockFields);
  block_.insert(block_.end(), std::begin(kNoTags), std::end(kNoTags));
  Append(kNotes, CaptureDirection{0}, time_ns, sizeof kNoTags, comment);
}

// Completes the enhanced packet block in block_, whose packet of `packet_size` bytes
// follows its fixed fields, and writes it.
void CaptureFile::Append(uint32_t interface, CaptureDirection direction, int64_t time_ns,
                         size_t packet_size, std::string_view comment) {
  const uint64_t stamp = time_ns < 0 ? 0 : static_cast<uint64_t>(time_ns);
  const uint32_t fixed[] = {kEnhancedPacketBlock,
                            0,  // the length, filled by CloseBlock
                            interface,
                            static_cast<uint32_t>(stamp >> 32),
                            static_cast<uint32_t>(stamp),
                            static_cast<uint32_t>(packet_size),
                            static_cast<uint32_t>(packet_size)};
  static_assert(sizeof fixed == kPacketBlockFields);
  std::memcpy(block_.data(), fixed, sizeof fixed);
  PadTo4(block_);
  if (direction != CaptureDirection{0}) {
    const auto flags = static_cast<uint32_t>(direction);
    PutOption(block_, kPacketFlags,
              std::string_view(reinterpret_cast<const char*>(&flags), sizeof flags));
  }
  if (!comment.empty()) PutOption(block_, kComment, OptionText(comment));
  CloseBlock(block_, 0);
  WriteWhole(block_);
}

// A block goes whole or not at all: what part of it reached the file is cut off again
// (a full disk), so the file ends with its last whole block, and it takes no more.
void CaptureFile::WriteWhole(std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (written > 0) {
      done += static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    const int error = written < 0 ? errno : ENOSPC;
    if (done > 0 && ftruncate(fd_, static_cast<off_t>(size_)) != 0) {
      // The reader stops at the cut block all the same.
    }
    ::close(fd_);
    fd_ = -1;
    ThrowFileError(error);
  }
  size_ += bytes.size();
}

}  // namespace ostrel
