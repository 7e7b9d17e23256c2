#pragma once
// The settings file: an INI file in code page 932 read and written one key at a time,
// with the semantics of the Windows private-profile functions:
// - sections and keys are found without regard to ASCII letter case; the first
//   matching section and the first matching key in it win;
// - a read returns the value without surrounding blanks (and without one pair of
//   matching quotes around it), at most 255 bytes of its code-page-932 form, never
//   ending inside a double-byte character; a missing file, section or key, a folder in
//   the file's place, a link in a shared (set-group-ID) folder and an empty value all
//   give the empty text;
// - lines that are neither sections nor keys are skipped on reading and kept on writing;
// - a write replaces one key's value in place or adds the key at the end of its section
//   (adding the section, and creating the file, when missing); every other byte of the
//   file stays as it was.

#include <string>
#include <string_view>

namespace ostrel {

// The value of `key` in `section` of `file`, or the empty text. Never raises for a bad
// or missing file. Only the first MiB of the file is read (a settings file holds a few
// hundred bytes), so a huge file costs bounded time; keys beyond it count as missing.
std::string ReadIni(std::string_view section, std::string_view key, const std::string& file);

// Stores `value` under `key` in `section` of `file`. The file is replaced atomically
// (a temporary sibling, then rename), so an interrupted write leaves the old or the new
// file, never a mix. Raises RunTimeError when the file cannot be written (read-only file
// or folder, missing folder, disk full, a link in a shared folder) or when a name or value
// holds a line break; the file (or link) is then unchanged.
void WriteIni(std::string_view section, std::string_view key, const std::string& file,
              std::string_view value);

// Removes the temporaries that writes to `file` left behind when the program was killed
// in the middle of one (".<name>.XXXXXX" beside it): regular files only, and only those
// unchanged for a minute, so a write in progress elsewhere is never disturbed. Failures
// are ignored; the temporaries are harmless.
void RemoveStaleTemporaries(const std::string& file);

// The first `n` bytes of the code-page-932 form of `text`, converted back to text.
// A double-byte character cut by the limit is dropped whole.
std::string GetAnsiLeftString(std::string_view text, int n);

}  // namespace ostrel
