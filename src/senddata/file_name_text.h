#pragma once
// File names are bytes to the file system and text to the operator. A name from a list or
// a drop is kept as the file system's bytes, so the file it names is the one opened, and
// shown as well as its bytes allow; a typed name is used as typed (UTF-8).

#include <string>
#include <string_view>

namespace ostrel {

// `path` for the screen, part by part between the separators: a part that is UTF-8 as it
// stands; else its code page 932 reading when it is valid code page 932, since a name that
// is not UTF-8 is mostly a Japanese name copied from a Windows machine, and its operator
// expects to read it ("\x8E\x8E\x8C\xB1" shows as 試験); else the part with U+FFFD for
// every byte that is no UTF-8.
std::string DisplayPathText(std::string_view path);

// The name behind the file-name box: what a list or a drop put there, as bytes, while the
// box still shows it; the box's own text otherwise.
class NameBehindText {
 public:
  // Keeps `bytes` and gives the text to show for them.
  std::string Show(std::string bytes);
  // The bytes to open for `text`: the shown name's bytes while `text` is exactly the text
  // shown for them, else `text` itself.
  std::string BytesFor(const std::string& text) const;

 private:
  std::string shown_;
  std::string bytes_;
};

}  // namespace ostrel
