#pragma once
// The start-up check of the stored communication settings, read straight from the file.
// It decides only which window opens first: the main window when the settings are
// usable, the settings dialog when not.

#include <string>

namespace ostrel {

// True when the stored address is a valid IPv4 address, both ports and the unit are
// numeric (ports are not range-checked here), and the send period fits its unit.
// Raises RunTimeError when the unit does not fit 16 bits.
bool StoredCommSettingsUsable(const std::string& strIniFile);

}  // namespace ostrel
