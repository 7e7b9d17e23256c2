#pragma once
// The UDP socket of the main window. Per transmission the send cycle calls Close, sets
// LocalPort, RemoteHost and RemotePort, then SendData, which binds the local port (no
// address sharing: a port held by another program fails) and sends one datagram. The
// socket then stays bound and raises DataArrival once per arriving datagram, from any
// sender, until the next Close. The socket asks the kernel for a 4 MiB receive buffer
// (capped at net.core.rmem_max), so a burst waits in the kernel while the window paints.

#include <QObject>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

class QSocketNotifier;

namespace ostrel {

class SocketControl : public QObject {
  Q_OBJECT

 public:
  explicit SocketControl(QObject* parent = nullptr);
  ~SocketControl() override;

  // Releases the socket if one is open; harmless when none is.
  void Close();

  void SetLocalPort(int32_t port) { local_port_ = port; }
  int32_t LocalPort() const { return local_port_; }
  // A dotted IPv4 address or a host name, resolved when sending.
  void SetRemoteHost(const std::string& host) { remote_host_ = host; }
  const std::string& RemoteHost() const { return remote_host_; }
  void SetRemotePort(int32_t port) { remote_port_ = port; }
  int32_t RemotePort() const { return remote_port_; }

  // Binds to LocalPort when not bound, then sends `data` whole as one datagram to
  // RemoteHost:RemotePort. Raises RunTimeError when the port is out of range or in use,
  // the host does not resolve, or the datagram cannot be sent; nothing is sent then.
  void SendData(const std::vector<uint8_t>& data);

  // When the latest datagram SendData sent left, on the steady clock: the kernel's
  // transmit time where it has given one by now, else the moment right before the send
  // call, which is never later than the datagram left. The kernel's time, when it comes
  // after SendData has returned, is taken in before any datagram arriving later is
  // announced, so an answer's handler reads it here.
  std::chrono::steady_clock::time_point SentTime() const { return sent_time_; }

  // Takes the waiting datagram (the one DataArrival announced) into `data`.
  void GetData(std::vector<uint8_t>& data);

  // The sender of the datagram being announced: IPv4 address in host byte order, port.
  uint32_t SenderAddress() const { return sender_address_; }
  uint16_t SenderPort() const { return sender_port_; }
  // The IPv4 address (host byte order) the last SendData sent to, RemoteHost resolved.
  uint32_t RemoteAddress() const { return remote_address_; }

  // When the datagram being announced arrived, on the steady clock: the kernel's receive
  // time where it gives one, else the time it was read.
  std::chrono::steady_clock::time_point ArrivalTime() const { return arrival_time_; }

  // The port the socket is bound to (the kernel's choice where LocalPort was 0); 0 while
  // not bound.
  uint16_t BoundPort() const { return fd_ >= 0 ? bound_port_ : 0; }

  // True while bound.
  bool IsBound() const;

  // The receive buffer the kernel granted, in bytes as it reports them (twice the usable
  // payload on Linux); 0 while not bound.
  int ReceiveBufferSize() const;

  // The receive buffer asked for at every bind.
  static constexpr int kReceiveBufferRequest = 4 << 20;

 signals:
  // One arrived datagram of `bytesTotal` bytes (0 for an empty one). A datagram the
  // handler does not take with GetData is discarded after the handler returns.
  void DataArrival(int32_t bytesTotal);

 private:
  void OnReadyRead();
  // The batch continuation: clears its mark even when OnReadyRead is busy.
  void ContinueReading();

  // The most datagrams, and the longest time, handled before the event loop runs again.
  static constexpr int kBatchDatagrams = 64;
  static constexpr int kBatchMilliseconds = 10;
  bool continuation_scheduled_ = false;
  // Binds the socket to LocalPort; raises RunTimeError when it cannot.
  void Bind();
  // Reads the next waiting datagram into read_buffer_ and stamps arrival_time_; the size,
  // or -1 when nothing waits.
  long ReadOne();
  // Empties the socket's error queue without waiting: ICMP errors of earlier datagrams
  // go, the transmit stamp of the latest datagram is taken into sent_time_.
  void TakeQueuedErrors();
  // The steady-clock time of a datagram the kernel stamped at `stamp` (real time), read
  // at `read_at`.
  std::chrono::steady_clock::time_point ArrivalOf(
      const timespec* stamp, std::chrono::steady_clock::time_point read_at) const;

  int fd_ = -1;
  // Watches fd_ for datagrams; switched off while a batch is taken.
  QSocketNotifier* notifier_ = nullptr;
  std::chrono::steady_clock::time_point bound_at_{};
  uint16_t bound_port_ = 0;
  int32_t local_port_ = 0;
  std::string remote_host_;
  int32_t remote_port_ = 0;
  uint32_t remote_address_ = 0;
  bool datagram_taken_ = false;
  std::chrono::steady_clock::time_point sent_time_{};
  // The moment before the latest send call; the number of datagrams sent on the socket
  // before it; whether its transmit stamp is still to come.
  std::chrono::steady_clock::time_point send_started_{};
  uint32_t datagrams_before_latest_ = 0;
  uint32_t datagrams_sent_ = 0;
  bool transmit_stamp_due_ = false;
  bool transmit_stamps_ = false;  // the kernel stamps this socket's datagrams
  // The datagram being announced, read before its announcement.
  std::vector<uint8_t> received_;
  std::chrono::steady_clock::time_point arrival_time_{};
  uint32_t sender_address_ = 0;
  uint16_t sender_port_ = 0;
  // Where datagrams are read to: room for the largest UDP datagram, allocated once.
  static constexpr size_t kLargestDatagram = 65536;
  std::vector<char> read_buffer_;
  // True from the announcement of a datagram until the handler returns.
  bool announced_ = false;
  // True while DataArrival handlers run; arrivals meanwhile wait for the running loop.
  bool handling_ = false;
};

}  // namespace ostrel
