#include "atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "run_time_error.h"

namespace ostrel {

mode_t CurrentUmask() {
  // Read without calling umask(), which would change it for a moment.
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0)
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  }
  return 022;
}

std::filesystem::path WriteTarget(const std::filesystem::path& file) {
  std::filesystem::path path = file;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::error_code ec;
    std::filesystem::path target = std::filesystem::read_symlink(path, ec);
    if (ec) ThrowFileError(ec.value());
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  ThrowFileError(ELOOP);
}

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target)) {
  const std::filesystem::path folder = target_.parent_path().empty() ? "." : target_.parent_path();
  std::string temp = (folder / ("." + target_.filename().string() + ".XXXXXX")).string();
  fd_ = mkostemp(temp.data(), O_CLOEXEC);
  if (fd_ < 0) ThrowFileError(errno);
  temp_ = temp;
}

AtomicFile::~AtomicFile() { Discard(); }

void AtomicFile::Discard() noexcept {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
  unlink(temp_.c_str());
}

void AtomicFile::Write(std::string_view bytes) {
  if (fd_ < 0) ThrowFileError(EBADF);
  while (!bytes.empty()) {
    const ssize_t n = write(fd_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
    } else if (n == 0) {
      ThrowFileError(ENOSPC);
    } else if (errno != EINTR) {
      ThrowFileError(errno);
    }
  }
}

void AtomicFile::Commit(mode_t mode, const struct stat* owner) {
  if (fd_ < 0) ThrowFileError(EBADF);
  if (owner && fchown(fd_, owner->st_uid, owner->st_gid) != 0) {
    // Only possible for the owner or root; otherwise the file becomes ours, like any
    // editor's save.
  }
  int error = 0;
  if (fchmod(fd_, mode) != 0) error = errno;
  if (error == 0 && fsync(fd_) != 0) error = errno;
  if (error != 0) ThrowFileError(error);  // the destructor removes the temporary
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) error = errno;
  if (error == 0 && rename(temp_.c_str(), target_.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temp_.c_str());
    ThrowFileError(error);
  }
  // Make the rename itself durable; the new content is already in place either way.
  const std::filesystem::path folder = target_.parent_path().empty() ? "." : target_.parent_path();
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
}

}  // namespace ostrel
