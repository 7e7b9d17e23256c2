#include "transmission/socket_control.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "common/run_time_error.h"
#include "transmission/kernel_stamps.h"

namespace ostrel {
namespace {

constexpr int kTimeoutMs = 5000;
constexpr int kLargestDatagram = 65507;

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> bytes;
  for (int v : values) bytes.push_back(static_cast<uint8_t>(v));
  return bytes;
}

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 256);
  return bytes;
}

QByteArray AsQByteArray(const std::vector<uint8_t>& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qsizetype>(bytes.size()));
}

// A port that was free a moment ago: bound to port 0, read back, released.
quint16 FreePort() {
  QUdpSocket probe;
  EXPECT_TRUE(probe.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::DontShareAddress));
  return probe.localPort();
}

// Asks the kernel to report ICMP errors to the UDP socket bound to `port` in this
// process, as some systems do for every UDP socket: the next send or receive on it then
// fails once with "connection refused". False when no such socket was found.
bool ReportIcmpErrorsOnSocketOfPort(quint16 port) {
  for (int fd = 0; fd < 1024; ++fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    int type = 0;
    socklen_t type_length = sizeof type;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sin_family != AF_INET || ntohs(address.sin_port) != port ||
        getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &type_length) != 0 || type != SOCK_DGRAM) {
      continue;
    }
    const int on = 1;
    return setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on) == 0;
  }
  return false;
}

// A loopback UDP peer on a port of its own.
class Peer {
 public:
  Peer() {
    EXPECT_TRUE(socket_.bind(QHostAddress::LocalHost, 0));
    socket_.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 20);
  }
  quint16 Port() const { return socket_.localPort(); }
  // Waits for the next datagram; a null datagram on time-out.
  QNetworkDatagram Receive() {
    if (!socket_.hasPendingDatagrams() &&
        !QTest::qWaitFor([this] { return socket_.hasPendingDatagrams(); }, kTimeoutMs)) {
      return QNetworkDatagram();
    }
    return socket_.receiveDatagram();
  }
  void SendTo(quint16 port, const QByteArray& bytes) {
    ASSERT_EQ(socket_.writeDatagram(bytes, QHostAddress::LocalHost, port), bytes.size());
  }

 private:
  QUdpSocket socket_;
};

// Records each announced datagram with the bytes GetData gives for it.
struct Arrival {
  int32_t size;
  std::vector<uint8_t> bytes;
};

class SocketControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = FreePort();
    control_.SetLocalPort(port_);
    control_.SetRemoteHost("127.0.0.1");
    control_.SetRemotePort(peer_.Port());
  }

  // Takes every announced datagram, as the answer handler does.
  void TakeArrivals() {
    QObject::connect(&control_, &SocketControl::DataArrival, [this](int32_t size) {
      Arrival arrival{size, {}};
      control_.GetData(arrival.bytes);
      arrivals_.push_back(std::move(arrival));
    });
  }
  bool WaitForArrivals(size_t count) {
    return QTest::qWaitFor([&] { return arrivals_.size() >= count; }, kTimeoutMs);
  }
  // Binds the control by a first transmission, taken off at the peer.
  void Bind() {
    control_.SendData(Bytes({0x01}));
    ASSERT_FALSE(peer_.Receive().isNull());
  }

  static std::string ErrorOf(const std::function<void()>& call) {
    try {
      call();
    } catch (const RunTimeError& error) {
      return error.Description();
    }
    return "(no error)";
  }

  quint16 port_ = 0;
  Peer peer_;
  SocketControl control_;
  std::vector<Arrival> arrivals_;
};

