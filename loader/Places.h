// The places an installation makes and an uninstallation removes: the
// install folder under Program Files, and the Start-menu group with its
// shortcuts. Both sequences and the failure handler use these.
#pragma once

#include "package/Package.h"
#include "package/String.h"

class PackageReader;

// A shell folder, or empty when the shell gives none or one that is no full
// path below a drive's root.
WString ShellFolder(int csidl);
// The Start menu's Programs where the package's shortcuts go: the all-users
// one when it asks for it.
WString ProgramsOf(const PackageReader& package);

// Program Files, then CompanyFolder when it is set, then InstallFolder.
WString InstallFolderPath(const WString& programFiles, const PackageReader& package);
// StartMenuFolder under the Start menu's Programs.
WString ShortcutGroup(const WString& programs, const PackageReader& package);
// The name of the uninstaller file and of its shortcut (UninstallLinkName,
// package/Package.h), decoded.
WString UninstallName(const PackageReader& package);

// Reads an uninstaller's payload, its installed-file list, whole and
// decoded: UTF-8 when its record says so, else (an uninstaller written
// before the record) in the code page of its texts. False when it is not
// sound.
bool ReadInstalledFileList(PackageReader& uninstaller, WString& list);

// The path of a name from an installed-file list. A list of names relative
// to the install folder (root, with its "\\"): a name that would leave it
// or reach a file through a link gives no path, and is passed by as a
// missing file. Other lists hold the paths as installed.
WString ListedPath(const WString& root, const WString& name, bool relative);

// Removes each folder between root (with its "\\") and the file path that
// is left empty, deepest first. A folder holding anything else stays, and
// with it the folders above it.
void RemoveEmptyFolders(const WString& root, const WString& path) noexcept;

// Whether list, entries each ending in a CR, holds name, in any case.
bool ListHolds(const WString& list, const WString& name);

// The path of each link the package makes in group, each ending in a CR:
// one per complete ShortcutList record, and the uninstaller's when the
// header asks for one.
WString LinksOf(const PackageReader& package, const WString& group);

// Deletes the package's links in group but those that kept lists (the
// links of a package installed in its place), then the group if it is
// empty. A failure is not reported: what stays is found by whoever looks.
void RemoveShortcuts(const PackageReader& package, const WString& group, const WString& kept = WString()) noexcept;

// Waits 200 ms and removes folder if it is empty; with a company folder,
// 200 ms later also the folder above it if that is empty.
void RemoveInstallFolders(const WString& folder, bool companyFolder) noexcept;
