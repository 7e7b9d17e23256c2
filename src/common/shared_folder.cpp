#include "common/shared_folder.h"

#include <sys/stat.h>

#include "common/path_text.h"

namespace ostrel {

namespace {

// The mode of the folder holding `path` when it is a set-group-ID folder, else 0.
mode_t SharedFolderMode(const std::string& path) {
  // A name without folder is in the current one; a name right under the root has none.
  const std::string parent = GetFolderPath(path);
  const char* folder = !parent.empty()                    ? parent.c_str()
                       : path.starts_with(kPathSeparator) ? "/"
                                                          : ".";
  struct stat st {};
  if (stat(folder, &st) != 0 || !S_ISDIR(st.st_mode) || !(st.st_mode & S_ISGID)) return 0;
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