TEST_F(SocketControlTest, SendsTheBytesFromTheLocalPortAndStaysBound) {
  EXPECT_FALSE(control_.IsBound());
  control_.SendData(Bytes({0x00, 0x0A, 0xFF, 0x41}));
  EXPECT_TRUE(control_.IsBound());
  const QNetworkDatagram datagram = peer_.Receive();
  ASSERT_FALSE(datagram.isNull());
  EXPECT_EQ(datagram.data(), QByteArray("\x00\x0A\xFF\x41", 4));
  EXPECT_EQ(datagram.senderPort(), port_);

  // Bound already: LocalPort is not looked at again until the next Close.
  control_.SetLocalPort(70000);
  control_.SendData(Bytes({0x02}));
  EXPECT_EQ(peer_.Receive().senderPort(), port_);
}

TEST_F(SocketControlTest, ResolvesHostNames) {
  control_.SetRemoteHost("localhost");
  control_.SendData(Bytes({0x33}));
  EXPECT_EQ(peer_.Receive().data(), QByteArray("\x33"));
}

TEST_F(SocketControlTest, AnswersFromPeerAndThirdPartyEachRaiseOneArrival) {
  TakeArrivals();
  Bind();
  peer_.SendTo(port_, "ABCD");
  ASSERT_TRUE(WaitForArrivals(1));
  Peer third_party;
  third_party.SendTo(port_, "xyz");
  ASSERT_TRUE(WaitForArrivals(2));
  QCoreApplication::processEvents();
  ASSERT_EQ(arrivals_.size(), 2u);
  EXPECT_EQ(arrivals_[0].size, 4);
  EXPECT_EQ(arrivals_[0].bytes, Bytes({'A', 'B', 'C', 'D'}));
  EXPECT_EQ(arrivals_[1].size, 3);
  EXPECT_EQ(arrivals_[1].bytes, Bytes({'x', 'y', 'z'}));
}

TEST_F(SocketControlTest, EmptyDatagramIsAnnouncedAndDoesNotJamTheSocket) {
  // The answer handler logs a 0-byte arrival and does not read it.
  std::vector<int32_t> sizes;
  std::vector<uint8_t> taken;
  QObject::connect(&control_, &SocketControl::DataArrival, [&](int32_t size) {
    sizes.push_back(size);
    if (size > 0) control_.GetData(taken);
  });
  Bind();
  peer_.SendTo(port_, QByteArray());
  peer_.SendTo(port_, "after");
  ASSERT_TRUE(QTest::qWaitFor([&] { return sizes.size() >= 2; }, kTimeoutMs));
  EXPECT_EQ(sizes, (std::vector<int32_t>{0, 5}));
  EXPECT_EQ(taken, Bytes({'a', 'f', 't', 'e', 'r'}));

  // Taken with GetData, it gives an empty array.
  TakeArrivals();
  peer_.SendTo(port_, QByteArray());
  ASSERT_TRUE(WaitForArrivals(1));
  EXPECT_EQ(arrivals_[0].size, 0);
  EXPECT_TRUE(arrivals_[0].bytes.empty());

  // And an empty payload can be sent as well.
  control_.SendData({});
  const QNetworkDatagram empty = peer_.Receive();
  ASSERT_FALSE(empty.isNull());
  EXPECT_TRUE(empty.data().isEmpty());
}

TEST_F(SocketControlTest, LargestDatagramGoesBothWays) {
  TakeArrivals();
  const std::vector<uint8_t> large = Pattern(kLargestDatagram);
  control_.SendData(large);
  const QNetworkDatagram sent = peer_.Receive();
  ASSERT_FALSE(sent.isNull());
  EXPECT_TRUE(sent.data() == AsQByteArray(large));

  peer_.SendTo(port_, AsQByteArray(large));
  ASSERT_TRUE(WaitForArrivals(1));
  EXPECT_EQ(arrivals_[0].size, kLargestDatagram);
  EXPECT_TRUE(arrivals_[0].bytes == large);

  EXPECT_EQ(ErrorOf([&] { control_.SendData(Pattern(kLargestDatagram + 1)); }),
            desc::kDatagramTooLarge);
}

