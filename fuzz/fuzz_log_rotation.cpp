// Log rotation on an arbitrary set of existing generations.
//
// Input: tokens separated by blanks or line breaks, each a letter and a number:
//   M<n>  LogMaxSize (clamped to 16 bits; below 1 means the default)      default 1
//   G<n>  LogGenerations (likewise)                                         default 3
//   L<d>  the live log, a regular file of (limit + d) bytes, d in -64..64
//   K<d>  the live log as a link to a file of that size in another folder
//   D     a folder in the live log's place
//   <n>   generation n (0..999) as a regular file with its own content
//   s<n>  generation n as a link to a file in another folder
//   d<n>  a folder holding a file, x<n> a dangling link, p<n> a FIFO, in generation n's place
// Beside them the log folder always holds names that only look like generations.
//
// Properties:
// - the limits come back as used (below 1: 3 MiB, 10 generations);
// - a live log at or under the limit, or missing, or not a file: nothing changes;
// - with one generation the live log is removed and nothing else changes;
// - otherwise, when no non-file stands where a file has to move, the call succeeds and
//   afterwards: <log>.1 is the old live log, each old generation i below the oldest is
//   now i + 1, the oldest (generations - 1) is gone, and nothing else changed; at most
//   `generations` files carry the log's names;
// - when a non-file stands in the way, the call raises RunTimeError, and still no
//   content is lost or doubled (other than the oldest generation), no non-file moved;
// - names outside the live log and its generations, and the files that links point to,
//   are never touched, whatever happens.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/run_time_error.h"
#include "fuzz_support.h"
#include "logging/operation_log.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kMiB = 1024 * 1024;
constexpr const char* kLiveName = "Kiv_UdpSndLog.txt";
constexpr int kMaxIndex = 999;
constexpr std::size_t kMaxEntries = 64;
const char* const kLookalikes[] = {
    "Kiv_UdpSndLog.txt.01", "Kiv_UdpSndLog.txt.1.bak", "Kiv_UdpSndLog.txt1",
    "Kiv_UdpSndLog.txt.-1", "Kiv_UdpSndLog.txt.+1",    "Other.txt",
};

// What stands under one name, as far as rotation may change it.
struct Entry {
  char kind = '?';     // f file, l link to a file, d folder, x dangling link, y other link, p FIFO
  std::string target;  // of a link
  std::string head;    // first bytes of a file (through a link), or a folder's names
  int64_t size = 0;
  // What rotation takes for a file: a regular file under its own name; a link, even to a
  // file, is never followed, so it stands in the way as any other non-file.
  bool IsFile() const { return kind == 'f'; }
  bool operator==(const Entry&) const = default;
};
using Snapshot = std::map<std::string, Entry>;

Entry Look(const fs::path& path) {
  Entry entry;
  struct stat own {};
  if (lstat(path.c_str(), &own) != 0) return entry;
  struct stat seen {};
  const bool resolves = stat(path.c_str(), &seen) == 0;
  if (S_ISLNK(own.st_mode)) {
    entry.target = fs::read_symlink(path).string();
    entry.kind = !resolves ? 'x' : S_ISREG(seen.st_mode) ? 'l' : 'y';
  } else if (S_ISREG(own.st_mode)) {
    entry.kind = 'f';
  } else if (S_ISDIR(own.st_mode)) {
    entry.kind = 'd';
    for (const auto& inner : fs::directory_iterator(path)) {
      entry.head += inner.path().filename().string() + "/";
    }
  } else if (S_ISFIFO(own.st_mode)) {
    entry.kind = 'p';
  }
  if (entry.IsFile()) {
    entry.head = fuzz::ReadBytes(path, nullptr, 64);
    entry.size = seen.st_size;
  }
  return entry;
}

Snapshot Take(const fs::path& folder) {
  Snapshot snapshot;
  for (const auto& item : fs::directory_iterator(folder)) {
    snapshot[item.path().filename().string()] = Look(item.path());
  }
  return snapshot;
}

std::string GenerationName(int n) { return std::string(kLiveName) + "." + std::to_string(n); }

