// What `cabsetup --help` and each command's --help print. The header
// options and the manifest's keys come from the table of header fields.
#pragma once
#include <string>

#include "package/Package.h"

extern const char kMainHelp[];
extern const char kCabHelp[];
extern const char kInspectHelp[];
std::string PackHelp();

// A field of limit 1 is a switch: its option sets it, --no-uninstaller
// clears MakeUninstaller.
bool IsSwitch(const HeaderField& field);
