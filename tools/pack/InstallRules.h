// What the installer would refuse of a package, in the packaging tool's
// words: the packer refuses to write such a package, inspect names what it
// would refuse. The rules themselves are the stub's (package/PathRules.h);
// here they are applied to decoded text (UTF-8).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "package/Package.h"
#include "package/PathRules.h"
#include "tools/pack/cab/CabReader.h"

// What of a stored name the installer makes a file from: what follows the
// last "\\", "/" or ":", as the stub cuts it. Of decoded text (UTF-8).
std::string LastComponent(const std::string& name);
// A cabinet entry's name as text: UTF-8 when it carries the flag 0x80,
// else in the package's code page.
std::string EntryText(const std::string& stored, uint16_t attribs, int codePage);
// What the stub makes a file of: the stored name with its folders
// (subFolders), or its last component.
std::string InstalledName(const std::string& storedName, bool subFolders);
// Why the stub would refuse an installed name (a device name, dots only, a
// way out of the install folder, ...), or NameRule::Allowed; every
// component counts with sub-folders.
NameRule PlaceRule(const std::string& installed, bool subFolders);
// The form in which two installed names are one file: Windows ignores case
// and each component's trailing dots and spaces.
std::string SameFileForm(const std::string& installed);
// Why the installer would refuse a cabinet's entries, or "": part of a set,
// no file, and by the package's layout: flat, a name without "." (the
// installer extracts *.*), a last component that breaks the name rules, two
// that differ only in case; with sub-folders (subFolders), a name with a
// component that breaks them, two paths that differ only in case.
// names receives the decoded stored names.
std::string CabinetNamesProblem(const CabInfo& info, int codePage, std::vector<std::string>& names,
                                bool subFolders = false);
// The header with its texts decoded and put in the form the name rules
// take (RuleForm), for CheckHeaderNames.
PackageHeader RuleHeader(const PackageHeader& header, int codePage);

// Every path an installation creates, decoded: the files in Program
// Files\CompanyFolder\InstallFolder, the links in the Start-menu group,
// and the uninstaller with its link.
struct InstallPaths {
    std::vector<std::string> files; // as installed: with their folders or the last names
    std::string company, install, startMenu;
    bool allUsers = false; // the links go to the all-users Programs folder
    std::vector<std::string> links; // shortcut names, without ".lnk"
    std::string uninstaller;        // UninstallLinkName when one is written, else ""; its link
                                    // goes with the others
};
// files: the stored names; record: what the package asks for.
InstallPaths InstallPathsOf(const PackageHeader& header, const std::vector<std::string>& files,
                            const std::vector<std::string>& links, int codePage, const PackageRecord& record);
// Why one of them would pass the Windows path limit (counted in UTF-16
// units, as Windows counts), or "". The links are measured in the Programs
// folder of a user with the longest name Windows allows, or in the
// all-users one.
std::string PathTooLong(const InstallPaths& paths, uint16_t machine);
