// An earlier installation of the product in the install folder, found by its
// uninstaller there, which lists what it installed: a package that asks for
// upgrades replaces it, removing what only the earlier one had.
#pragma once
#include "package/PackageReader.h"
#include "package/String.h"
#include "services/Win32.h"

class EarlierInstallation {
public:
    // Reads the uninstaller that package would write into folder, when there
    // is one that is a sound uninstaller; else Found() is false, and the
    // installation is like any other.
    EarlierInstallation(const PackageReader& package, const WString& folder);
    EarlierInstallation(const EarlierInstallation&) = delete;
    EarlierInstallation& operator=(const EarlierInstallation&) = delete;

    bool Found() const { return found_; }
    // Deletes each file the earlier installation listed that fileList, the
    // new one's (relative when relative), does not hold. Only listed files
    // inside the install folder go, never one the user added; one that
    // cannot be deleted now is added to fileList, for the new uninstaller.
    void RemoveFilesNotIn(WString& fileList, bool relative);
    // Deletes the earlier shortcuts that package, installed in its place
    // with its shortcuts in group, does not make.
    void RemoveShortcutsNotIn(const PackageReader& package, const WString& group);

private:
    WString root_; // the install folder, with its "\\"
    UniqueHandle file_;
    FileSource source_;
    PackageReader reader_;
    WString list_; // its installed-file list, decoded
    bool found_ = false;
};
