#pragma once
// Helpers shared by the tests: a temporary folder, whole-file reads and writes, and the
// lines of an operation log decoded from code page 932.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace ostrel::test {

// A fresh folder under the system temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

// The lines of a log file in UTF-8, split at CR LF (the CR LF removed). Empty when the
// file is missing.
std::vector<std::string> LogLines(const std::filesystem::path& path);

// The message part of each log line (after code, date, time and host).
std::vector<std::string> LogMessages(const std::filesystem::path& path);

// A complete settings file (CR LF) with all eleven keys: destination 192.168.0.10,
// ports 5000 and 6000, period 3000 ms.
extern const std::string kSampleSettings;

// `text` with the first `from` replaced by `to`; throws std::logic_error when absent.
std::string Replaced(std::string text, const std::string& from, const std::string& to);

// True when the process runs as root (permission tests behave differently then).
bool RunningAsRoot();

// Runs `body` where file permissions apply: as root, in a forked child that first hands
// `dir` (recursively) to the unprivileged user "nobody" and drops to it; otherwise in
// this process. Gives the body's result (false when the child could not run it).
// Use plain return values in `body`, not test assertions.
bool RunUnprivileged(const std::filesystem::path& dir, const std::function<bool()>& body);

}  // namespace ostrel::test
