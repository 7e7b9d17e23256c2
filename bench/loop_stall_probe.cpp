// Preloaded into the whole program by flood_bench.sh (LD_PRELOAD), never linked into it:
// measures the longest time the main thread spends between two waits for events (poll
// or ppoll), which is how long the event loop left timers, input and painting waiting.
// The longest stall in microseconds is kept in the first 8 bytes of the file named by
// OSTREL_STALL_FILE (shared memory, so a reader sees it at once and can reset it by
// writing zeros). Without that variable nothing is measured.

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

namespace {

std::atomic<uint64_t>* longest_us = nullptr;
uint64_t last_return_ns = 0;

uint64_t NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

bool OnMainThread() { return syscall(SYS_gettid) == getpid(); }

__attribute__((constructor)) void OpenSlot() {
  const char* path = std::getenv("OSTREL_STALL_FILE");
  if (path == nullptr) return;
  const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (ftruncate(fd, sizeof(uint64_t)) == 0) {
    void* map = mmap(nullptr, sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map != MAP_FAILED) longest_us = static_cast<std::atomic<uint64_t>*>(map);
  }
  close(fd);
}

void BeforeWait() {
  if (longest_us == nullptr || !OnMainThread()) return;
  if (last_return_ns != 0) {
    const uint64_t stall = (NowNs() - last_return_ns) / 1000;
    if (stall > longest_us->load(std::memory_order_relaxed)) longest_us->store(stall);
  }
}

void AfterWait() {
  if (longest_us != nullptr && OnMainThread()) last_return_ns = NowNs();
}

template <class F>
F Real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int poll(pollfd* fds, nfds_t count, int timeout) {
  static const auto real = Real<int (*)(pollfd*, nfds_t, int)>("poll");
  BeforeWait();
  const int result = real(fds, count, timeout);
  AfterWait();
  return result;
}

extern "C" int ppoll(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask) {
  static const auto real =
      Real<int (*)(pollfd*, nfds_t, const timespec*, const sigset_t*)>("ppoll");
  BeforeWait();
  const int result = real(fds, count, timeout, mask);
  AfterWait();
  return result;
}
