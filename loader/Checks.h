// Command-line switches and the damaged-copy text. Portable: no Win32.
#pragma once
#include <string>
#include <vector>

// Arguments 1..last, each upper-cased (ASCII only) and compared whole.
bool HasSwitch(const std::vector<std::string>& args, const std::string& name);
// Argument 1 is exactly "/SECSUN": this process is an uninstaller's
// relaunched copy. Case matters and no other position counts.
bool IsRelaunched(const std::vector<std::string>& args);
// "This copy of %s is corrupted!..." naming the mode caption when it is set,
// else the own file's name (after the last "\" or ":") in capitals.
std::string DamagedCopyText(const std::string& modeCaption, const std::string& ownPath);
