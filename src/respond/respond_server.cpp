#include "respond_server.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <cstring>

#include "request_report.h"

namespace ostrel {
namespace {

constexpr int kExitRunTimeError = 3;
// Datagrams read in one pass before timers and signals get their turn.
constexpr int kBatch = 256;
// A receive buffer for bursts: about 4 MiB of queued requests (the kernel caps it at
// net.core.rmem_max unless raised there).
constexpr int kReceiveBuffer = 4 << 20;
constexpr std::size_t kMaxDatagram = 65536;

std::string SenderText(const sockaddr_in& from) {
  char address[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
  return std::string(address) + ":" + std::to_string(ntohs(from.sin_port));
}

}  // namespace

RespondServer::RespondServer(const RespondOptions& options, ResponderRules rules, std::ostream& out,
                             std::ostream& err)
    : options_(options), responder_(std::move(rules), options.seed), out_(out), err_(err) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &RespondServer::OnTimer);
  request_.resize(kMaxDatagram);
}

RespondServer::~RespondServer() {
  notifier_.reset();
  if (fd_ >= 0) close(fd_);
}

bool RespondServer::Open() {
  const std::string where = options_.address + ":" + std::to_string(options_.port);
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    err_ << "ostrel-respond: UDP ソケットを作れません: " << std::strerror(errno) << std::endl;
    return false;
  }
  const int size = kReceiveBuffer;
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);  // a smaller one still works
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(options_.port);
  inet_pton(AF_INET, options_.address.c_str(), &local.sin_addr);
  if (bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    err_ << "ostrel-respond: " << where << " で待ち受けられません: " << std::strerror(errno)
         << std::endl;
    close(fd_);
    fd_ = -1;
    return false;
  }
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &RespondServer::OnReadable);
  err_ << "ostrel-respond: " << where << " で待ち受けています"
       << (options_.echo ? "（--echo）" : "（" + options_.rules_file + "）")
       << "。Ctrl-C で終わります。" << std::endl;
  return true;
}

int RespondServer::Run() {
  running_ = true;
  QCoreApplication::exec();
  running_ = false;
  FlushLines();
  if (send_errors_ > 0)
    err_ << "ostrel-respond: " << send_errors_ << " 件の応答を送れませんでした。" << std::endl;
  return status_;
}

void RespondServer::Stop() {
  if (notifier_) notifier_->setEnabled(false);
  timer_.stop();
  QCoreApplication::exit(status_);
}

void RespondServer::OnReadable() {
  for (int i = 0; i < kBatch; ++i) {
    if (options_.count > 0 && requests_ >= options_.count) break;
    sockaddr_in from{};
    socklen_t from_size = sizeof from;
    const ssize_t got = recvfrom(fd_, request_.data(), request_.size(), 0,
                                 reinterpret_cast<sockaddr*>(&from), &from_size);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK)
        err_ << "ostrel-respond: 受信できません: " << std::strerror(errno) << std::endl;
      break;
    }
    ++requests_;
    const std::span<const uint8_t> request(request_.data(), static_cast<std::size_t>(got));
    RequestRecord record{std::chrono::system_clock::now(), SenderText(from), request.size(),
                         responder_.Respond(request, answer_), answer_.size()};
    if (options_.json)
      AppendRequestJson(record, lines_);
    else
      AppendRequestText(record, lines_);
    const ResponseAction action = record.response.action;
    if (action != ResponseAction::kAnswered && action != ResponseAction::kEchoed) continue;
    if (record.response.delay_ms == 0) {
      Send(from, answer_);
    } else {
      // Equal times keep their order: a multimap inserts after the equal keys.
      pending_.emplace(Clock::now() + std::chrono::milliseconds(record.response.delay_ms),
                       Pending{from, answer_});
    }
  }
  if (!FlushLines()) return;
  ArmTimer();
  FinishIfDone();
}

void RespondServer::OnTimer() {
  const Clock::time_point now = Clock::now();
  while (!pending_.empty() && pending_.begin()->first <= now) {
    Send(pending_.begin()->second.to, pending_.begin()->second.bytes);
    pending_.erase(pending_.begin());
  }
  ArmTimer();
  FinishIfDone();
}

void RespondServer::Send(const sockaddr_in& to, const std::vector<uint8_t>& bytes) {
  if (sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
             sizeof to) < 0) {
    if (send_errors_++ == 0)
      err_ << "ostrel-respond: " << SenderText(to)
           << " へ応答を送れません: " << std::strerror(errno) << std::endl;
  }
}

void RespondServer::ArmTimer() {
  if (pending_.empty()) {
    timer_.stop();
    return;
  }
  const auto wait =
      std::chrono::ceil<std::chrono::milliseconds>(pending_.begin()->first - Clock::now());
  timer_.start(std::max(wait, std::chrono::milliseconds(0)));
}

bool RespondServer::FlushLines() {
  if (lines_.empty()) return true;
  out_.write(lines_.data(), static_cast<std::streamsize>(lines_.size()));
  out_.flush();
  lines_.clear();
  if (out_) return true;
  // A reader that went away (`| head -1`) or a full disk: the run ends with status 3.
  err_ << "ostrel-respond: 標準出力に書き込めません。" << std::endl;
  status_ = kExitRunTimeError;
  if (running_) Stop();
  return false;
}

void RespondServer::FinishIfDone() {
  if (options_.count == 0 || requests_ < options_.count) return;
  if (notifier_) notifier_->setEnabled(false);
  if (pending_.empty() && running_) QCoreApplication::exit(status_);
}

}  // namespace ostrel
