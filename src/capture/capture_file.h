#pragma once
// A capture file of the datagrams Ostrel sends and receives, in the pcapng format that
// Wireshark and tshark open. Each datagram becomes an IPv4 packet with its UDP header, made
// from the real addresses and ports, with correct IPv4 and UDP checksums; the time stamp is
// the one the caller gives (nanoseconds), the direction (inbound or outbound) and a note in
// UTF-8 (the packet comment Wireshark shows) go with it.
//
// The file holds a section header, two interfaces (nanosecond time stamps): "udp" with the
// datagrams (link type IPv4) and "notes"; then one enhanced packet block per datagram or
// note. Every block goes to the file whole with one write() as it is written (nothing
// waits in a buffer of the program), so a file cut off by a crash of the program or a full
// disk reads up to its last whole packet. Blocks are not synced to the disk one by one: a
// crash of the machine itself may lose the newest ones.
//
// A note with no datagram of its own (an answer that did not come) is a frame of its own on
// the interface "notes", at the moment the caller gives: an empty exported PDU, which
// Wireshark lists as "Exported PDU" with the note as its comment, between the transmission
// it concerns and whatever came next. The filter `frame.comment` and the expert information
// (group Comment) find it like every other note, and nothing in it passes for traffic.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// An IPv4 address and UDP port, both in host byte order (127.0.0.1 is 0x7F000001).
struct CaptureEndpoint {
  uint32_t address = 0;
  uint16_t port = 0;
};

enum class CaptureDirection : uint32_t { kInbound = 1, kOutbound = 2 };

// Nanoseconds since 1970-01-01 UTC of a real-time (CLOCK_REALTIME) stamp, as the kernel
// gives it for a received datagram (SO_TIMESTAMPNS) or clock_gettime gives it.
int64_t RealTimeNs(const timespec& stamp);
// The real-time clock now, in nanoseconds since 1970.
int64_t RealTimeNowNs();

// One datagram as it went out or came in. `payload` is the UDP payload (the bytes of the
// grid, or an answer whole however long); `comment` is UTF-8, empty for none (past 65,535
// bytes it is cut at the last whole character).
struct CapturedDatagram {
  CaptureDirection direction = CaptureDirection::kOutbound;
  CaptureEndpoint source;
  CaptureEndpoint destination;
  std::span<const uint8_t> payload;
  int64_t time_ns = 0;  // RealTimeNs of the kernel's stamp
  std::string_view comment;
};

class CaptureFile {
 public:
  // The longest UDP payload an IPv4 packet holds (65,535 - 20 - 8).
  static constexpr size_t kLargestPayload = 65507;

  // Creates `path`, or empties it when it is a regular file already, and writes the
  // section header and the interfaces. A symbolic link in its place is refused (never
  // followed), and so is anything but a regular file (a FIFO is never waited on). Raises
  // RunTimeError with the file-system description; a file whose header could not be
  // written whole is left empty.
  explicit CaptureFile(const std::string& path);
  ~CaptureFile();  // closes the file
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  // Appends one packet. Raises RunTimeError (kDatagramTooLarge) for a payload over
  // kLargestPayload, writing nothing; raises RunTimeError with the file-system description
  // (a full disk) when the block cannot be written whole: any part of it is cut off again,
  // the file is closed, and every later Write and WriteNote does nothing (Failed()).
  void Write(const CapturedDatagram& datagram);

  // Appends a note with no datagram at `time_ns`. Errors as Write.
  void WriteNote(int64_t time_ns, std::string_view comment);

  // True once a write failed: the file ends with its last whole block and takes no more.
  bool Failed() const { return fd_ < 0; }

 private:
  void Append(uint32_t interface, CaptureDirection direction, int64_t time_ns, size_t packet_size,
              std::string_view comment);
  void WriteWhole(std::span<const uint8_t> bytes);

  int fd_ = -1;
  uint64_t size_ = 0;  // bytes of whole blocks in the file
  uint16_t identification_ = 0;
  std::vector<uint8_t> block_;  // reused for every block
};

}  // namespace ostrel
