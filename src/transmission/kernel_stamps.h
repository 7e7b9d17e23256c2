#pragma once
// The kernel's time stamps of a UDP socket's datagrams, and their place on the steady
// clock. A datagram's receive time comes with the datagram (SO_TIMESTAMPNS); its
// transmit time comes through the socket's error queue, once the datagram has left the
// socket for the device (on loopback and most network cards before the send call returns).
// Both are software stamps of the real-time clock, so they compare with each other.

#include <sys/socket.h>
#include <sys/uio.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>

namespace ostrel {

// Keeps the kernel's receive stamps switched on for as long as the process runs. The
// kernel stamps arriving datagrams only while some socket of the system asks for it, and
// switches that on a while after the first one asks; a socket opened for every
// transmission could otherwise see a quick answer stamped only when it is read. Call it
// before the first socket that asks; later calls do nothing.
void KeepReceiveStampsOn();

// Asks the kernel for a transmit stamp of every datagram sent on `fd` from now on, each
// numbered from 0 and without a copy of the datagram. False when the kernel refuses.
bool RequestTransmitStamps(int fd);

struct TransmitStamp {
  timespec when;    // real-time clock
  uint32_t number;  // of the datagram on its socket, from 0
};

// The transmit stamp carried by `message`, an entry read from a socket's error queue;
// none for every other entry (an ICMP error, a stamp the kernel gave without a time).
std::optional<TransmitStamp> TransmitStampIn(const msghdr& message);

// One entry of a socket's error queue, with room for what any entry carries.
class ErrorQueueEntry {
 public:
  ErrorQueueEntry() = default;
  ErrorQueueEntry(const ErrorQueueEntry&) = delete;  // the message points into the entry
  ErrorQueueEntry& operator=(const ErrorQueueEntry&) = delete;
  // Takes the next entry of `fd`'s error queue without waiting; false when none waits.
  // Never takes a datagram.
  bool ReadFrom(int fd);
  const msghdr& message() const { return message_; }

 private:
  char data_[64];  // a copy of an offending datagram is cut here
  alignas(cmsghdr) char control_[256];
  iovec io_{};
  msghdr message_{};
};

// `stamp`, a time of the real-time clock, on the steady clock. A time in the future of
// the real-time clock is taken as now.
std::chrono::steady_clock::time_point OnSteadyClock(const timespec& stamp);

}  // namespace ostrel
