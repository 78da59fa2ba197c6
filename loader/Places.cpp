#include "loader/Places.h"

#include <windows.h>
#include <shlobj.h>

#include "package/PackageReader.h"
#include "package/TextLists.h"
#include "services/Log.h"
#include "services/Services.h"
#include "services/Text.h"

WString InstallFolderPath(const WString& programFiles, const PackageReader& package)
{
    const WString& company = package.Text(HeaderText::CompanyFolder);
    const WString& folder = package.Text(HeaderText::InstallFolder);
    return company.empty() ? WFormat("%s\\%s", {programFiles, folder})
                           : WFormat("%s\\%s\\%s", {programFiles, company, folder});
}

WString ShortcutGroup(const WString& programs, const PackageReader& package)
{
    return WFormat("%s\\%s", {programs, package.Text(HeaderText::StartMenuFolder)});
}

WString UninstallName(const PackageReader& package)
{
    switch (package.Header().UninstallLinkStyle()) {
    case 1:
        return WFormat("Uninstall %s", {package.Text(HeaderText::ShortName)});
    case 2:
        return WFormat("Uninstall %s", {package.Text(HeaderText::ProductName)});
    default:
        return WidenAscii("Uninstall");
    }
}

namespace {

void DeleteLink(const WString& path)
{
    if (DeleteFileW(path.c_str()))
        Log("Deleted ", path);
}

} // namespace

void RemoveShortcuts(const PackageReader& package, const WString& group) noexcept
{
    // A group that cannot be cleaned up is found by the final check.
    WString list = package.Shortcuts();
    WShortcutRecord record;
    while (!list.empty() && TakeShortcut(list, record))
        DeleteLink(WFormat("%s\\%s.lnk", {group, record.name}));
    if (package.Header().MakeUninstaller())
        DeleteLink(WFormat("%s\\%s.lnk", {group, UninstallName(package)}));
    RemoveFolder(group);
    SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHW, group.c_str(), nullptr);
}

void RemoveInstallFolders(const WString& folder, bool companyFolder) noexcept
{
    // Gives the shell and the files just deleted time to let go.
    Sleep(200);
    RemoveFolder(folder);
    if (companyFolder) {
        Sleep(200);
        RemoveFolder(FolderOf(folder));
    }
}
