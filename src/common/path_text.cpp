#include "path_text.h"

namespace ostrel {

std::string AddBackslash(const std::string& path) {
  if (!path.empty() && path.back() == kPathSeparator) return path;
  return path + kPathSeparator;
}

std::string GetFolderPath(const std::string& path) {
  const auto pos = path.rfind(kPathSeparator);
  if (pos == std::string::npos) return {};
  return path.substr(0, pos);
}

bool IsHiddenName(std::string_view name) { return name.starts_with('.'); }

}  // namespace ostrel