TEST_F(SocketControlTest, PortHeldByAnotherSocketFailsAndSendsNothing) {
  QUdpSocket holder;  // willing to share: the control must still refuse to
  ASSERT_TRUE(holder.bind(QHostAddress::LocalHost, 0, QAbstractSocket::ShareAddress));
  control_.SetLocalPort(holder.localPort());
  EXPECT_EQ(ErrorOf([&] { control_.SendData(Bytes({0xEE})); }), desc::kAddressInUse);
  EXPECT_FALSE(control_.IsBound());

  // The next datagram the peer gets is the one sent after the failure.
  control_.SetLocalPort(port_);
  control_.SendData(Bytes({0x55}));
  const QNetworkDatagram first = peer_.Receive();
  EXPECT_EQ(first.data(), QByteArray("\x55"));
  EXPECT_EQ(first.senderPort(), port_);
}

TEST_F(SocketControlTest, PortsOutOfRangeAndUnknownHostsRaiseWithoutSending) {
  control_.SetLocalPort(70000);
  EXPECT_EQ(ErrorOf([&] { control_.SendData(Bytes({1})); }), desc::kInvalidPropertyValue);
  control_.SetLocalPort(-1);
  EXPECT_EQ(ErrorOf([&] { control_.SendData(Bytes({2})); }), desc::kInvalidPropertyValue);
  control_.SetLocalPort(port_);
  control_.SetRemotePort(70000);
  EXPECT_EQ(ErrorOf([&] { control_.SendData(Bytes({3})); }), desc::kInvalidPropertyValue);
  control_.SetRemotePort(-1);
  EXPECT_EQ(ErrorOf([&] { control_.SendData(Bytes({4})); }), desc::kInvalidPropertyValue);
  control_.SetRemotePort(peer_.Port());
  control_.SetRemoteHost("no-such-host.invalid");
  EXPECT_EQ(ErrorOf([&] { control_.SendData(Bytes({5})); }), desc::kHostNotFound);
  control_.SetRemoteHost("");
  EXPECT_EQ(ErrorOf([&] { control_.SendData(Bytes({6})); }), desc::kHostNotFound);
  EXPECT_FALSE(control_.IsBound());

  control_.SetRemoteHost("127.0.0.1");
  control_.SendData(Bytes({7}));
  EXPECT_EQ(peer_.Receive().data(), QByteArray("\x07"));
}

TEST_F(SocketControlTest, CloseReleasesThePortAndSendDataBindsAgain) {
  control_.Close();  // harmless before any bind
  Bind();
  control_.Close();
  control_.Close();
  EXPECT_FALSE(control_.IsBound());
  QUdpSocket other;  // the port is free again
  ASSERT_TRUE(other.bind(QHostAddress::AnyIPv4, port_, QAbstractSocket::DontShareAddress));
  other.close();

  const quint16 second_port = FreePort();
  control_.SetLocalPort(second_port);
  control_.SendData(Bytes({0x22}));
  EXPECT_EQ(peer_.Receive().senderPort(), second_port);
  TakeArrivals();
  peer_.SendTo(second_port, "again");
  ASSERT_TRUE(WaitForArrivals(1));
  EXPECT_EQ(arrivals_[0].size, 5);
}

TEST_F(SocketControlTest, QueuedDatagramsArriveOnceEachInOrder) {
  TakeArrivals();
  Bind();
  for (int i = 0; i < 5; ++i) peer_.SendTo(port_, QByteArray(i + 1, char('a' + i)));
  ASSERT_TRUE(WaitForArrivals(5));
  // A datagram announced twice would come before this last one.
  peer_.SendTo(port_, "end");
  ASSERT_TRUE(WaitForArrivals(6));
  ASSERT_EQ(arrivals_.size(), 6u);
  EXPECT_EQ(arrivals_[5].bytes, Bytes({'e', 'n', 'd'}));
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(arrivals_[i].size, i + 1) << i;
    EXPECT_EQ(arrivals_[i].bytes, std::vector<uint8_t>(i + 1, uint8_t('a' + i))) << i;
  }
}

