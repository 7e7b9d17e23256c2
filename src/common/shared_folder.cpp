#include "common/shared_folder.h"

#include <sys/stat.h>

namespace ostrel {

namespace {

// The mode of the folder holding `path` when it is a set-group-ID folder, else 0.
mode_t SharedFolderMode(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !(st.st_mode & S_ISGID)) return 0;
  return st.st_mode;
}

}  // namespace

bool InSharedFolder(const std::string& path) { return SharedFolderMode(path) != 0; }

mode_t SharedGroupBits(const std::string& path) {
  return SharedFolderMode(path) & (S_IRGRP | S_IWGRP);
}

void ShareNewFile(int fd, const std::string& path) {
  const mode_t bits = SharedGroupBits(path);
  struct stat st {};
  if (bits == 0 || fstat(fd, &st) != 0 || (st.st_mode & bits) == bits) return;
  if (fchmod(fd, (st.st_mode & 07777) | bits) != 0) return;  // stays as the umask made it
}

}  // namespace ostrel
