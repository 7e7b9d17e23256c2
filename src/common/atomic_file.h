#pragma once
// Replacing a file whole: the new content goes to a hidden temporary sibling
// (".name.XXXXXX"), which is renamed over the file only once every byte is on disk. An
// interrupted or failed write leaves the old file as it was, or no file when there was
// none; the temporary is removed on every failure path.

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <string_view>

namespace ostrel {

// The process's file-creation mask, read without changing it.
mode_t CurrentUmask();

// The file a write to `file` goes to: symbolic links are followed, so that a link stays
// a link and its target receives the new content. Raises RunTimeError on a loop.
std::filesystem::path WriteTarget(const std::filesystem::path& file);

class AtomicFile {
 public:
  // Creates the temporary sibling of `target`. Raises RunTimeError (the file-system
  // description) when the folder does not take it.
  explicit AtomicFile(std::filesystem::path target);
  // Without Commit, the temporary is removed and the target left alone.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Appends `bytes`. Raises RunTimeError when they cannot be written (a full disk).
  void Write(std::string_view bytes);

  // Gives the new file `mode` (and the owner of `owner`, where allowed), flushes it to
  // disk and renames it over the target. Raises RunTimeError on failure, the target
  // then untouched.
  void Commit(mode_t mode, const struct stat* owner = nullptr);

  // The temporary's path (for tests).
  const std::filesystem::path& TemporaryPath() const { return temp_; }

 private:
  void Discard() noexcept;

  std::filesystem::path target_;
  std::filesystem::path temp_;
  int fd_ = -1;
};

}  // namespace ostrel