TEST_F(SocketControlTest, FloodIsTakenInBatchesWithTheEventLoopRunningBetween) {
  TakeArrivals();
  Bind();
  constexpr int kFlood = 150;  // more than one batch, fewer than the receive buffer holds
  // All of them wait on the socket before the event loop looks.
  for (int i = 0; i < kFlood; ++i) peer_.SendTo(port_, QByteArray(4, char(i)));
  size_t handled_when_the_loop_ran = 0;
  QObject::connect(
      &control_, &SocketControl::DataArrival, &control_,
      [&] {
        if (arrivals_.size() == 1)
          QTimer::singleShot(0, [&] { handled_when_the_loop_ran = arrivals_.size(); });
      },
      Qt::DirectConnection);
  ASSERT_TRUE(WaitForArrivals(kFlood));
  EXPECT_EQ(arrivals_.size(), static_cast<size_t>(kFlood)) << "none lost, none twice";
  EXPECT_GE(handled_when_the_loop_ran, 1u);
  EXPECT_LT(handled_when_the_loop_ran, static_cast<size_t>(kFlood))
      << "the event loop ran only after the whole flood";
  for (int i = 0; i < kFlood; ++i) EXPECT_EQ(arrivals_[i].bytes[0], uint8_t(i)) << i;
}

TEST_F(SocketControlTest, DatagramLeftUnreadIsDroppedNotAnnouncedAgain) {
  std::vector<int32_t> sizes;
  QObject::connect(&control_, &SocketControl::DataArrival,
                   [&](int32_t size) { sizes.push_back(size); });
  Bind();
  peer_.SendTo(port_, "one");
  peer_.SendTo(port_, "three");
  ASSERT_TRUE(QTest::qWaitFor([&] { return sizes.size() >= 2; }, kTimeoutMs));
  peer_.SendTo(port_, "seven!!");
  ASSERT_TRUE(QTest::qWaitFor([&] { return sizes.size() >= 3; }, kTimeoutMs));
  EXPECT_EQ(sizes, (std::vector<int32_t>{3, 5, 7}));

  // GetData outside a handler finds nothing waiting.
  std::vector<uint8_t> data = Bytes({9, 9});
  control_.GetData(data);
  EXPECT_TRUE(data.empty());
}

TEST_F(SocketControlTest, HandlerRunningANestedEventLoopIsNotEnteredAgain) {
  int depth = 0;
  int deepest = 0;
  QObject::connect(&control_, &SocketControl::DataArrival, [&](int32_t size) {
    ++depth;
    deepest = std::max(deepest, depth);
    Arrival arrival{size, {}};
    control_.GetData(arrival.bytes);
    arrivals_.push_back(arrival);
    if (arrivals_.size() == 1) {
      // The next answers arrive while this handler waits in an event loop of its own,
      // as the answer handler does while it fills the grid.
      peer_.SendTo(port_, "second");
      peer_.SendTo(port_, "third");
      QEventLoop nested;
      QTimer::singleShot(100, &nested, &QEventLoop::quit);
      nested.exec();
    }
    --depth;
  });
  Bind();
  peer_.SendTo(port_, "first");
  ASSERT_TRUE(WaitForArrivals(3));
  // Reception goes on afterwards, and nothing was announced twice before this one.
  peer_.SendTo(port_, "fourth");
  ASSERT_TRUE(WaitForArrivals(4));
  EXPECT_EQ(deepest, 1);
  ASSERT_EQ(arrivals_.size(), 4u);
  EXPECT_EQ(arrivals_[0].bytes, Bytes({'f', 'i', 'r', 's', 't'}));
  EXPECT_EQ(arrivals_[1].bytes, Bytes({'s', 'e', 'c', 'o', 'n', 'd'}));
  EXPECT_EQ(arrivals_[2].bytes, Bytes({'t', 'h', 'i', 'r', 'd'}));
  EXPECT_EQ(arrivals_[3].size, 6);
}

