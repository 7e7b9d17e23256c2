#pragma once
// Reading a small file whole (a test file, a rules file, an answer file), opened without
// blocking: a FIFO or device in its place is refused, never waited on.

#include <cstddef>
#include <string>

namespace ostrel {

enum class SmallFileStatus { kOk, kCannotOpen, kNotRegular, kTooLarge, kCannotRead };

// Reads the regular file `path` (links followed) into `text`. A file of more than `limit`
// bytes is kTooLarge, or with `first_only` gives its first `limit` bytes.
SmallFileStatus ReadSmallFile(const std::string& path, std::size_t limit, std::string& text,
                              bool first_only = false);

// What a refusal says about `status` for a file named `named` ("試験ファイル \"a.json\" "),
// "" for kOk: "…を開けません。", "…は通常のファイルではありません。", ….
std::string SmallFileProblem(SmallFileStatus status, const std::string& named, std::size_t limit);

}  // namespace ostrel
