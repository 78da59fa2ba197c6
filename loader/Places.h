// The places an installation makes and an uninstallation removes: the
// install folder under Program Files, and the Start-menu group with its
// shortcuts. Both sequences and the failure handler use these.
#pragma once

#include "package/Package.h"
#include "package/String.h"

class PackageReader;

// Program Files, then CompanyFolder when it is set, then InstallFolder.
WString InstallFolderPath(const WString& programFiles, const PackageReader& package);
// StartMenuFolder under the Start menu's Programs.
WString ShortcutGroup(const WString& programs, const PackageReader& package);
// The name of the uninstaller file and of its shortcut (UninstallLinkName,
// package/Package.h), decoded.
WString UninstallName(const PackageReader& package);

// Deletes the shortcut of each complete ShortcutList record, and the
// uninstaller's when the header asks for one, then the group if it is
// empty. A failure is not reported: what stays is found by whoever looks.
void RemoveShortcuts(const PackageReader& package, const WString& group) noexcept;

// Waits 200 ms and removes folder if it is empty; with a company folder,
// 200 ms later also the folder above it if that is empty.
void RemoveInstallFolders(const WString& folder, bool companyFolder) noexcept;