TEST_F(SocketControlTest, CloseInsideAHandlerEndsReception) {
  std::vector<int32_t> sizes;
  QObject::connect(&control_, &SocketControl::DataArrival, [&](int32_t size) {
    sizes.push_back(size);
    control_.Close();
  });
  Bind();
  peer_.SendTo(port_, "12");
  peer_.SendTo(port_, "345");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !sizes.empty(); }, kTimeoutMs));
  QCoreApplication::processEvents();
  EXPECT_EQ(sizes, std::vector<int32_t>{2});  // the second went with the closed socket
  EXPECT_FALSE(control_.IsBound());

  // A send cycle closes and sends again from inside the handler, here to the control's
  // own port, before the handler has taken its datagram: the new binding's first
  // datagram must not be dropped in place of the old one.
  sizes.clear();
  QObject::disconnect(&control_, &SocketControl::DataArrival, nullptr, nullptr);
  std::vector<std::vector<uint8_t>> taken;
  QObject::connect(&control_, &SocketControl::DataArrival, [&](int32_t size) {
    sizes.push_back(size);
    if (sizes.size() == 1) {
      control_.Close();
      control_.SetRemotePort(port_);
      control_.SendData(Bytes({0x77}));
      return;
    }
    std::vector<uint8_t> data;
    control_.GetData(data);
    taken.push_back(data);
  });
  Bind();
  peer_.SendTo(port_, "a");
  ASSERT_TRUE(QTest::qWaitFor([&] { return sizes.size() >= 2; }, kTimeoutMs));
  peer_.SendTo(port_, "bc");
  ASSERT_TRUE(QTest::qWaitFor([&] { return sizes.size() >= 3; }, kTimeoutMs));
  EXPECT_EQ(sizes, (std::vector<int32_t>{1, 1, 2}));
  EXPECT_EQ(taken, (std::vector<std::vector<uint8_t>>{Bytes({0x77}), Bytes({'b', 'c'})}));
}

TEST_F(SocketControlTest, PortUnreachableStopsNeitherReceptionNorSending) {
  TakeArrivals();
  control_.SetRemotePort(FreePort());  // nobody listens: loopback answers with ICMP
  control_.SendData(Bytes({0x10}));
  control_.SendData(Bytes({0x11}));
  QCoreApplication::processEvents();

  peer_.SendTo(port_, "answer");
  ASSERT_TRUE(WaitForArrivals(1));
  EXPECT_EQ(arrivals_[0].bytes, Bytes({'a', 'n', 's', 'w', 'e', 'r'}));

  control_.SendData(Bytes({0x12}));
  control_.SetRemotePort(peer_.Port());
  control_.SendData(Bytes({0x13}));
  EXPECT_EQ(peer_.Receive().data(), QByteArray("\x13"));
  EXPECT_TRUE(control_.IsBound());
}

