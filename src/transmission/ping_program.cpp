#include "ping_program.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace ostrel {
namespace {

// The run's standard input, output and error: nothing in, everything out discarded.
class SpawnSettings {
 public:
  SpawnSettings() {
    ok_ = posix_spawn_file_actions_init(&actions_) == 0;
    if (!ok_) return;
    ok_ = posix_spawnattr_init(&attributes_) == 0;
    if (!ok_) {
      posix_spawn_file_actions_destroy(&actions_);
      return;
    }
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
      ok_ =
          ok_ && posix_spawn_file_actions_addopen(&actions_, fd, "/dev/null",
                                                  fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0) == 0;
    }
    // The run starts with no blocked signals and the default action for every one we
    // might have changed (SIGPIPE ignored, for one).
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ok_ =
        ok_ && posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
        posix_spawnattr_setsigdefault(&attributes_, &all) == 0 &&
        posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
  }
  ~SpawnSettings() {
    posix_spawnattr_destroy(&attributes_);
    posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  bool ok() const { return ok_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attributes_{};
  bool ok_ = false;
};

// Straight to the kernel: the C library's declarations of these lack C linkage in C++.
int OpenPidDescriptor(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }
int SignalThroughDescriptor(int pidfd, int signal) {
  return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

bool IsExecutableFile(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::optional<std::string> FindPingProgram(std::span<const std::string> paths) {
  for (const std::string& path : paths) {
    if (IsExecutableFile(path)) return path;
  }
  return std::nullopt;
}

std::vector<std::string> PingProgramArguments(in_addr target, std::chrono::milliseconds timeout) {
  const long long ms = std::max<long long>(timeout.count(), 1);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%lld.%03lld", ms / 1000, ms % 1000);
  char dotted[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &target, dotted, sizeof dotted);
  return {"-n", "-q", "-c", "1", "-s", "0", "-W", seconds, dotted};
}

PingProgramProbe::PingProgramProbe(std::string program, in_addr target)
    : program_(std::move(program)), target_(target) {}

PingProgramProbe::~PingProgramProbe() { Close(); }

bool PingProgramProbe::Open() {
  Close();
  open_ = IsExecutableFile(program_);
  return open_;
}

void PingProgramProbe::Close() {
  EndRun();
  open_ = false;
}

bool PingProgramProbe::SendRequest(std::chrono::milliseconds timeout) {
  EndRun();
  if (!open_) return false;
  SpawnSettings settings;
  if (!settings.ok()) return false;
  std::vector<std::string> arguments = PingProgramArguments(target_, timeout);
  arguments.insert(arguments.begin(), program_);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  // Its output is never read, so the locale does not matter; it gets no environment.
  char* envp[] = {nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, program_.c_str(), settings.actions(), settings.attributes(), argv.data(),
                  envp) != 0) {
    return false;
  }
  pid_ = pid;
  outcome_ = ReplyState::kFailed;
  // Our own child, not yet reaped: the id cannot have been reused.
  pidfd_ = OpenPidDescriptor(pid_);
  if (pidfd_ < 0) {
    EndRun();
    return false;
  }
  return true;
}

ReplyState PingProgramProbe::TakeReplies() {
  if (pid_ < 0) return outcome_;
  int status = 0;
  pid_t ended;
  do {
    ended = waitpid(pid_, &status, WNOHANG);
  } while (ended < 0 && errno == EINTR);
  if (ended == 0) return ReplyState::kWaiting;
  // Reaped (or lost, which counts as no reply); the descriptor stays open, and readable,
  // until the next run or Close, so a notifier on it never sees it vanish.
  pid_ = -1;
  outcome_ = ended > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ReplyState::kAnswered
                                                                        : ReplyState::kFailed;
  return outcome_;
}

void PingProgramProbe::EndRun() {
  if (pid_ >= 0) {
    if (pidfd_ < 0 || SignalThroughDescriptor(pidfd_, SIGKILL) != 0) kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  pid_ = -1;
  if (pidfd_ >= 0) close(pidfd_);
  pidfd_ = -1;
}

}  // namespace ostrel
