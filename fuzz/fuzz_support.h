#pragma once
// What the fuzz targets share: a property check that stops the run, a private folder for
// the targets that touch files, and whole-file reads and writes.
//
// A violated property prints what failed and aborts; libFuzzer then keeps the input as a
// crash file. The private folder lives on tmpfs (/dev/shm) when there is one, so that an
// iteration costs no disk I/O, and is removed when the run ends normally (after a crash
// it stays, with the files of the failing input).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace ostrel::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "\nproperty violated at %s:%d: %s\n", file, line, what);
  std::abort();
}

// The folder every file of one run goes into, created on first use.
const std::filesystem::path& PrivateFolder();

// Removes everything inside `folder` (links themselves, never what they point to).
void EmptyFolder(const std::filesystem::path& folder);

// The content of a file, at most `limit` bytes of it, "" when it cannot be opened; `exists`
// (when given) tells a missing file from an empty one.
std::string ReadBytes(const std::filesystem::path& path, bool* exists = nullptr,
                      std::size_t limit = SIZE_MAX);
void WriteBytes(const std::filesystem::path& path, std::string_view bytes);

// The input as text.
inline std::string_view AsText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace ostrel::fuzz

#define FUZZ_CHECK(condition)                                               \
  do {                                                                      \
    if (!(condition)) ::ostrel::fuzz::Fail(#condition, __FILE__, __LINE__); \
  } while (0)
