#pragma once
// New files in folders shared by a group. A folder with the set-group-ID bit hands its
// group to every file made in it; it is the usual way to give a team one folder (the
// installed program folder's Config and Log are root:ostrel 2775). Such a folder also
// means that each member may append to or replace what another member created there, so a
// new file gets the folder's group read and write permissions whatever the creator's umask.
// In any other folder a new file follows the umask alone.

#include <sys/types.h>

#include <string>

namespace ostrel {

// True when the folder holding `path` has the set-group-ID bit (false when it cannot be
// examined). Anything in such a folder may have been put there by another member.
bool InSharedFolder(const std::string& path);

// The group read and write bits that a new file at `path` gets beyond the umask: those of
// its folder when that folder has the set-group-ID bit, else none (also when the folder
// cannot be examined).
mode_t SharedGroupBits(const std::string& path);

// Adds SharedGroupBits(path) to the permissions of the file just created at `path` and open
// as `fd`. A failure leaves the permissions as the umask made them.
void ShareNewFile(int fd, const std::string& path);

}  // namespace ostrel
