#include "loader/Places.h"

#include <windows.h>
#include <shlobj.h>

#include "package/TextLists.h"
#include "services/Log.h"
#include "services/Services.h"
#include "services/Text.h"

String InstallFolderPath(const String& programFiles, const PackageHeader& header)
{
    const String company = HeaderString(header, HeaderText::CompanyFolder);
    const String folder = HeaderString(header, HeaderText::InstallFolder);
    return company.empty() ? Format("%s\\%s", {programFiles, folder})
                           : Format("%s\\%s\\%s", {programFiles, company, folder});
}

String ShortcutGroup(const String& programs, const PackageHeader& header)
{
    return Format("%s\\%s", {programs, HeaderString(header, HeaderText::StartMenuFolder)});
}

namespace {

void DeleteLink(const String& path)
{
    if (DeleteFileA(path.c_str()))
        Log("Deleted ", path);
}

} // namespace

void RemoveShortcuts(const PackageHeader& header, const String& shortcutList, const String& group) noexcept
{
    // A group that cannot be cleaned up is found by the final check.
    String list = shortcutList;
    ShortcutRecord record;
    while (!list.empty() && TakeShortcut(list, record))
        DeleteLink(Format("%s\\%s.lnk", {group, record.name}));
    if (header.MakeUninstaller())
        DeleteLink(Format("%s\\%s.lnk", {group, UninstallLinkName(header)}));
    RemoveFolder(group);
    SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHA, group.c_str(), nullptr);
}

void RemoveInstallFolders(const String& folder, bool companyFolder) noexcept
{
    // Gives the shell and the files just deleted time to let go.
    Sleep(200);
    RemoveFolder(folder);
    if (companyFolder) {
        Sleep(200);
        RemoveFolder(FolderOf(folder));
    }
}
