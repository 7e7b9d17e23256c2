#include "socket_control.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <utility>

#include "common/host_address.h"
#include "common/run_time_error.h"
#include "kernel_stamps.h"

namespace ostrel {
namespace {

constexpr int32_t kMaxPort = 65535;

bool IsPort(int32_t port) { return port >= 0 && port <= kMaxPort; }

// The IPv4 address of `host` in host byte order. Raises RunTimeError(desc::kHostNotFound).
quint32 ResolveIpv4(const std::string& host) {
  const std::optional<in_addr> address = ResolveHostAddress(host);
  if (!address) throw RunTimeError(desc::kHostNotFound);
  return ntohl(address->s_addr);
}

// The description of a failed bind or send, from its errno.
std::string DescriptionOf(int error, const char* otherwise) {
  switch (error) {
    case EADDRINUSE:
      return desc::kAddressInUse;
    case EADDRNOTAVAIL:
      return desc::kAddressNotAvailable;
    case EACCES:
    case EPERM:
      return desc::kSocketAccessDenied;
    case EMSGSIZE:
      return desc::kDatagramTooLarge;
    default:
      return otherwise;
  }
}

// A send or read that fails with this may only have reported an earlier asynchronous
// error of the socket (an ICMP message about an earlier datagram), or a signal; a second
// attempt then goes through.
bool MayPassOnRetry(int error) {
  return error != EMSGSIZE && error != EAGAIN && error != EWOULDBLOCK;
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

// Runs `f` when the scope ends, also when a handler throws through the arrival loop.
template <class F>
class AtScopeEnd {
 public:
  explicit AtScopeEnd(F f) : f_(std::move(f)) {}
  ~AtScopeEnd() { f_(); }
  AtScopeEnd(const AtScopeEnd&) = delete;
  AtScopeEnd& operator=(const AtScopeEnd&) = delete;

 private:
  F f_;
};

}  // namespace

SocketControl::SocketControl(QObject* parent) : QObject(parent) { KeepReceiveStampsOn(); }

SocketControl::~SocketControl() { Close(); }

// The notifier is switched off before the descriptor is closed, so it never watches a
// number the system hands out again. It may be the sender of the running handler, so it
// goes once the event loop runs.
void SocketControl::Close() {
  if (fd_ < 0) return;
  notifier_->setEnabled(false);
  notifier_->disconnect(this);
  notifier_->deleteLater();
  notifier_ = nullptr;
  ::close(fd_);
  fd_ = -1;
}

bool SocketControl::IsBound() const { return fd_ >= 0; }

int SocketControl::ReceiveBufferSize() const {
  if (fd_ < 0) return 0;
  int size = 0;
  socklen_t length = sizeof size;
  return getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, &length) == 0 ? size : 0;
}

// Everything that can fail without side effects is checked first, so a failing call
// neither sends nor binds, except when the bind itself or the send fails.
void SocketControl::SendData(const std::vector<uint8_t>& data) {
  if (!IsPort(remote_port_)) throw RunTimeError(desc::kInvalidPropertyValue);
  if (!IsBound() && !IsPort(local_port_)) throw RunTimeError(desc::kInvalidPropertyValue);
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  const uint32_t address = ResolveIpv4(remote_host_);
  destination.sin_addr.s_addr = htonl(address);
  destination.sin_port = htons(static_cast<uint16_t>(remote_port_));
  if (!IsBound()) Bind();
  remote_address_ = address;

  const auto* to = reinterpret_cast<const sockaddr*>(&destination);
  auto started = std::chrono::steady_clock::now();
  ssize_t written = sendto(fd_, data.data(), data.size(), 0, to, sizeof destination);
  if (written < 0 && MayPassOnRetry(errno)) {
    started = std::chrono::steady_clock::now();
    written = sendto(fd_, data.data(), data.size(), 0, to, sizeof destination);
  }
  if (written < 0) throw RunTimeError(DescriptionOf(errno, desc::kSendFailed));
  if (static_cast<size_t>(written) != data.size()) throw RunTimeError(desc::kSendFailed);
  send_started_ = started;
  sent_time_ = started;
  datagrams_before_latest_ = datagrams_sent_++;
  transmit_stamp_due_ = transmit_stamps_;
  if (transmit_stamp_due_) TakeQueuedErrors();  // mostly there already
}

void SocketControl::GetData(std::vector<uint8_t>& data) {
  data.clear();
  if (!announced_ || datagram_taken_) return;  // nothing is waiting
  datagram_taken_ = true;
  data.swap(received_);
}

// No address sharing: a port another socket holds must fail, not be shared. The receive
// buffer and the kernel's receive times are asked for before the bind, so no datagram
// arrives without them; a kernel that refuses either still gives a working socket.
void SocketControl::Bind() {
  if (!IsPort(local_port_)) throw RunTimeError(desc::kInvalidPropertyValue);
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) throw RunTimeError(DescriptionOf(errno, desc::kSocketError));
  const int buffer = kReceiveBufferRequest;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  transmit_stamps_ = RequestTransmitStamps(fd);
  datagrams_sent_ = 0;
  transmit_stamp_due_ = false;
  // A broadcast destination (255.255.255.255, a subnet's last address) is sent to as any.
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(static_cast<uint16_t>(local_port_));
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    const int error = errno;
    ::close(fd);
    throw RunTimeError(DescriptionOf(error, desc::kSocketError));
  }
  fd_ = fd;
  bound_at_ = std::chrono::steady_clock::now();
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  bound_port_ = getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0
                    ? ntohs(bound.sin_port)
                    : static_cast<uint16_t>(local_port_);
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &SocketControl::OnReadyRead);
}

