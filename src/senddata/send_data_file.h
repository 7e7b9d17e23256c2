#pragma once
// The send-data file: raw bytes, no header; its first 2048 bytes are the payload. The
// operator names it in the file-name box and presses "入力"; the main window then runs
//
//   CheckInputFileName(name)   kEmptyName  -> information box kInputFileNameEmptyMessage
//                              kNoSuchFile -> critical box kInputFileMissingMessage
//                              kOk         -> LoadSendDataFile(fgrdSendData, name)
//
// Only regular files are ever opened: folders, FIFOs, devices and sockets are refused
// before an open could block or have side effects.

#include <cstdint>
#include <string>

#include "grid_control.h"

namespace ostrel {

inline constexpr const char* kInputFileNameEmptyMessage = "入力ファイルを指定してください。";
inline constexpr const char* kInputFileMissingMessage = "ファイルがありません。";

// The length in bytes of the regular file `path` (links followed), or -1 when it cannot
// be opened or measured: missing, no permission, a folder, FIFO, device or socket.
// Writes no log line.
int64_t GetFileLength(const std::string& path);

// Refills `grid` from the first 2048 bytes of the file `path`, opened literally (no
// wildcards), by the fill of SetGridFromByteArray. Only those bytes are read, so a file of
// any size loads equally fast. A file that cannot be opened or read, or holds no byte,
// leaves the grid as it was and writes one log line "description(SetDataFromFileToGrid)";
// a failure during the fill leaves the grid partly refilled, with the same line.
// Does not touch the redraw flag.
void SetDataFromFileToGrid(GridControl& grid, const std::string& path) noexcept;

enum class InputFileCheck { kEmptyName, kNoSuchFile, kOk };

// The check of the file-name box before a load. `name` is taken as typed, not trimmed:
//   - the empty text gives kEmptyName (a text of blanks is not empty);
//   - otherwise kOk only when the name finds a regular file (a link to one counts) whose
//     name does not begin with '.' (hidden); folders, FIFOs, devices, sockets, dangling
//     links and missing files give kNoSuchFile.
// The last path component may hold the wildcards '*' (any run of characters) and '?'
// (one character), matched case-sensitively against the names in its folder, like a
// directory-listing pattern; kOk then means some file matches. The folder part is taken
// literally ('*' and '?' there are plain characters). A name ending in '/' names a folder.
// A relative name is looked up from the current folder.
InputFileCheck CheckInputFileName(const std::string& name);

// The load after a passed check: the redraw flag off, SetDataFromFileToGrid, the redraw
// flag on again. The flag being off marks a load in progress for the send cycle; it is on
// again on every path out of here. A wildcard name is opened literally and so normally
// fails with its log line.
void LoadSendDataFile(GridControl& grid, const std::string& name);

}  // namespace ostrel
