#include "socket_control.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTimer>
#include <QUdpSocket>

#include "common/run_time_error.h"

namespace ostrel {
namespace {

constexpr int32_t kMaxPort = 65535;

bool IsPort(int32_t port) { return port >= 0 && port <= kMaxPort; }

// The IPv4 address of `host` in host byte order: dotted text as it stands, else the first
// IPv4 address the resolver gives. Raises RunTimeError(desc::kHostNotFound).
quint32 ResolveIpv4(const std::string& host) {
  in_addr dotted{};
  if (inet_pton(AF_INET, host.c_str(), &dotted) == 1) return ntohl(dotted.s_addr);

  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) {
    throw RunTimeError(desc::kHostNotFound);
  }
  quint32 address = 0;
  bool have = false;
  for (const addrinfo* entry = found; entry != nullptr && !have; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
      address = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr);
      have = true;
    }
  }
  freeaddrinfo(found);
  if (!have) throw RunTimeError(desc::kHostNotFound);
  return address;
}

std::string DescriptionOf(QAbstractSocket::SocketError error, const char* otherwise) {
  switch (error) {
    case QAbstractSocket::AddressInUseError:
      return desc::kAddressInUse;
    case QAbstractSocket::SocketAddressNotAvailableError:
      return desc::kAddressNotAvailable;
    case QAbstractSocket::SocketAccessError:
      return desc::kSocketAccessDenied;
    case QAbstractSocket::DatagramTooLargeError:
      return desc::kDatagramTooLarge;
    default:
      return otherwise;
  }
}

// Clears a flag when the scope ends, also when a handler throws through the arrival loop.
class FlagGuard {
 public:
  explicit FlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagGuard() { flag_ = false; }
  FlagGuard(const FlagGuard&) = delete;
  FlagGuard& operator=(const FlagGuard&) = delete;

 private:
  bool& flag_;
};

}  // namespace

SocketControl::SocketControl(QObject* parent) : QObject(parent) {}

SocketControl::~SocketControl() = default;

void SocketControl::Close() {
  if (socket_ == nullptr || socket_->state() == QAbstractSocket::UnconnectedState) return;
  socket_->close();
  ++binding_;
}

bool SocketControl::IsBound() const {
  return socket_ != nullptr && socket_->state() == QAbstractSocket::BoundState;
}

// Everything that can fail without side effects is checked first, so a failing call
// neither sends nor binds, except when the bind itself or the send fails.
void SocketControl::SendData(const std::vector<uint8_t>& data) {
  if (!IsPort(remote_port_)) throw RunTimeError(desc::kInvalidPropertyValue);
  if (!IsBound() && !IsPort(local_port_)) throw RunTimeError(desc::kInvalidPropertyValue);
  const QHostAddress destination(ResolveIpv4(remote_host_));
  if (!IsBound()) Bind();

  static const char kNoBytes = 0;
  const char* bytes = data.empty() ? &kNoBytes : reinterpret_cast<const char*>(data.data());
  const auto size = static_cast<qint64>(data.size());
  const auto port = static_cast<quint16>(remote_port_);
  qint64 written = socket_->writeDatagram(bytes, size, destination, port);
  // A failed send may only have reported an earlier asynchronous error of the socket
  // (an ICMP message about an earlier datagram); the second attempt then goes out.
  if (written < 0 && socket_->error() != QAbstractSocket::DatagramTooLargeError) {
    written = socket_->writeDatagram(bytes, size, destination, port);
  }
  if (written < 0) throw RunTimeError(DescriptionOf(socket_->error(), desc::kSendFailed));
  if (written != size) throw RunTimeError(desc::kSendFailed);
}

void SocketControl::GetData(std::vector<uint8_t>& data) {
  data.clear();
  if (!announced_ || datagram_taken_ || !IsBound()) return;  // nothing is waiting
  const qint64 size = announced_size_;
  char scratch = 0;
  if (size > 0) data.resize(static_cast<size_t>(size));
  char* buffer = size > 0 ? reinterpret_cast<char*>(data.data()) : &scratch;
  const qint64 capacity = size > 0 ? size : 1;
  qint64 read = socket_->readDatagram(buffer, capacity);
  if (read < 0) read = socket_->readDatagram(buffer, capacity);  // as in DiscardDatagram
  if (read < 0) {
    data.clear();
    throw RunTimeError(desc::kReceiveFailed);
  }
  datagram_taken_ = true;
  data.resize(static_cast<size_t>(read));
}

void SocketControl::Bind() {
  if (!IsPort(local_port_)) throw RunTimeError(desc::kInvalidPropertyValue);
  if (socket_ == nullptr) {
    socket_ = new QUdpSocket(this);
    connect(socket_, &QUdpSocket::readyRead, this, &SocketControl::OnReadyRead);
  }
  // No address sharing: a port another socket holds must fail, not be shared.
  if (!socket_->bind(QHostAddress::AnyIPv4, static_cast<quint16>(local_port_),
                     QAbstractSocket::DontShareAddress)) {
    const QAbstractSocket::SocketError error = socket_->error();
    socket_->close();
    throw RunTimeError(DescriptionOf(error, desc::kSocketError));
  }
  ++binding_;
}

// A look that fails may only have reported an earlier asynchronous error of the socket
// (an ICMP message about an earlier datagram); the second look then sees the datagram.
// Missing one would leave the socket without read notifications for good.
bool SocketControl::HasDatagram() const {
  return IsBound() && (socket_->hasPendingDatagrams() || socket_->hasPendingDatagrams());
}

// A read that fails may only have reported an earlier asynchronous error of the socket;
// the second read then takes the datagram.
bool SocketControl::DiscardDatagram() {
  char scratch = 0;
  return socket_->readDatagram(&scratch, 1) >= 0 || socket_->readDatagram(&scratch, 1) >= 0;
}

// Announces the waiting datagrams one by one, each exactly once, and takes off the
// socket whatever the handler left there (an empty datagram included, or it would block
// every later one). A handler may run a nested event loop: arrivals during it only
// trigger a nested readyRead that returns at once, and this loop finds them afterwards.
// A flood is taken in batches: after a batch the event loop runs (timers, the clock,
// clicks) before the next batch, so the window stays live while datagrams pour in.
void SocketControl::OnReadyRead() {
  if (handling_) return;
  FlagGuard handling(handling_);
  continuation_scheduled_ = false;
  QElapsedTimer batch;
  batch.start();
  for (int handled = 0; HasDatagram(); ++handled) {
    if (handled >= kBatchDatagrams || batch.elapsed() >= kBatchMilliseconds) {
      if (!continuation_scheduled_) {
        continuation_scheduled_ = true;
        QTimer::singleShot(0, this, &SocketControl::OnReadyRead);
      }
      return;
    }
    qint64 size = socket_->pendingDatagramSize();
    if (size < 0) size = socket_->pendingDatagramSize();  // as in HasDatagram
    if (size < 0) {
      // Not readable as a datagram (an error report, for example): drop it and go on.
      if (!DiscardDatagram()) return;
      continue;
    }
    const uint64_t binding = binding_;
    datagram_taken_ = false;
    announced_size_ = static_cast<int32_t>(size);
    {
      FlagGuard announced(announced_);
      emit DataArrival(static_cast<int32_t>(size));
    }
    // Closed inside the handler: the datagram went with the old binding.
    if (binding != binding_) continue;
    // Stop rather than announce the same datagram again.
    if (!datagram_taken_ && !DiscardDatagram()) return;
  }
}

}  // namespace ostrel
