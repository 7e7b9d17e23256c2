#pragma once
// Path texts. The program builds paths by appending names to folder texts.

#include <string>
#include <string_view>

namespace ostrel {

// The platform's path separator.
inline constexpr char kPathSeparator = '/';

// `path` unchanged when it already ends with the separator, else with one appended.
// AddBackslash("") is "/".
std::string AddBackslash(const std::string& path);

// The text before the last separator of `path`, scanning from the end; empty for an
// empty path and for a path without separator. "/data/a.bin" gives "/data", "/a.bin"
// gives "" and "a.bin" gives "".
std::string GetFolderPath(const std::string& path);

// A hidden name is a file or folder name (not a path) that begins with a dot.
bool IsHiddenName(std::string_view name);

}  // namespace ostrel
