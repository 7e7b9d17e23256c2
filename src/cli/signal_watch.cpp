#include "signal_watch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace ostrel {
namespace {

volatile sig_atomic_t g_write_fd = -1;

extern "C" void OnSignal(int signal_number) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(signal_number);
  // Non-blocking: with the pipe full the signal is already pending there.
  if (g_write_fd >= 0) (void)!write(g_write_fd, &byte, 1);
  errno = saved;
}

}  // namespace

SignalWatch::SignalWatch(std::initializer_list<int> numbers, QObject* parent) : QObject(parent) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  read_fd_ = fds[0];
  g_write_fd = fds[1];
  notifier_ = std::make_unique<QSocketNotifier>(read_fd_, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &SignalWatch::OnReadable);
  for (const int number : numbers) {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction old {};
    if (sigaction(number, &action, &old) == 0) previous_.emplace_back(number, old);
  }
}

SignalWatch::~SignalWatch() {
  for (const auto& [number, old] : previous_) sigaction(number, &old, nullptr);
  notifier_.reset();
  const int write_fd = g_write_fd;
  g_write_fd = -1;
  if (write_fd >= 0) close(write_fd);
  if (read_fd_ >= 0) close(read_fd_);
}

void SignalWatch::OnReadable() {
  unsigned char bytes[16];
  ssize_t got;
  while ((got = read(read_fd_, bytes, sizeof bytes)) > 0) {
    for (ssize_t i = 0; i < got; ++i) emit Received(bytes[i]);
  }
}

}  // namespace ostrel
