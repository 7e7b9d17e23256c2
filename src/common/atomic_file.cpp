#include "atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "run_time_error.h"
#include "shared_folder.h"

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
    // Any member of the group may put a link into a shared folder, to make this write
    // land in another member's file: such a link is refused. In a folder of the user's
    // own, a link is the user's own doing (a settings file kept elsewhere), and is followed.
    if (InSharedFolder(path.string())) ThrowFileError(EACCES);
    std::error_code ec;
    std::filesystem::path target = std::filesystem::read_symlink(path, ec);
    if (ec) ThrowFileError(ec.value());
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  ThrowFileError(ELOOP);
}

mode_t ReplacementMode(const std::filesystem::path& target, const struct stat* old) {
  if (old != nullptr) return old->st_mode & 07777;
  return (0666 & ~CurrentUmask()) | SharedGroupBits(target.string());
}

namespace {

// Refuses a folder without any write permission even for root, as for the file itself.
void CheckWritableFolder(const std::filesystem::path& folder) {
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw RunTimeError(desc::kPathNotFound);
  }
  if ((st.st_mode & 0222) == 0) throw RunTimeError(desc::kPermissionDenied);
  if (access(folder.c_str(), W_OK | X_OK) != 0) ThrowFileError(errno);
}

}  // namespace

ReplaceTarget CheckedReplaceTarget(const std::string& file) {
  if (file.empty()) throw RunTimeError(desc::kPathNotFound);
  ReplaceTarget target;
  target.path = WriteTarget(file);
  target.exists = lstat(target.path.c_str(), &target.st) == 0;
  if (!target.exists) {
    if (errno == ENOTDIR) throw RunTimeError(desc::kPathNotFound);
    if (errno != ENOENT) ThrowFileError(errno);
  } else {
    if (S_ISDIR(target.st.st_mode)) ThrowFileError(EISDIR);
    if (!S_ISREG(target.st.st_mode)) ThrowFileError(EINVAL);
    // access() always grants root; a file with no write bit at all is read-only for everyone.
    if ((target.st.st_mode & 0222) == 0) throw RunTimeError(desc::kPermissionDenied);
    if (access(target.path.c_str(), W_OK) != 0) ThrowFileError(errno);
  }
  CheckWritableFolder(target.path.parent_path().empty() ? "." : target.path.parent_path());
  return target;
}

void ReplaceFile(const ReplaceTarget& target, std::string_view content) {
  AtomicFile file(target.path);
  file.Write(content);
  file.Commit(ReplacementMode(target.path, target.Old()), target.Old());
}

void ReplaceFileAtomically(const std::string& file, std::string_view content) {
  ReplaceFile(CheckedReplaceTarget(file), content);
}

void CheckReplaceable(const std::string& file) { CheckedReplaceTarget(file); }

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
