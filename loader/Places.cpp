#include "loader/Places.h"

#include <windows.h>
#include <shlobj.h>

#include "package/TextLists.h"
#include "services/Log.h"
#include "services/Services.h"
#include "services/Text.h"

std::string InstallFolderPath(const std::string& programFiles, const PackageHeader& header)
{
    const std::string company = header.CompanyFolder();
    return company.empty() ? Format("%s\\%s", {programFiles, header.InstallFolder()})
                           : Format("%s\\%s\\%s", {programFiles, company, header.InstallFolder()});
}

std::string ShortcutGroup(const std::string& programs, const PackageHeader& header)
{
    return Format("%s\\%s", {programs, header.StartMenuFolder()});
}

namespace {

void DeleteLink(const std::string& path)
{
    if (DeleteFileA(path.c_str()))
        Log("Deleted ", path);
}

} // namespace

void RemoveShortcuts(const PackageHeader& header, const std::string& shortcutList, const std::string& group) noexcept
{
    // A group that cannot be cleaned up is found by the final check.
    std::string list = shortcutList;
    ShortcutRecord record;
    while (!list.empty() && TakeShortcut(list, record))
        DeleteLink(Format("%s\\%s.lnk", {group, record.name}));
    if (header.MakeUninstaller())
        DeleteLink(Format("%s\\%s.lnk", {group, UninstallLinkName(header)}));
    RemoveFolder(group);
    SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHA, group.c_str(), nullptr);
}

void RemoveInstallFolders(const std::string& folder, bool companyFolder) noexcept
{
    // Gives the shell and the files just deleted time to let go.
    Sleep(200);
    RemoveFolder(folder);
    if (companyFolder) {
        Sleep(200);
        RemoveFolder(FolderOf(folder));
    }
}
