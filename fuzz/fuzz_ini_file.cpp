// The settings file writer and reader on arbitrary files, names and values.
//
// Input: section LF key LF value [LF file bytes]. Without the third LF there is no file;
// with it, the file holds the rest of the input (possibly nothing). Names and values are
// passed as they are, so they may hold CR, NUL, invalid UTF-8 or anything else.
//
// Properties, from the contract in settings/ini_file.h:
// - reading never raises, and gives a value without surrounding blanks within 255 bytes;
// - a name or value that could not be read back as written (a line break or NUL, an empty
//   key, a key opening with '[' or holding '=', a section holding ']') is refused with
//   the invalid-argument error, and the file stays as it was, byte for byte;
// - any other write succeeds, and reading the key then returns the value as the reading
//   rules make it: blanks trimmed, one pair of quotes dropped, at most 255 bytes of code
//   page 932 without a cut character;
// - the file differs from the old one in exactly one way: the key's line replaced (its
//   line ending kept), one key line added, or a section line and a key line added at the
//   end of the file. All other lines keep their bytes; the old last line may only gain
//   the line ending it lacked when something is added after it. A BOM stays;
// - writing the same key and value once more changes nothing;
// - no temporary file is left beside the settings file.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/cp932.h"
#include "common/run_time_error.h"
#include "fuzz_support.h"
#include "settings/ini_file.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::size_t kMaxValueBytes = 255;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Unquote(std::string_view s) {
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) {
    return s.substr(1, s.size() - 2);
  }
  return s;
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Names and values the writer must refuse.
bool Unwritable(std::string_view section, std::string_view key, std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  return HasLineBreakOrNul(section) || HasLineBreakOrNul(key) || HasLineBreakOrNul(value) ||
         key.empty() || key.front() == '[' || key.find('=') != std::string_view::npos ||
         section.find(']') != std::string_view::npos;
}

// What reading gives for a stored value.
std::string ExpectedReading(std::string_view value) {
  const std::string ansi = Utf8ToCp932(value);
  std::string_view v = Unquote(Trim(ansi));
  v = Trim(v.substr(0, Cp932PrefixLength(v, kMaxValueBytes)));
  return Cp932ToUtf8(v);
}

// Names compare without regard to ASCII letter case; `wanted` is well-formed code page
// 932, and the bytes of its double-byte characters must match exactly.
bool SameName(std::string_view found, std::string_view wanted) {
  if (found.size() != wanted.size()) return false;
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (IsCp932LeadByte(static_cast<unsigned char>(wanted[i])) && i + 1 < wanted.size()) {
      if (found[i] != wanted[i] || found[i + 1] != wanted[i + 1]) return false;
      ++i;
    } else if (lower(found[i]) != lower(wanted[i])) {
      return false;
    }
  }
  return true;
}

// A line with its ending: "\r\n", "\n", or, for the last line only, "\r" or nothing.
struct Line {
  std::string_view content;
  std::string_view ending;
  std::string_view whole;
};

std::vector<Line> Lines(std::string_view bytes) {
  std::vector<Line> lines;
  while (!bytes.empty()) {
    const std::size_t lf = bytes.find('\n');
    const std::size_t length = lf == std::string_view::npos ? bytes.size() : lf + 1;
    const std::string_view whole = bytes.substr(0, length);
    std::size_t ending = 0;
    if (whole.ends_with("\r\n")) {
      ending = 2;
    } else if (whole.ends_with('\n') || whole.ends_with('\r')) {
      ending = 1;
    }
    lines.push_back({whole.substr(0, length - ending), whole.substr(length - ending), whole});
    bytes.remove_prefix(length);
  }
  return lines;
}

bool IsKeyLine(const Line& line, std::string_view key) {
  const std::size_t eq = line.content.find('=');
  return eq != std::string_view::npos && SameName(Trim(line.content.substr(0, eq)), key);
}

bool IsSectionLine(const Line& line, std::string_view section) {
  const std::string_view text = Trim(line.content);
  return text.size() >= 2 && text.front() == '[' && text.back() == ']' &&
         SameName(Trim(text.substr(1, text.size() - 2)), section);
}

bool IsAddedLineEnding(std::string_view ending) { return ending == "\r\n" || ending == "\n"; }

