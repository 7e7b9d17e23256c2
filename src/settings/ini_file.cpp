#include "settings/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>

#include "common/atomic_file.h"
#include "common/cp932.h"
#include "common/run_time_error.h"
#include "common/shared_folder.h"
#include "common/text_scan.h"

// The file is handled as raw code-page-932 bytes. Only the names and values passed in
// and out are converted; every byte of a line we do not touch is copied through as is.

namespace ostrel {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr int kMaxValueBytes = 255;
// A settings file holds a few hundred bytes. Reads look at its first MiB only, so that a
// huge or runaway file costs bounded time and memory on each of the start-up's reads;
// keys beyond that count as missing. Writes still keep every byte of the file.
constexpr std::size_t kMaxReadBytes = std::size_t{1} << 20;

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Names compare without regard to ASCII letter case. The second byte of a double-byte
// character is compared exactly: it may lie in the letter range without being a letter.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (IsCp932LeadByte(static_cast<unsigned char>(a[i]))) {
      if (a[i] != b[i] || (i + 1 < a.size() && a[i + 1] != b[i + 1])) return false;
      ++i;
    } else if (AsciiLower(a[i]) != AsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

// One line of the file: [begin, content_end) is its text, [content_end, end) its ending
// (LF or CR LF; a lone CR at the very end of the file also counts as an ending).
struct Line {
  std::size_t begin;
  std::size_t content_end;
  std::size_t end;
  bool has_lf;
};

std::size_t BomLength(std::string_view bytes) {
  return bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom ? kUtf8Bom.size() : 0;
}

// The line that starts at `pos`, which lies inside `bytes`.
Line LineAt(std::string_view bytes, std::size_t pos) {
  const std::size_t lf = bytes.find('\n', pos);
  const bool has_lf = lf != std::string_view::npos;
  const std::size_t stop = has_lf ? lf : bytes.size();
  const std::size_t content_end = (stop > pos && bytes[stop - 1] == '\r') ? stop - 1 : stop;
  return {pos, content_end, has_lf ? lf + 1 : bytes.size(), has_lf};
}

// The trimmed name of a section line ("  [ name ] anything"), or nothing for other lines.
// The closing bracket is searched character by character: ']' is also a valid second
// byte of a double-byte character.
std::optional<std::string_view> SectionName(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i == text.size() || text[i] != '[') return std::nullopt;
  std::size_t start = ++i;
  while (i < text.size() && text[i] != ']') {
    i += IsCp932LeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
  }
  if (i >= text.size()) return std::nullopt;
  return TrimBlanks(text.substr(start, i - start));
}

struct KeyLine {
  std::string_view key;
  std::string_view value;
};

// '=' cannot be the second byte of a double-byte character, so a byte search is safe.
std::optional<KeyLine> ParseKeyLine(std::string_view text) {
  std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return KeyLine{TrimBlanks(text.substr(0, eq)), TrimBlanks(text.substr(eq + 1))};
}

// Where the wanted section and key are, found in one pass that keeps only these lines,
// so a file of millions of lines costs no memory beyond its own bytes.
struct Location {
  std::optional<Line> section;      // the first matching section line
  std::optional<Line> last_filled;  // its last non-blank line (the section line itself when none)
  std::optional<Line> key;          // the first matching key line in it
  KeyLine key_line{};
};

