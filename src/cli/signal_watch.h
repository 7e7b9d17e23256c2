#pragma once
// Termination signals (SIGINT, SIGTERM) turned into a Qt signal on the event loop. The
// handler only writes the signal's number to a pipe; the event loop reads it there
// (a self-pipe with a socket notifier), so nothing runs inside the handler.

#include <QObject>
#include <QSocketNotifier>
#include <initializer_list>
#include <memory>
#include <vector>

#include <csignal>

namespace ostrel {

class SignalWatch final : public QObject {
  Q_OBJECT

 public:
  // Catches the signals `numbers` from now on. One watch at a time per process.
  explicit SignalWatch(std::initializer_list<int> numbers, QObject* parent = nullptr);
  // Puts the previous handlers back.
  ~SignalWatch() override;
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  // False when the pipe could not be made; the signals then keep their old handling.
  bool ok() const { return notifier_ != nullptr; }

 signals:
  void Received(int signal_number);

 private:
  void OnReadable();

  int read_fd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::vector<std::pair<int, struct sigaction>> previous_;
};

}  // namespace ostrel
