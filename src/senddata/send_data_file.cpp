#include "send_data_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <span>
#include <string_view>

#include "byte_grid.h"
#include "common/path_text.h"
#include "common/run_time_error.h"
#include "logging/error_handler.h"

namespace ostrel {
namespace {

// A regular file opened read-only, closed with the object. The name is checked with stat
// before the open and the opened file with fstat after it, so a folder, FIFO, device or
// socket is never opened, nor kept open if one took the file's place in between.
// O_NONBLOCK keeps even that in-between open from waiting for a FIFO's writer.
class RegularFile {
 public:
  explicit RegularFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      error_ = errno;
      return;
    }
    if (!S_ISREG(st.st_mode)) {
      error_ = NotRegularError(st);
      return;
    }
    do {
      fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
      error_ = errno;
      return;
    }
    if (::fstat(fd_, &st) != 0) {
      error_ = errno;
      Close();
      return;
    }
    if (!S_ISREG(st.st_mode)) {
      error_ = NotRegularError(st);
      Close();
      return;
    }
    size_ = st.st_size;
  }
  ~RegularFile() { Close(); }
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int64_t Size() const { return size_; }
  // The errno of a failed open; a file that is not regular counts as EISDIR or ENXIO,
  // both described as a path access error.
  int Error() const { return error_; }

  // Reads from offset 0 until `buffer` is full or the file ends; gives the count read.
  std::size_t ReadPrefix(std::span<uint8_t> buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
      const ssize_t got =
          ::pread(fd_, buffer.data() + done, buffer.size() - done, static_cast<off_t>(done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) ThrowFileError(errno);
      if (got == 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  static int NotRegularError(const struct stat& st) { return S_ISDIR(st.st_mode) ? EISDIR : ENXIO; }

  int fd_ = -1;
  int64_t size_ = -1;
  int error_ = 0;
};

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Bytes of the UTF-8 character starting at text[i], so '?' stands for one character of a
// Japanese name rather than one byte of it.
std::size_t CharLength(std::string_view text, std::size_t i) {
  std::size_t length = 1;
  while (i + length < text.size() && (static_cast<unsigned char>(text[i + length]) & 0xC0) == 0x80)
    ++length;
  return length;
}

// '*' matches any run of characters, '?' exactly one; everything else itself.
bool WildcardMatch(std::string_view pattern, std::string_view text) {
  constexpr auto kNone = std::string_view::npos;
  std::size_t p = 0, t = 0, star = kNone, star_text = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_text = t;
    } else if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      t += CharLength(text, t);
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != kNone) {
      // Let the last '*' take one more character and try again from there.
      star_text += CharLength(text, star_text);
      t = star_text;
      p = star + 1;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

int64_t GetFileLength(const std::string& path) {
  const RegularFile file(path);
  return file.IsOpen() ? file.Size() : -1;
}

void SetDataFromFileToGrid(GridControl& grid, const std::string& path) noexcept {
  RunHandled("SetDataFromFileToGrid", [&] {
    std::array<uint8_t, kGridByteCapacity> buffer{};
    std::size_t n = 0;
    {
      RegularFile file(path);
      if (!file.IsOpen()) ThrowFileError(file.Error());
      const auto wanted = static_cast<std::size_t>(
          std::min<int64_t>(file.Size(), static_cast<int64_t>(buffer.size())));
      n = file.ReadPrefix(std::span(buffer.data(), wanted));
    }
    // A file without a byte has nothing to show: there is no first element to fill from.
    if (n == 0) throw RunTimeError(desc::kSubscriptOutOfRange);
    FillGridFromBytes(grid, std::span(buffer.data(), n));
  });
}

InputFileCheck CheckInputFileName(const std::string& name) {
  if (name.empty()) return InputFileCheck::kEmptyName;
  const std::size_t slash = name.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
  const std::string last = name.substr(folder.size());
  if (last.empty() || IsHiddenName(last)) return InputFileCheck::kNoSuchFile;

  if (last.find_first_of("*?") == std::string::npos) {
    return IsRegularFile(name) ? InputFileCheck::kOk : InputFileCheck::kNoSuchFile;
  }
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()),
                                                &::closedir);
  if (!dir) return InputFileCheck::kNoSuchFile;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view entry_name = entry->d_name;
    if (IsHiddenName(entry_name) || !WildcardMatch(last, entry_name)) continue;
    if (IsRegularFile(folder + std::string(entry_name))) return InputFileCheck::kOk;
  }
  return InputFileCheck::kNoSuchFile;
}

void LoadSendDataFile(GridControl& grid, const std::string& name) {
  grid.SetRedraw(false);
  SetDataFromFileToGrid(grid, name);  // never raises
  grid.SetRedraw(true);
}

}  // namespace ostrel
