// The command line and the damaged-copy text. Portable: no Win32.
#pragma once
#include <string>
#include <vector>

// How the run was started, read once at the entry.
struct Invocation {
    std::string OwnPath;
    bool NoConfirmation = false; // "/SP-"
    bool NoLicense = false;      // "/LA-"
    bool Silent = false;         // "/SILENT"
    // "/LOG=path", the path in double quotes when it holds blanks; the first
    // one counts. Set with an empty path too: that log cannot be opened.
    bool Logged = false;
    std::string LogPath;
    // Argument 1 is exactly "/SECSUN": this process is an uninstaller's
    // relaunched copy, and argument 2 names the uninstaller the user
    // started. Case matters and no other position counts.
    bool Relaunched = false;
    std::string StartedUninstaller;
};

// The switches count anywhere from argument 1 on, each upper-cased (ASCII
// only) and compared whole; argument 0 is the program.
Invocation ReadCommandLine(const std::string& ownPath, const std::vector<std::string>& args);

// "This copy of %s is corrupted!..." naming the mode caption when it is set,
// else the own file's name (after the last "\" or ":") in capitals.
std::string DamagedCopyText(const std::string& modeCaption, const std::string& ownPath);
