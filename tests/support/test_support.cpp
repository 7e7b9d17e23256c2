#include "support/test_support.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "common/cp932.h"

namespace ostrel::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Give back write permission that a test may have taken away, then remove.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> LogLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  const std::string text = Cp932ToUtf8(ReadFileBytes(path));
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> LogMessages(const std::filesystem::path& path) {
  std::vector<std::string> messages;
  for (const auto& line : LogLines(path)) {
    // code, date, time, host: four blanks before the message.
    std::size_t pos = 0;
    for (int i = 0; i < 4 && pos != std::string::npos; ++i) {
      pos = line.find(' ', pos);
      if (pos != std::string::npos) ++pos;
    }
    messages.push_back(pos == std::string::npos ? std::string() : line.substr(pos));
  }
  return messages;
}

const std::string kSampleSettings =
    "[IPAddress]\r\n"
    "IPAddress=192.168.0.10\r\n"
    "\r\n"
    "[Port]\r\n"
    "UdpSrcPort=5000\r\n"
    "UdpDestPort=6000\r\n"
    "\r\n"
    "[Maintenance]\r\n"
    "Sendinterval=3000\r\n"
    "SendIntervalUnit=0\r\n"
    "CommonSendRetry=3\r\n"
    "PingRetry=3\r\n"
    "UdpAnsTimerInteval=100\r\n"
    "UdpAnsTimeOut=1000\r\n"
    "LogMaxSize=3\r\n"
    "LogGenerations=10\r\n";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const auto pos = text.find(from);
  if (pos == std::string::npos) throw std::logic_error("no " + from + " in the text");
  return text.replace(pos, from.size(), to);
}

bool RunningAsRoot() { return geteuid() == 0; }

bool RunUnprivileged(const std::filesystem::path& dir, const std::function<bool()>& body) {
  if (!RunningAsRoot()) return body();
  constexpr uid_t kNobody = 65534;
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    std::error_code ec;
    if (chown(dir.c_str(), kNobody, kNobody) != 0) _exit(3);
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (lchown(it->path().c_str(), kNobody, kNobody) != 0) _exit(3);
    }
    // The folders above must let "nobody" through.
    for (auto p = dir.parent_path(); !p.empty() && p != p.root_path(); p = p.parent_path()) {
      struct stat st {};
      if (stat(p.c_str(), &st) == 0 && (st.st_mode & S_IXOTH) == 0) _exit(4);
    }
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(5);
    _exit(body() ? 0 : 1);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  // Give the folder back, so the test can look and clean up.
  std::error_code ec;
  if (chown(dir.c_str(), 0, 0) != 0) return false;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (lchown(it->path().c_str(), 0, 0) != 0) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace ostrel::test