// True when `after` is `before` with only the key's line replaced or added, as the writer's
// contract allows (names in code page 932).
bool OnlyKeyChanged(std::string_view before, std::string_view after, std::string_view section,
                    std::string_view key) {
  const bool bom = before.starts_with(kBom);
  if (bom != after.starts_with(kBom)) return false;
  if (bom) {
    before.remove_prefix(kBom.size());
    after.remove_prefix(kBom.size());
  }
  const std::vector<Line> old_lines = Lines(before);
  const std::vector<Line> new_lines = Lines(after);

  // The lines that differ: what lies between the longest common head and tail.
  std::size_t head = 0;
  while (head < old_lines.size() && head < new_lines.size() &&
         old_lines[head].whole == new_lines[head].whole) {
    ++head;
  }
  std::size_t tail = 0;
  while (tail < old_lines.size() - head && tail < new_lines.size() - head &&
         old_lines[old_lines.size() - 1 - tail].whole ==
             new_lines[new_lines.size() - 1 - tail].whole) {
    ++tail;
  }
  std::vector<Line> removed(old_lines.begin() + head, old_lines.end() - tail);
  std::vector<Line> added(new_lines.begin() + head, new_lines.end() - tail);

  // The old last line, when it had no LF, may gain one before the added lines.
  if (!removed.empty() && tail == 0 && head + removed.size() == old_lines.size() &&
      !removed.front().whole.ends_with('\n') && !added.empty() && added.size() > 1 &&
      added.front().whole.starts_with(removed.front().whole)) {
    const std::string_view gained = added.front().whole.substr(removed.front().whole.size());
    const bool ended_in_cr = removed.front().whole.ends_with('\r');
    if (ended_in_cr ? gained != "\n" : !IsAddedLineEnding(gained)) return false;
    removed.erase(removed.begin());
    added.erase(added.begin());
    ++head;
  }

  if (removed.empty() && added.empty()) return true;  // the same line written again
  if (removed.size() == 1 && added.size() == 1) {
    return IsKeyLine(removed[0], key) && IsKeyLine(added[0], key) &&
           removed[0].ending == added[0].ending;
  }
  if (!removed.empty()) return false;
  if (added.size() == 1) {
    return IsKeyLine(added[0], key) && IsAddedLineEnding(added[0].ending) && head > 0;
  }
  return added.size() == 2 && tail == 0 && IsSectionLine(added[0], section) &&
         IsKeyLine(added[1], key) && IsAddedLineEnding(added[0].ending) &&
         added[1].ending == added[0].ending;
}

bool OnlyFileIn(const fs::path& folder, const fs::path& file) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path() != file) return false;
  }
  return true;
}

struct Input {
  std::string_view section;
  std::string_view key;
  std::string_view value;
  std::optional<std::string_view> file;
};

std::optional<Input> Parse(std::string_view text) {
  std::string_view fields[3];
  for (int i = 0; i < 3; ++i) {
    const std::size_t lf = text.find('\n');
    if (lf == std::string_view::npos) {
      if (i < 2) return std::nullopt;
      return Input{fields[0], fields[1], text, std::nullopt};
    }
    fields[i] = text.substr(0, lf);
    text.remove_prefix(lf + 1);
  }
  return Input{fields[0], fields[1], fields[2], text};
}

}  // namespace
}  // namespace ostrel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ostrel;
  const std::optional<Input> input = Parse(fuzz::AsText(data, size));
  if (!input) return 0;

  const fs::path folder = fuzz::PrivateFolder();
  const fs::path path = folder / "Setting.ini";
  const std::string file = path.string();
  if (input->file) fuzz::WriteBytes(path, *input->file);

  const std::string found = ReadIni(input->section, input->key, file);
  FUZZ_CHECK(Trim(found).size() == found.size());
  FUZZ_CHECK(Utf8ToCp932(found).size() <= kMaxValueBytes);

  std::string error;
  try {
    WriteIni(input->section, input->key, file, input->value);
  } catch (const RunTimeError& raised) {
    error = raised.Description();
  }

  bool exists = false;
  const std::string after = fuzz::ReadBytes(path, &exists);
  if (Unwritable(input->section, input->key, input->value)) {
    FUZZ_CHECK(error == desc::kInvalidArgument);
    FUZZ_CHECK(exists == input->file.has_value());
    FUZZ_CHECK(!exists || after == *input->file);
  } else {
    FUZZ_CHECK(error.empty());
    FUZZ_CHECK(ReadIni(input->section, input->key, file) == ExpectedReading(input->value));
    FUZZ_CHECK(OnlyKeyChanged(input->file.value_or(""), after, Utf8ToCp932(Trim(input->section)),
                              Utf8ToCp932(Trim(input->key))));
    WriteIni(input->section, input->key, file, input->value);
    FUZZ_CHECK(fuzz::ReadBytes(path) == after);
  }
  FUZZ_CHECK(OnlyFileIn(folder, path));

  fuzz::EmptyFolder(folder);
  return 0;
}