// The generation number of `name` when it is "<log>.<n>" with n written plainly, else 0.
int GenerationOf(const std::string& name) {
  const std::string prefix = std::string(kLiveName) + ".";
  if (!name.starts_with(prefix)) return 0;
  const std::string digits = name.substr(prefix.size());
  if (digits.empty() || digits.size() > 6 || digits[0] == '0' ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  return std::stoi(digits);
}

int16_t Clamp16(long value) {
  return static_cast<int16_t>(std::clamp<long>(value, std::numeric_limits<int16_t>::min(),
                                               std::numeric_limits<int16_t>::max()));
}

class Scene {
 public:
  explicit Scene(const fs::path& root) : log_(root / "log"), outside_(root / "outside") {
    fs::create_directories(log_);
    fs::create_directories(outside_);
  }
  ~Scene() {
    fuzz::EmptyFolder(log_);
    fuzz::EmptyFolder(outside_);
  }

  const fs::path& log() const { return log_; }
  const fs::path& outside() const { return outside_; }

  void File(const std::string& name, const std::string& content, int64_t size = -1) {
    fuzz::WriteBytes(log_ / name, content);
    if (size >= 0) FUZZ_CHECK(truncate((log_ / name).c_str(), size) == 0);
  }
  void LinkedFile(const std::string& name, const std::string& content, int64_t size = -1) {
    const fs::path target = outside_ / ("to-" + name);
    fuzz::WriteBytes(target, content);
    if (size >= 0) FUZZ_CHECK(truncate(target.c_str(), size) == 0);
    FUZZ_CHECK(symlink(target.c_str(), (log_ / name).c_str()) == 0);
  }
  void Folder(const std::string& name) {
    fs::create_directory(log_ / name);
    fuzz::WriteBytes(log_ / name / "inside", "inside");
  }
  void DanglingLink(const std::string& name) {
    FUZZ_CHECK(symlink((outside_ / "nothing").c_str(), (log_ / name).c_str()) == 0);
  }
  void Fifo(const std::string& name) { FUZZ_CHECK(mkfifo((log_ / name).c_str(), 0644) == 0); }

 private:
  fs::path log_;
  fs::path outside_;
};

struct Plan {
  int16_t max_size = 1;
  int16_t generations = 3;
  char live_kind = 0;  // 0 none, 'L', 'K', 'D'
  int64_t live_delta = 0;
  std::map<int, char> generation_kinds;  // index -> '#' file, or s d x p
};

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

Plan ParsePlan(std::string_view text) {
  Plan plan;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsSeparator(text[i])) ++i;
    const std::size_t start = i;
    while (i < text.size() && !IsSeparator(text[i])) ++i;
    const std::string token(text.substr(start, i - start));
    if (token.empty()) continue;
    const char kind = (token[0] >= '0' && token[0] <= '9') ? '#' : token[0];
    const std::string number = kind == '#' ? token : token.substr(1);
    char* end = nullptr;
    const long value = std::strtol(number.c_str(), &end, 10);
    const bool has_number = !number.empty() && *end == '\0';
    if (kind == 'D') {
      plan.live_kind = 'D';
    } else if (!has_number) {
      continue;
    } else if (kind == 'M') {
      plan.max_size = Clamp16(value);
    } else if (kind == 'G') {
      plan.generations = Clamp16(value);
    } else if (kind == 'L' || kind == 'K') {
      plan.live_kind = kind;
      plan.live_delta = std::clamp<long>(value, -64, 64);
    } else if (std::string_view("#sdxp").find(kind) != std::string_view::npos && value >= 0 &&
               value <= kMaxIndex && plan.generation_kinds.size() < kMaxEntries) {
      plan.generation_kinds.emplace(static_cast<int>(value), kind);
    }
  }
  return plan;
}

void Build(Scene& scene, const Plan& plan, int64_t limit) {
  for (const char* name : kLookalikes) scene.File(name, std::string("look-alike ") + name);
  const int64_t live_size = limit + plan.live_delta;
  if (plan.live_kind == 'L') scene.File(kLiveName, "live log", live_size);
  if (plan.live_kind == 'K') scene.LinkedFile(kLiveName, "linked live log", live_size);
  if (plan.live_kind == 'D') scene.Folder(kLiveName);
  for (const auto& [index, kind] : plan.generation_kinds) {
    const std::string name = GenerationName(index);
    const std::string content = "generation " + std::to_string(index);
    switch (kind) {
      case '#':
        scene.File(name, content);
        break;
      case 's':
        scene.LinkedFile(name, "linked " + content);
        break;
      case 'd':
        scene.Folder(name);
        break;
      case 'x':
        scene.DanglingLink(name);
        break;
      case 'p':
        scene.Fifo(name);
        break;
    }
  }
}

