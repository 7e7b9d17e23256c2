#include "small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ostrel {

SmallFileStatus ReadSmallFile(const std::string& path, std::size_t limit, std::string& text,
                              bool first_only) {
  text.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return SmallFileStatus::kCannotOpen;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return SmallFileStatus::kNotRegular;
  }
  if (!first_only && static_cast<std::size_t>(st.st_size) > limit) {
    close(fd);
    return SmallFileStatus::kTooLarge;
  }
  // One byte beyond the limit tells a file that grew since fstat.
  text.resize(first_only ? limit : limit + 1);
  std::size_t got = 0;
  bool read_all = true;
  while (got < text.size()) {
    const ssize_t n = read(fd, text.data() + got, text.size() - got);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      read_all = false;
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  close(fd);
  text.resize(got);
  if (!read_all) return SmallFileStatus::kCannotRead;
  if (text.size() > limit) return SmallFileStatus::kTooLarge;
  return SmallFileStatus::kOk;
}

std::string SmallFileProblem(SmallFileStatus status, const std::string& named, std::size_t limit) {
  switch (status) {
    case SmallFileStatus::kOk:
      return "";
    case SmallFileStatus::kCannotOpen:
      return named + "を開けません。";
    case SmallFileStatus::kNotRegular:
      return named + "は通常のファイルではありません。";
    case SmallFileStatus::kTooLarge:
      return named + "が大きすぎます（" + std::to_string(limit) + " バイトまで）。";
    case SmallFileStatus::kCannotRead:
      break;
  }
  return named + "を読めません。";
}

}  // namespace ostrel
