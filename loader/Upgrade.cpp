#include "loader/Upgrade.h"

#include <windows.h>

#include "loader/Places.h"
#include "package/PathRules.h"
#include "package/TextLists.h"
#include "services/Log.h"
#include "services/Services.h"
#include "services/Text.h"

EarlierInstallation::EarlierInstallation(const PackageReader& package, const WString& folder)
    : root_(WithBackslash(folder)),
      // Its own name, never a link at it; others may read it meanwhile.
      file_(CreateFileW(WFormat("%s%s.exe", {root_, UninstallName(package)}).c_str(), GENERIC_READ,
                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)),
      source_(file_.Get()), reader_(source_)
{
    if (!file_.Valid() || PlainFileError(file_.Get()) != 0)
        return;
    // What an earlier installation left is read whole here, and let go.
    reader_.DecodeWith(DecodeText);
    if (reader_.ReadMarker() != StepOutcome::Passed || reader_.ReadHeader() != StepOutcome::Passed ||
        !reader_.Header().UninstallMode() || reader_.ReadShortcutList() != StepOutcome::Passed ||
        !ReadInstalledFileList(reader_, list_)) {
        Log("No sound uninstaller of an earlier installation in ", folder);
        return;
    }
    found_ = true;
    Log("Earlier installation: ", reader_.Text(HeaderText::ProductName));
    // All of it is read: the new uninstaller takes its name.
    file_.Reset();
}

void EarlierInstallation::RemoveFilesNotIn(WString& fileList, bool relative)
{
    const bool listedRelative = reader_.Record().Asks(kAskSubFolders);
    WString rest = list_;
    WString name;
    while (TakeListEntry(rest, name)) {
        // A path of an old list of paths counts only as a plain name right
        // in the install folder, where that installation put its files.
        WString path = ListedPath(root_, name, listedRelative);
        if (!listedRelative && (lstrcmpiW(FolderOf(path).c_str(), FolderOf(root_).c_str()) != 0 ||
                                CheckPlainName(LastComponent(path)) != NameRule::Allowed))
            path = WString();
        if (path.empty() || !IsExistingFile(path))
            continue;
        const WString entry = relative ? path.substr(root_.size()) : path;
        if (ListHolds(fileList, entry))
            continue;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_ARCHIVE);
        if (DeleteFileW(path.c_str())) {
            Log("Deleted ", path);
            if (listedRelative)
                RemoveEmptyFolders(root_, path);
        } else {
            // In use, say: the new uninstaller removes it.
            Log("Left for the uninstaller: ", path);
            fileList += entry;
            fileList += L'\r';
        }
    }
}

void EarlierInstallation::RemoveShortcutsNotIn(const PackageReader& package, const WString& group)
{
    if (!reader_.ShortcutList().empty())
        RemoveShortcuts(reader_, ShortcutGroup(ProgramsOf(reader_), reader_),
                        package.ShortcutList().empty() ? WString() : LinksOf(package, group));
}