// Linux reports ICMP errors to unconnected UDP sockets only on request; other systems
// always do. Each send or read may then fail once, consuming the error.
TEST_F(SocketControlTest, ReportedPortUnreachableStopsNeitherReceptionNorSending) {
  const quint16 closed_port = FreePort();
  bool send_in_handler = false;
  bool take = true;
  QObject::connect(&control_, &SocketControl::DataArrival, [&](int32_t size) {
    if (send_in_handler) {  // the send cycle may transmit while an answer is handled
      control_.SetRemotePort(closed_port);
      control_.SendData(Bytes({0x30}));
    }
    Arrival arrival{size, {}};
    if (take) control_.GetData(arrival.bytes);
    arrivals_.push_back(arrival);
  });
  Bind();
  ASSERT_TRUE(ReportIcmpErrorsOnSocketOfPort(port_));
  control_.SetRemotePort(closed_port);
  control_.SendData(Bytes({0x20}));  // its ICMP error waits on the socket
  control_.SetRemotePort(peer_.Port());
  control_.SendData(Bytes({0x21}));
  EXPECT_EQ(peer_.Receive().data(), QByteArray("\x21"));

  control_.SetRemotePort(closed_port);
  control_.SendData(Bytes({0x22}));
  peer_.SendTo(port_, "answer");
  ASSERT_TRUE(WaitForArrivals(1));
  EXPECT_EQ(arrivals_[0].bytes, Bytes({'a', 'n', 's', 'w', 'e', 'r'}));

  send_in_handler = true;
  peer_.SendTo(port_, "taken");
  ASSERT_TRUE(WaitForArrivals(2));
  EXPECT_EQ(arrivals_[1].bytes, Bytes({'t', 'a', 'k', 'e', 'n'}));

  take = false;
  peer_.SendTo(port_, "dropped");
  peer_.SendTo(port_, "next");
  ASSERT_TRUE(WaitForArrivals(3));
  send_in_handler = false;
  take = true;
  peer_.SendTo(port_, "last");
  ASSERT_TRUE(WaitForArrivals(5));
  ASSERT_EQ(arrivals_.size(), 5u);
  EXPECT_EQ(arrivals_[2].size, 7);
  EXPECT_EQ(arrivals_[3].size, 4);  // "next", not "dropped" again
  EXPECT_EQ(arrivals_[4].bytes, Bytes({'l', 'a', 's', 't'}));
}

}  // namespace
}  // namespace ostrel

