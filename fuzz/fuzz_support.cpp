#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace ostrel::fuzz {
namespace {

std::filesystem::path MakeFolder() {
  const char* base = "/dev/shm";
  if (access(base, W_OK | X_OK) != 0) {
    const char* tmp = std::getenv("TMPDIR");
    base = tmp && *tmp ? tmp : "/tmp";
  }
  std::string pattern = std::string(base) + "/ostrel-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  return pattern;
}

void RemoveFolderAtExit() {
  std::error_code ec;
  std::filesystem::remove_all(PrivateFolder(), ec);
}

}  // namespace

const std::filesystem::path& PrivateFolder() {
  static const std::filesystem::path folder = MakeFolder();
  static const bool removed_at_exit = std::atexit(RemoveFolderAtExit) == 0;
  (void)removed_at_exit;
  return folder;
}

void EmptyFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::filesystem::remove_all(entry.path(), ec);
  }
}

std::string ReadBytes(const std::filesystem::path& path, bool* exists, std::size_t limit) {
  std::string bytes;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (exists) *exists = fd >= 0;
  if (fd < 0) return bytes;
  char buffer[65536];
  while (bytes.size() < limit) {
    const ssize_t n = read(fd, buffer, std::min(sizeof buffer, limit - bytes.size()));
    if (n > 0) {
      bytes.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(fd);
  return bytes;
}

void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  FUZZ_CHECK(fd >= 0);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    FUZZ_CHECK(n > 0 || errno == EINTR);
    if (n > 0) done += static_cast<size_t>(n);
  }
  close(fd);
}

}  // namespace ostrel::fuzz