// A stamp after the read, or from before the socket was bound, means the real-time clock
// was set meanwhile; the stamp then says nothing.
std::chrono::steady_clock::time_point SocketControl::ArrivalOf(
    const timespec* stamp, std::chrono::steady_clock::time_point read_at) const {
  if (stamp == nullptr) return read_at;
  const auto arrived = OnSteadyClock(*stamp);
  return arrived > read_at || arrived < bound_at_ ? read_at : arrived;
}

// Where the kernel reports ICMP errors to the socket, each one also waits in the socket's
// error queue, and so do the transmit stamps; either keeps the socket readable to poll.
// The queue is emptied whenever a read finds no datagram, so the notifier is not raised
// again and again for nothing, and before a datagram is read while a transmit stamp is
// due, so an answer never comes before the stamp of what it answers. Reading the error
// queue never takes a datagram.
void SocketControl::TakeQueuedErrors() {
  ErrorQueueEntry entry;
  for (int i = 0; i < 1024 && entry.ReadFrom(fd_); ++i) {
    if (!transmit_stamp_due_) continue;
    const std::optional<TransmitStamp> stamp = TransmitStampIn(entry.message());
    // A stamp numbered below the latest datagram's is an earlier datagram's.
    if (!stamp || stamp->number < datagrams_before_latest_) continue;
    transmit_stamp_due_ = false;
    // The datagram cannot have left before the send call began, nor after now; a stamp
    // outside says the real-time clock was set meanwhile, and the fallback stays.
    const auto left = OnSteadyClock(stamp->when);
    if (left >= send_started_ && left <= std::chrono::steady_clock::now()) sent_time_ = left;
  }
}

long SocketControl::ReadOne() {
  if (transmit_stamp_due_) TakeQueuedErrors();
  if (read_buffer_.empty()) read_buffer_.resize(kLargestDatagram);
  iovec into{read_buffer_.data(), read_buffer_.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
  sockaddr_in sender{};
  msghdr message{};
  message.msg_iov = &into;
  message.msg_iovlen = 1;
  ssize_t size = -1;
  for (int attempt = 0; attempt < 2 && size < 0; ++attempt) {
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    size = recvmsg(fd_, &message, MSG_DONTWAIT);
    if (size < 0 && !MayPassOnRetry(errno)) break;  // nothing waits
  }
  if (size < 0) {
    TakeQueuedErrors();
    return -1;
  }
  const auto read_at = std::chrono::steady_clock::now();
  // A stamp that has not come before the first datagram after the send is not waited
  // for any longer, so a flood of arrivals costs no extra reads.
  transmit_stamp_due_ = false;
  const timespec* stamp = nullptr;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS &&
        c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
      stamp = reinterpret_cast<const timespec*>(CMSG_DATA(c));
    }
  }
  arrival_time_ = ArrivalOf(stamp, read_at);
  sender_address_ = ntohl(sender.sin_addr.s_addr);
  sender_port_ = ntohs(sender.sin_port);
  return static_cast<long>(size);
}

// A flood is taken in batches: after a batch the event loop runs (timers, the clock,
// clicks) before the next batch, so the window stays live while datagrams pour in. The
// notifier stays off while a batch is taken, also while a handler runs an event loop of
// its own, and comes back on only after a read found nothing waiting, so the notifier
// never reports the same datagrams twice and a nested loop never spins on it.
void SocketControl::OnReadyRead() {
  if (notifier_ != nullptr) notifier_->setEnabled(false);
  if (handling_) return;  // the running batch goes on after its handler returns
  FlagGuard handling(handling_);
  AtScopeEnd rearm([this] {
    if (notifier_ != nullptr && !continuation_scheduled_) notifier_->setEnabled(true);
  });
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
    const long size = ReadOne();
    if (size < 0) return;  // nothing waits
    const char* buffer = read_buffer_.data();
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
