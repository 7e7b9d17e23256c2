#include "file_name_text.h"

#include <algorithm>

#include "common/cp932.h"
#include "common/path_text.h"

namespace ostrel {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 character at the front of `s`, or 0.
std::size_t Utf8CharAt(std::string_view s) {
  const auto b = static_cast<unsigned char>(s[0]);
  if (b < 0x80) return 1;
  std::size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    if (b == 0xE0) low = 0xA0;   // no overlong forms
    if (b == 0xED) high = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF)) return 0;
  }
  return n;
}

bool IsUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = Utf8CharAt(s.substr(i));
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string WithReplacements(std::string_view s) {
  std::string text;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = Utf8CharAt(s.substr(i));
    if (n == 0) {
      text += kReplacement;
      ++i;
    } else {
      text += s.substr(i, n);
      i += n;
    }
  }
  return text;
}

// The code page 932 reading of `s`, or "" when `s` is no valid code page 932. Its
// converter writes '?' for what it cannot read, and a '?' of `s` itself stays one ('?' is
// never the second byte of a character), so more of them means bytes that are no text.
std::string Cp932Reading(std::string_view s) {
  std::string text = Cp932ToUtf8(s);
  const auto marks = [](std::string_view t) { return std::count(t.begin(), t.end(), '?'); };
  return marks(text) == marks(s) ? text : std::string();
}

std::string DisplayPart(std::string_view part) {
  if (IsUtf8(part)) return std::string(part);
  std::string reading = Cp932Reading(part);
  return reading.empty() ? WithReplacements(part) : reading;
}

}  // namespace

std::string DisplayPathText(std::string_view path) {
  std::string text;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find(kPathSeparator, start);
    text += DisplayPart(path.substr(start, end - start));
    if (end == std::string_view::npos) return text;
    text += kPathSeparator;
    start = end + 1;
  }
}

std::string NameBehindText::Show(std::string bytes) {
  bytes_ = std::move(bytes);
  shown_ = DisplayPathText(bytes_);
  return shown_;
}

std::string NameBehindText::BytesFor(const std::string& text) const {
  return text == shown_ ? bytes_ : text;
}

}  // namespace ostrel