// The files among the live log and generations 1..generations-1.
std::multiset<std::string> RotatedFiles(const Snapshot& snapshot, int generations) {
  std::multiset<std::string> heads;
  for (const auto& [name, entry] : snapshot) {
    const int n = GenerationOf(name);
    if (entry.IsFile() && (name == kLiveName || (n >= 1 && n < generations))) {
      heads.insert(entry.head + "|" + std::to_string(entry.size));
    }
  }
  return heads;
}

bool IsRotatedName(const std::string& name, int generations) {
  const int n = GenerationOf(name);
  return name == kLiveName || (n >= 1 && n < generations);
}

}  // namespace
}  // namespace ostrel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ostrel;
  const Plan plan = ParsePlan(fuzz::AsText(data, size));
  const int16_t max_size = plan.max_size < 1 ? 3 : plan.max_size;
  const int16_t generations = plan.generations < 1 ? 10 : plan.generations;
  const int64_t limit = max_size * kMiB;

  Scene scene(fuzz::PrivateFolder());
  Build(scene, plan, limit);
  const Snapshot before = Take(scene.log());
  const Snapshot outside_before = Take(scene.outside());
  const std::string live = (scene.log() / kLiveName).string();

  int16_t used_size = plan.max_size;
  int16_t used_generations = plan.generations;
  bool raised = false;
  try {
    RotateLog(live, used_size, used_generations);
  } catch (const RunTimeError&) {
    raised = true;
  } catch (...) {
    fuzz::Fail("RotateLog raised something other than RunTimeError", __FILE__, __LINE__);
  }
  Snapshot after = Take(scene.log());
  // The lock file the rotations of several processes take turns through: made by the
  // first rotation beside the log, and no generation.
  after.erase(std::string(".") + kLiveName + ".lock");
  FUZZ_CHECK(used_size == max_size);
  FUZZ_CHECK(used_generations == generations);
  FUZZ_CHECK(Take(scene.outside()) == outside_before);

  const auto at = [&](int n) {
    const auto found = before.find(n == 0 ? std::string(kLiveName) : GenerationName(n));
    return found == before.end() ? Entry{} : found->second;
  };
  const Entry old_live = at(0);
  const bool due = old_live.IsFile() && old_live.size > limit;

  Snapshot expected = before;
  bool blocked = false;
  if (due && generations == 1) {
    expected.erase(kLiveName);
  } else if (due) {
    // Files move up one place, newest last; a non-file in the way stops the rotation.
    const Entry oldest = at(generations - 1);
    if (oldest.IsFile()) expected.erase(GenerationName(generations - 1));
    std::vector<int> files;
    for (const auto& [index, kind] : plan.generation_kinds) {
      if (index >= 1 && index < generations - 1 && at(index).IsFile()) files.push_back(index);
    }
    std::sort(files.rbegin(), files.rend());
    for (int index : files) {
      const Entry next = at(index + 1);
      blocked = blocked || (next.kind != '?' && !next.IsFile());
      expected[GenerationName(index + 1)] = at(index);
      expected.erase(GenerationName(index));
    }
    const Entry first = at(1);
    blocked = blocked || (first.kind != '?' && !first.IsFile());
    expected[GenerationName(1)] = old_live;
    expected.erase(kLiveName);
  }

  FUZZ_CHECK(raised == blocked);
  if (!blocked) {
    FUZZ_CHECK(after == expected);
    FUZZ_CHECK(RotatedFiles(after, generations).size() <= static_cast<size_t>(generations));
    return 0;
  }

  // Blocked: every name that is not the log's keeps what it had, every non-file stays
  // where it was, and the files hold the old contents, each once, but for the oldest.
  for (const auto& [name, entry] : before) {
    if (!IsRotatedName(name, generations) || !entry.IsFile()) {
      FUZZ_CHECK(after.count(name) == 1 && after.at(name) == entry);
    }
  }
  for (const auto& [name, entry] : after) {
    if (!IsRotatedName(name, generations)) FUZZ_CHECK(before.count(name) == 1);
  }
  std::multiset<std::string> kept = RotatedFiles(before, generations);
  const std::multiset<std::string> now = RotatedFiles(after, generations);
  const Entry oldest = at(generations - 1);
  if (oldest.IsFile() && now.size() < kept.size()) {
    kept.erase(kept.find(oldest.head + "|" + std::to_string(oldest.size)));
  }
  FUZZ_CHECK(now == kept);
  return 0;
}
