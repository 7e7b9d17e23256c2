#pragma once
// Replacing a file whole: the new content goes to a hidden temporary sibling
// (".name.XXXXXX"), which is renamed over the file only once every byte is on disk. An
// interrupted or failed write leaves the old file as it was, or no file when there was
// none; the temporary is removed on every failure path.

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace ostrel {

// The process's file-creation mask, read without changing it.
mode_t CurrentUmask();

// The file a write to `file` goes to: symbolic links are followed, so that a link stays
// a link and its target receives the new content. Raises RunTimeError on a loop, and for
// a link in a shared (set-group-ID) folder, which is never followed.
std::filesystem::path WriteTarget(const std::filesystem::path& file);

// The permissions a replacement of `target` gets: those of the file it replaces (`old`),
// or for a new file those the umask leaves, plus the group's read and write in a shared
// folder (shared_folder.h).
mode_t ReplacementMode(const std::filesystem::path& target, const struct stat* old);

// The file a whole-file write of `file` replaces: links followed to the real file, which
// must be a writable regular file when it exists, in a writable folder. Raises
// RunTimeError (a folder, device or FIFO in its place, a read-only file or folder, a
// missing folder) otherwise.
struct ReplaceTarget {
  std::filesystem::path path;
  bool exists = false;
  struct stat st {};
  const struct stat* Old() const { return exists ? &st : nullptr; }
};
ReplaceTarget CheckedReplaceTarget(const std::string& file);

// Gives the checked `target` the content `content` through a temporary sibling and a
// rename, with ReplacementMode and the old file's owner. The file is unchanged when it
// raises (a full disk).
void ReplaceFile(const ReplaceTarget& target, std::string_view content);
// The same for `file`, checked first; CheckReplaceable makes the checks without writing.
void ReplaceFileAtomically(const std::string& file, std::string_view content);
void CheckReplaceable(const std::string& file);

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
