#pragma once
// The working folders beside the executable (Config, Log, Temp) and the settings file
// of each tool kind. Everything here is set once at start-up and fixed afterwards.

#include <array>
#include <cstdint>
#include <string>

#include "common/tool_kind.h"

namespace ostrel {

// Folder texts, without a trailing separator: "<program folder>/Config" and so on.
extern std::string strConfigFolder;
extern std::string strTempFolder;
extern std::string strLogFolder;
// Settings file path per kind; kinds 6 to 9 have none and stay empty.
extern std::array<std::string, kToolKindCount> strSettingFile;

// Prepares everything for `intKind`: stores the kind, fills the folder and file texts,
// creates Log, starts the log, creates Config and Temp, and deletes the files in Temp.
// False when a folder cannot be created or the log cannot start; writes no line itself.
bool InitEnvironment(int16_t intKind);

// Fills the folder texts and strSettingFile from the program folder. True on success;
// on failure logs "description(SetDefine)" (lost before the log starts) and gives False.
bool SetDefine();

// Creates the folder `path` (one level) when no entry of that name exists, a file or a
// link included. Raises RunTimeError when it cannot.
void MakeFolder(const std::string& path);

// Deletes every file in the folder `path`: regular files and links (a link is removed as
// a link, never followed); subfolders and what they hold are left alone. With `flag`
// other than 1 the folder itself is then removed. Stops at the first failure and gives
// False; True otherwise.
bool ClearFolder(const std::string& path, uint8_t flag);

// The path of the running executable, links resolved; empty when it cannot be read.
std::string ExecutablePath();

// The folder of the running executable (links resolved), without a trailing separator
// except at the root "/". Tests may replace it; an empty override restores the real one.
std::string ProgramFolder();
void SetProgramFolderForTesting(const std::string& folder);

}  // namespace ostrel
