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
    if (!file_.Valid())
        return;
    // What an earlier installation left is read whole here, and let go
    // whatever it is: the new uninstaller takes its name.
    reader_.DecodeWith(DecodeText);
    found_ = PlainFileError(file_.Get()) == 0 && reader_.ReadMarker() == StepOutcome::Passed &&
             reader_.ReadHeader() == StepOutcome::Passed && reader_.Header().UninstallMode() &&
             reader_.ReadShortcutList() == StepOutcome::Passed && ReadInstalledFileList(reader_, list_);
    file_.Reset();
    if (found_)
        Log("Earlier installation: ", reader_.Text(HeaderText::ProductName));
    else
        Log("No earlier installation read in ", folder);
}

void EarlierInstallation::RemoveFilesNotIn(WString& fileList, bool relative)
{
    const bool listedRelative = reader_.Record().Asks(kAskSubFolders);
    // Names as Windows keeps them: "a.txt." is the file "a.txt".
    WString kept, rest = fileList, name;
    while (TakeListEntry(rest, name))
        kept += KeptPath(name) + L"\r";
    rest = list_;
    while (TakeListEntry(rest, name)) {
        // A path of an old list of paths counts only as a name right in
        // the install folder, where that installation put its files.
        const WString path = listedRelative || lstrcmpiW(FolderOf(name).c_str(), FolderOf(root_).c_str()) == 0
                                 ? ListedPath(root_, listedRelative ? name : LastComponent(name), true)
                                 : WString();
        if (path.empty() || !IsExistingFile(path))
            continue;
        const WString entry = relative ? path.substr(root_.size()) : path;
        if (ListHolds(kept, KeptPath(entry)))
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