namespace ostrel {
namespace {

// A read notification that finds the queue already drained (the poll saw a datagram an
// earlier batch took) must not silence the socket: the next datagram is announced.
TEST_F(SocketControlTest, ReadNotificationWithNothingWaitingDoesNotSilenceTheSocket) {
  TakeArrivals();
  Bind();
  ASSERT_TRUE(control_.IsBound());
  const auto notifiers = control_.findChildren<QSocketNotifier*>();
  auto read = std::find_if(notifiers.begin(), notifiers.end(), [](QSocketNotifier* n) {
    return n->type() == QSocketNotifier::Read && n->isEnabled();
  });
  ASSERT_NE(read, notifiers.end());
  QEvent activation(QEvent::SockAct);
  QCoreApplication::sendEvent(*read, &activation);  // readyRead with an empty queue
  peer_.SendTo(port_, "next");
  ASSERT_TRUE(WaitForArrivals(1));
  peer_.SendTo(port_, "and on");
  ASSERT_TRUE(WaitForArrivals(2));
  EXPECT_EQ(arrivals_[1].size, 6);
}

// The arrival time is the kernel's, not the time the event loop got round to the datagram.
TEST_F(SocketControlTest, ArrivalTimeIsWhenTheDatagramCameNotWhenItWasRead) {
  using std::chrono::milliseconds;
  using std::chrono::steady_clock;
  steady_clock::time_point arrived{};
  steady_clock::time_point read{};
  QObject::connect(&control_, &SocketControl::DataArrival, [&](int32_t) {
    arrived = control_.ArrivalTime();
    read = steady_clock::now();
  });
  Bind();
  // The kernel grants the 4 MiB asked for up to net.core.rmem_max, and reports it doubled.
  std::ifstream rmem_max_file("/proc/sys/net/core/rmem_max");
  long rmem_max = 0;
  if (rmem_max_file >> rmem_max) {
    EXPECT_EQ(control_.ReceiveBufferSize(), 2 * std::min<long>(rmem_max, 4 << 20));
  }
  // The kernel switches its receive stamps on a moment after the first socket asks for
  // them (deferred work); a datagram that comes before is stamped when it is read.
  peer_.SendTo(port_, "warm");
  ASSERT_TRUE(QTest::qWaitFor([&] { return read != steady_clock::time_point{}; }, kTimeoutMs));
  QTest::qWait(50);
  read = steady_clock::time_point{};
  const steady_clock::time_point sent = steady_clock::now();
  peer_.SendTo(port_, "late");
  std::this_thread::sleep_for(milliseconds(50));  // the event loop does not run meanwhile
  const steady_clock::time_point slept = steady_clock::now();
  ASSERT_TRUE(QTest::qWaitFor([&] { return read != steady_clock::time_point{}; }, kTimeoutMs));
  EXPECT_GE(arrived, sent - milliseconds(5));
  EXPECT_LE(arrived, slept);
  EXPECT_GE(read - arrived, milliseconds(45));
}

// ---- Transmit stamps -------------------------------------------------------------------

// The kernel's transmit stamps as the error queue gives them: numbered per socket from 0,
// each within its send call; an ICMP error in the same queue is no stamp.
TEST(KernelStamps, TransmitStampsAreNumberedAndAnIcmpErrorIsNone) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  const int on = 1;
  ASSERT_EQ(setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on), 0);
  if (!RequestTransmitStamps(fd)) {
    close(fd);
    GTEST_SKIP() << "the kernel gives no transmit stamps";
  }
  QUdpSocket listener;
  ASSERT_TRUE(listener.bind(QHostAddress::LocalHost, 0));
  const quint16 closed_port = FreePort();
  std::vector<TransmitStamp> stamps;
  int others = 0;
  const auto send_to = [&](quint16 port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    timespec before{}, after{};
    clock_gettime(CLOCK_REALTIME, &before);
    ASSERT_EQ(sendto(fd, "x", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 1);
    clock_gettime(CLOCK_REALTIME, &after);
    // Wait for the entries of this datagram (the stamp, and an ICMP error for a closed port).
    const size_t expected_stamps = stamps.size() + 1;
    const int expected_others = others + (port == closed_port ? 1 : 0);
    for (int round = 0; round < 50 && (stamps.size() < expected_stamps || others < expected_others);
         ++round) {
      pollfd ready{fd, 0, 0};
      poll(&ready, 1, 100);
      ErrorQueueEntry entry;
      while (entry.ReadFrom(fd)) {
        if (const auto stamp = TransmitStampIn(entry.message())) {
          const auto ns = [](const timespec& t) { return t.tv_sec * 1'000'000'000LL + t.tv_nsec; };
          EXPECT_GE(ns(stamp->when), ns(before));
          EXPECT_LE(ns(stamp->when), ns(after));
          stamps.push_back(*stamp);
        } else {
          ++others;
        }
      }
    }
  };
  send_to(listener.localPort());
  send_to(closed_port);
  close(fd);
  ASSERT_EQ(stamps.size(), 2u);
  EXPECT_EQ(stamps[0].number, 0u);
  EXPECT_EQ(stamps[1].number, 1u);
  EXPECT_EQ(others, 1) << "the ICMP error of the closed port";
}

// The send moment is the kernel's, inside the send call, and an answer is never stamped
// before it; an ICMP error waiting beside the stamp changes neither.
TEST_F(SocketControlTest, TheSendMomentLiesWithinTheSendAndBeforeItsAnswer) {
  TakeArrivals();
  Bind();
  ASSERT_TRUE(ReportIcmpErrorsOnSocketOfPort(port_));
  control_.SetRemotePort(FreePort());
  control_.SendData(Bytes({0x20}));  // its ICMP error waits on the socket
  control_.SetRemotePort(peer_.Port());
  const auto before = std::chrono::steady_clock::now();
  control_.SendData(Bytes({0x21}));
  const auto after = std::chrono::steady_clock::now();
  EXPECT_GE(control_.SentTime(), before);
  EXPECT_LE(control_.SentTime(), after);
  const auto sent = control_.SentTime();
  EXPECT_EQ(peer_.Receive().data(), QByteArray("\x21"));
  peer_.SendTo(port_, "answer");
  ASSERT_TRUE(WaitForArrivals(1));
  EXPECT_EQ(arrivals_[0].size, 6);
  EXPECT_GT(control_.ArrivalTime(), sent);
  EXPECT_EQ(control_.SentTime(), sent);
}

}  // namespace
}  // namespace ostrel
