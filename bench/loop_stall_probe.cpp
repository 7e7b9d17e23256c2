// Preloaded into the whole program by flood_bench.sh (LD_PRELOAD), never linked into it:
// measures the longest time the main thread spends between two waits for events (poll
// or ppoll), which is how long the event loop left timers, input and painting waiting,
// and when the answer grid (the lower of the window's two byte grids) was last painted.
// The file named by OSTREL_STALL_FILE holds, as shared memory (a reader sees them at once
// and can reset them by writing zeros): the longest stall in microseconds (bytes 0..7) and
// the CLOCK_MONOTONIC time of the answer grid's last paint in nanoseconds (bytes 8..15).
// Without that variable nothing is measured.
// With OSTREL_RMEM_MAX set, a receive buffer asked for with SO_RCVBUF is capped at that many
// bytes, as the kernel caps it at net.core.rmem_max (so a smaller limit can be tried
// without changing the machine's).

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QAbstractScrollArea>
#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace {

std::atomic<uint64_t>* longest_us = nullptr;
std::atomic<uint64_t>* grid_painted_ns = nullptr;
uint64_t last_return_ns = 0;

uint64_t NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

bool OnMainThread() { return syscall(SYS_gettid) == getpid(); }

// True for the viewport of the lower byte grid of its window (the answer grid).
bool IsAnswerGrid(const QObject* object) {
  const auto* viewport = qobject_cast<const QWidget*>(object);
  const auto* grid =
      qobject_cast<const QAbstractScrollArea*>(viewport ? viewport->parentWidget() : nullptr);
  if (grid == nullptr || grid->viewport() != viewport ||
      std::strcmp(grid->metaObject()->className(), "ostrel::FlexGrid") != 0) {
    return false;
  }
  for (const QWidget* other : grid->parentWidget()->findChildren<QWidget*>()) {
    if (other != grid && std::strcmp(other->metaObject()->className(), "ostrel::FlexGrid") == 0 &&
        other->y() > grid->y()) {
      return false;
    }
  }
  return true;
}

// Each widget's answer is remembered, so the probe costs the program next to nothing per
// paint (looking through the window's widgets at every paint was 3-4 % of its samples).
class PaintWatch : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Paint) return false;
    auto known = known_.find(watched);
    if (known == known_.end() || known->second.first != watched) {
      known = known_.insert_or_assign(watched, std::make_pair(QPointer<QObject>(watched),
                                                              IsAnswerGrid(watched))).first;
    }
    if (known->second.second) grid_painted_ns->store(NowNs());
    return false;
  }

 private:
  std::unordered_map<QObject*, std::pair<QPointer<QObject>, bool>> known_;
};

void WatchPaints() {
  QCoreApplication* app = QCoreApplication::instance();
  app->installEventFilter(new PaintWatch(app));
}

__attribute__((constructor)) void OpenSlot() {
  const char* path = std::getenv("OSTREL_STALL_FILE");
  if (path == nullptr) return;
  const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (ftruncate(fd, 2 * sizeof(uint64_t)) == 0) {
    void* map = mmap(nullptr, 2 * sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map != MAP_FAILED) {
      longest_us = static_cast<std::atomic<uint64_t>*>(map);
      grid_painted_ns = longest_us + 1;
    }
  }
  close(fd);
  if (longest_us != nullptr) qAddPreRoutine(WatchPaints);
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

extern "C" int setsockopt(int fd, int level, int name, const void* value, socklen_t length) {
  static const auto real = Real<int (*)(int, int, int, const void*, socklen_t)>("setsockopt");
  static const char* limit = std::getenv("OSTREL_RMEM_MAX");
  if (limit != nullptr && level == SOL_SOCKET && name == SO_RCVBUF && length == sizeof(int)) {
    const int capped = std::min(*static_cast<const int*>(value), std::atoi(limit));
    return real(fd, level, name, &capped, length);
  }
  return real(fd, level, name, value, length);
}

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