Location Locate(std::string_view bytes, std::string_view section, std::string_view key) {
  Location loc;
  for (std::size_t pos = BomLength(bytes); pos < bytes.size();) {
    const Line line = LineAt(bytes, pos);
    pos = line.end;
    const std::string_view text = bytes.substr(line.begin, line.content_end - line.begin);
    if (auto name = SectionName(text)) {
      if (loc.section) break;  // the end of the wanted section
      if (SameName(*name, section)) loc.section = loc.last_filled = line;
      continue;
    }
    if (!loc.section) continue;
    if (!TrimBlanks(text).empty()) loc.last_filled = line;
    if (loc.key) continue;
    if (auto parsed = ParseKeyLine(text); parsed && SameName(parsed->key, key)) {
      loc.key = line;
      loc.key_line = *parsed;
    }
  }
  return loc;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Reads a regular file, at most its first `max_bytes`. Returns 0 or the errno of the
// failure; anything that is not a regular file is refused before it is opened (a FIFO or
// device is never opened). Without `follow`, a link is refused as well (ELOOP).
int ReadRegularFile(const std::string& path, std::string& out, bool follow,
                    std::size_t max_bytes = std::string::npos) {
  struct stat st {};
  if ((follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) return errno;
  if (S_ISLNK(st.st_mode)) return ELOOP;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  int fd = open(path.c_str(),
                O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
  if (fd < 0) return errno;
  int error = 0;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) error = errno ? errno : EINVAL;
  out.clear();
  if (error == 0 && st.st_size > 0)
    out.reserve(std::min(static_cast<std::size_t>(st.st_size), max_bytes));
  char buffer[65536];
  while (error == 0 && out.size() < max_bytes) {
    ssize_t n = read(fd, buffer, std::min(sizeof buffer, max_bytes - out.size()));
    if (n > 0) {
      out.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      error = errno;
    }
  }
  close(fd);
  return error;
}

std::string LineBreakStyle(std::string_view bytes) {
  std::size_t lf = bytes.find('\n');
  if (lf != std::string_view::npos && (lf == 0 || bytes[lf - 1] != '\r')) return "\n";
  return "\r\n";
}

// What completes an unterminated last line before new lines are appended.
std::string FinishLastLine(std::string_view bytes, const std::string& eol) {
  if (bytes.size() <= BomLength(bytes) || bytes.back() == '\n') return "";
  if (bytes.back() == '\r' && eol == "\r\n") return "\n";
  return eol;
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// The file's content after storing `value` (all three already in code page 932).
std::string UpdatedContent(std::string_view old, std::string_view section, std::string_view key,
                           std::string_view value) {
  const std::string eol = LineBreakStyle(old);
  const std::string key_line = std::string(key) + "=" + std::string(value);
  Location loc = Locate(old, section, key);
  std::string out;
  if (loc.key) {
    // Keep the file's spelling of the key and the line's own ending.
    const Line& line = *loc.key;
    out.append(old.substr(0, line.begin));
    out.append(loc.key_line.key).append("=").append(value);
    out.append(old.substr(line.content_end));
  } else if (loc.section) {
    const Line& line = *loc.last_filled;
    out.append(old.substr(0, line.end));
    if (!line.has_lf) out.append(FinishLastLine(old, eol));
    out.append(key_line).append(eol);
    out.append(old.substr(line.end));
  } else {
    out.append(old).append(FinishLastLine(old, eol));
    out.append("[").append(section).append("]").append(eol);
    out.append(key_line).append(eol);
  }
  return out;
}

[[noreturn]] void ThrowDescription(const char* description) { throw RunTimeError(description); }

}  // namespace

std::string ReadIni(std::string_view section, std::string_view key, const std::string& file) {
  try {
    std::string bytes;
    // A link in a shared folder is read as no file at all, as a write refuses it.
    if (ReadRegularFile(file, bytes, !InSharedFolder(file), kMaxReadBytes) != 0) return "";
    // A line cut by the bound would give a cut value: it counts as beyond the bound.
    if (bytes.size() == kMaxReadBytes) bytes.resize(bytes.rfind('\n') + 1);
    const std::string ansi_section = Utf8ToCp932(TrimBlanks(section));
    const std::string ansi_key = Utf8ToCp932(TrimBlanks(key));
    Location loc = Locate(bytes, ansi_section, ansi_key);
    if (!loc.key) return "";
    // The value arrives in a buffer of 255 bytes and the terminating NUL.
    const std::string value =
        GetAnsiLeftString(Cp932ToUtf8(Unquote(loc.key_line.value)), kMaxValueBytes);
    return std::string(TrimBlanks(value));
  } catch (...) {
    return "";
  }
}

void WriteIni(std::string_view section, std::string_view key, const std::string& file,
              std::string_view value) {
  section = TrimBlanks(section);
  key = TrimBlanks(key);
  // A name or value that would end its line, or open a section where a key was meant,
  // could not be read back as written.
  if (section.find(']') != std::string_view::npos || HasLineBreakOrNul(section) || key.empty() ||
      key.front() == '[' || key.find('=') != std::string_view::npos || HasLineBreakOrNul(key) ||
      HasLineBreakOrNul(value)) {
    ThrowDescription(desc::kInvalidArgument);
  }

  const ReplaceTarget target = CheckedReplaceTarget(file);
  std::string old;
  if (target.exists) {
    // The checked file itself, never a link put in its place since.
    if (int error = ReadRegularFile(target.path.string(), old, false); error != 0) {
      ThrowFileError(error);
    }
  }
  const std::string content =
      UpdatedContent(old, Utf8ToCp932(section), Utf8ToCp932(key), Utf8ToCp932(value));
  ReplaceFile(target, content);
}

void RemoveStaleTemporaries(const std::string& file) {
  namespace fs = std::filesystem;
  const fs::path target(file);
  const fs::path folder = target.parent_path().empty() ? "." : target.parent_path();
  const std::string prefix = "." + target.filename().string() + ".";
  constexpr std::size_t kSuffixLength = 6;  // mkostemp's XXXXXX
  const auto is_name_char = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
  };
  const auto stale_before = fs::file_time_type::clock::now() - std::chrono::minutes(1);
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() != prefix.size() + kSuffixLength ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        !std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     is_name_char)) {
      continue;
    }
    std::error_code ignored;
    if (!it->is_regular_file(ignored) || it->is_symlink(ignored)) continue;
    const auto changed = fs::last_write_time(it->path(), ignored);
    if (!ignored && changed < stale_before) fs::remove(it->path(), ignored);
  }
}

std::string GetAnsiLeftString(std::string_view text, int n) {
  if (n <= 0) return "";
  const std::string ansi = Utf8ToCp932(text);
  return Cp932ToUtf8(
      std::string_view(ansi).substr(0, Cp932PrefixLength(ansi, static_cast<std::size_t>(n))));
}

}  // namespace ostrel
