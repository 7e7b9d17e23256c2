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
  if (!announced_ || datagram_taken_) return;  // nothing is waiting
  datagram_taken_ = true;
  data.swap(received_);
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
}

// Every pass reads, also when nothing waits. Qt marks the socket when it emits
// readyRead and clears the mark only in readDatagram; a readyRead that finds the queue
// already drained (the poll saw data that an earlier batch took) would otherwise leave the
// mark set, and the next arrival would then switch the read notifier off for good. The
// read that ends the loop (nothing waits) is the one that clears the mark, so a datagram
// that arrives after it raises a fresh notification.
// A flood is taken in batches: after a batch the event loop runs (timers, the clock,
// clicks) before the next batch, so the window stays live while datagrams pour in.
void SocketControl::OnReadyRead() {
  if (handling_) return;
  FlagGuard handling(handling_);
  QElapsedTimer batch;
  batch.start();
  for (int handled = 0; IsBound(); ++handled) {
    if (handled >= kBatchDatagrams || batch.elapsed() >= kBatchMilliseconds) {
      if (!continuation_scheduled_) {
        continuation_scheduled_ = true;
        QTimer::singleShot(0, this, &SocketControl::ContinueReading);
      }
      return;
    }
    if (read_buffer_.empty()) read_buffer_.resize(kLargestDatagram);
    char* buffer = read_buffer_.data();
    const auto capacity = static_cast<qint64>(read_buffer_.size());
    qint64 size = socket_->readDatagram(buffer, capacity);
    // A failed read may only have reported an earlier asynchronous error of the socket
    // (an ICMP message about an earlier datagram); the second read then takes the datagram.
    if (size < 0) size = socket_->readDatagram(buffer, capacity);
    if (size < 0) return;  // nothing waits
    arrival_time_ = std::chrono::steady_clock::now();
    received_.assign(buffer, buffer + size);
    datagram_taken_ = false;
    FlagGuard announced(announced_);
    emit DataArrival(static_cast<int32_t>(size));
  }
}

void SocketControl::ContinueReading() {
  continuation_scheduled_ = false;
  OnReadyRead();
}

}  // namespace ostrel
